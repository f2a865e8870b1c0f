// A player program's side of the conversation with the quiz server: the
// server's messages as it receives them, and the texts it sends (P1 name,
// P2 answer). The stream has no framing: lines end in CR LF and the order of
// the conversation says what comes next:
//
//   settings (3 lines), then per question: a question (2 + responses lines),
//   the results (3 lines per player, then an empty line) and, after the last
//   question of each round, the round summary (7 lines per player, then an
//   empty line). The game has no end message: the server just closes.
//
// ServerStream takes the bytes as they arrive, in pieces of any size, and
// yields whole messages, checking every line against the form it must have.
// Streams that receive the same results and summaries (a gateway's many
// seats) can read each of those messages once between them (SharedLists).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "wire/line_buffer.h"
#include "wire/wire.h"

namespace qova {

struct GameSettings {
  std::string timeLimitText;  // as the server's operator entered it
  int questionsPerRound = 0;
  int responseCount = 0;
};

struct Question {
  std::string text;
  std::vector<std::string> responses;
  char correct = 0;  // the character naming the correct response, '1' for the first; 0: none
  int round = 0;     // 1-based, counted by the stream
  int number = 0;    // 1-based within the round
};

struct ResultEntry {
  std::string name;
  std::string timeText;
  bool correct = false;
};

struct SummaryEntry {
  std::string name;
  int roundCorrect = 0;
  std::string roundAverage;  // as sent: 4 significant digits
  int roundAnswers = 0;
  int totalCorrect = 0;
  std::string totalAverage;
  int totalAnswers = 0;
};

enum class ServerMessage { kNone, kSettings, kQuestion, kResults, kSummary, kViolation };

// The entries of one results (kResults) or round summary (kSummary) message,
// taken line by line and checked as each entry completes.
class ListReader {
 public:
  enum class Step { kMore, kDone, kViolation };

  // Starts a message of `kind` (kResults or kSummary).
  void start(ServerMessage kind);
  // The next line, CR LF removed. kDone after the closing empty line;
  // kViolation with violation() (naming the player and the line) when the
  // line breaks the protocol.
  Step line(const std::string& line);

  bool empty() const { return lines_.empty(); }
  const std::string& violation() const { return violation_; }
  std::vector<ResultEntry> results;
  std::vector<SummaryEntry> summary;

 private:
  Step fail(const std::string& what);
  Step summaryEntry();

  ServerMessage kind_ = ServerMessage::kResults;
  std::vector<std::string> lines_;  // lines of the entry under way
  std::string violation_;
};

class SharedLists;
struct ListMessage;

// Incremental reader of the server's side of one conversation.
class ServerStream {
 public:
  // With `shared`, results and summaries are taken whole and read through
  // it, once for every stream that shares it and received the same bytes.
  // What the stream yields is the same either way, violations included,
  // with one difference in timing: a broken summary entry is found when the
  // summary's closing line arrives, not at the entry (a broken verdict, a
  // line too long and too many players are found as they arrive).
  // `shared` must outlive the stream.
  explicit ServerStream(SharedLists* shared = nullptr) : shared_(shared) {}

  // Results and summary messages longer than `bytes` break the protocol
  // (tooLarge() then tells); without it only lines and players are bounded.
  void setMaxListBytes(size_t bytes) { maxListBytes_ = bytes; }
  bool tooLarge() const { return tooLarge_; }

  // Appends received bytes. Call next() until it gives kNone to take out
  // every message they completed.
  void feed(const char* data, size_t size);

  // The next complete message, whose content is then in settings(),
  // question(), results() or summary(); kNone when more bytes are needed.
  // kViolation when the stream broke the protocol: violation() says how,
  // and every later call gives kNone.
  ServerMessage next();

  // What the peer's close means: true when the stream stands between two
  // messages (nothing of a further message received).
  bool atMessageBoundary() const;
  // True when a whole line waits to be taken by next().
  bool hasCompleteLine() const;
  // True when part of a message has been received.
  bool midMessage() const;
  // The message being received, for reports: "settings", "question",
  // "results" or "round summary".
  const char* expectedMessage() const;

  const GameSettings& settings() const { return settings_; }
  const Question& question() const { return question_; }
  const std::vector<ResultEntry>& results() const { return *results_; }
  const std::vector<SummaryEntry>& summary() const { return *summary_; }
  // The same, as held (and, with SharedLists, shared) since it was read.
  const std::shared_ptr<const std::vector<ResultEntry>>& sharedResults() const { return results_; }
  const std::shared_ptr<const std::vector<SummaryEntry>>& sharedSummary() const { return summary_; }
  const std::string& violation() const { return violation_; }
  bool broken() const { return !violation_.empty(); }
  // True when the results just taken end a round, so a summary follows.
  bool summaryExpected() const { return expect_ == Expect::kSummary; }

 private:
  enum class Expect { kSettings, kQuestion, kResults, kSummary };

  enum class Shared { kTaken, kWait, kOwnRead };

  ServerMessage fail(const std::string& what);
  ServerMessage onLine(const std::string& line);
  ServerMessage tooLong();
  // The results or summary at the front of the buffer through shared_:
  // kTaken with *m set, kWait for more bytes, kOwnRead when the stream must
  // read the message line by line itself (it then finds what is wrong).
  Shared takeShared(ServerMessage* m);
  // The number of bytes at the start of `data`, just received, that are
  // equal to sameAs_ and need not be kept; 0 unless the buffer is empty and
  // a results or summary message is due.
  size_t compareOnArrival(const char* data, size_t size);
  // Compares the message under way with sameAs_: true when it is that
  // message whole; *wait when all of it so far is equal.
  bool sameAsLast(ServerMessage kind, bool* wait);
  ServerMessage listKind() const;
  // The length of the results or summary message whole at the front of the
  // buffer, 0 while more bytes are needed, npos when its lines break the
  // protocol. Only the lines' ends are looked at, and the verdicts, so that
  // a bad verdict ends the stream as soon as it arrives.
  size_t frame();
  // The results or summary message just taken: what comes next.
  ServerMessage listDone(ServerMessage kind);

  SharedLists* shared_;
  LineBuffer buffer_{kMaxServerLine};
  Expect expect_ = Expect::kSettings;
  std::vector<std::string> lines_;  // lines of the settings or question under way
  ListReader list_;                 // the results or summary under way
  int round_ = 1;
  int questionInRound_ = 0;  // questions of the current round received
  bool inMessage_ = false;   // a line of the message under way was taken
  bool ownRead_ = false;     // the list message at the front is read line by line
  // The results or summary under way compared with the last one shared_
  // read, sameAs_: same_ bytes of it are equal so far (npos: they differ,
  // and the message is framed, until another stream reads a newer one).
  // Bytes that arrive equal while the buffer is empty are not kept
  // (unbuffered_): sameAs_ holds them.
  std::shared_ptr<const ListMessage> sameAs_;
  size_t same_ = 0;
  bool unbuffered_ = false;
  // frame(): buffer bytes before frameScan_ are whole lines of the message.
  size_t frameScan_ = 0;
  size_t frameLines_ = 0;
  size_t listBytes_ = 0;  // bytes of the list message read line by line so far
  size_t maxListBytes_ = static_cast<size_t>(-1);
  bool tooLarge_ = false;

  GameSettings settings_;
  Question question_;
  std::shared_ptr<const std::vector<ResultEntry>> results_ =
      std::make_shared<std::vector<ResultEntry>>();
  std::shared_ptr<const std::vector<SummaryEntry>> summary_ =
      std::make_shared<std::vector<SummaryEntry>>();
  std::string violation_;
};

// The answer message: the time text, CR LF and the verdict byte ('r' right).
std::string answerMessage(const std::string& timeText, bool correct);
// The name message: the name and CR LF.
std::string nameMessage(const std::string& name);

// Seconds with two decimals, rounded, as a time text for answerMessage:
// 1.234 -> "1.23", 0 -> "0.00".
std::string secondsText(double seconds);

}  // namespace qova
