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
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
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

// Incremental reader of the server's side of one conversation.
class ServerStream {
 public:
  // Results and summary messages longer than `bytes` break the protocol
  // (tooLarge() then tells); without it only lines and players are bounded.
  void setMaxListBytes(size_t bytes) { maxListBytes_ = bytes; }
  size_t maxListBytes() const { return maxListBytes_; }
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
  // The same, as held since it was read: entries taken with takeResults()
  // or takeSummary() are the very objects handed over.
  const std::shared_ptr<const std::vector<ResultEntry>>& sharedResults() const { return results_; }
  const std::shared_ptr<const std::vector<SummaryEntry>>& sharedSummary() const { return summary_; }
  const std::string& violation() const { return violation_; }
  bool broken() const { return !violation_.empty(); }
  // True when the results just taken end a round, so a summary follows.
  bool summaryExpected() const { return expect_ == Expect::kSummary; }

  // For a reader that reads results and summaries elsewhere (the gateway
  // reads each once for all its seats): it looks at pending() while one is
  // due and hands over what it read in place of next() reading it.
  //
  // The message the stream expects next: kSettings, kQuestion, kResults or
  // kSummary (also while part of it has been received).
  ServerMessage due() const;
  // The bytes received and not yet taken, from the start of the message
  // due when next() has taken none of its lines.
  std::string_view pending() const { return {buffer_.data(), buffer_.size()}; }
  // Takes the results (takeSummary: round summary) message due as read and
  // checked elsewhere, with the same forms and bounds next() applies (the
  // caller holds it to setMaxListBytes, see failTooLarge): `entries` are its
  // entries, and its first `received` bytes are the first bytes of pending(),
  // which are dropped (the rest of it was never fed). Gives what next() would
  // have given for it, kResults (kSummary), and counts questions and rounds
  // on as next() does. Gives kNone and changes nothing when the stream is
  // broken, another message is due, next() has taken a line of it, `entries`
  // is null or `received` is more than pending() holds.
  ServerMessage takeResults(std::shared_ptr<const std::vector<ResultEntry>> entries,
                            size_t received);
  ServerMessage takeSummary(std::shared_ptr<const std::vector<SummaryEntry>> entries,
                            size_t received);
  // Breaks the stream as next() does for a results or summary message longer
  // than setMaxListBytes allows, found so by such a reader: kViolation, and
  // tooLarge() then tells. kNone and nothing changes unless a results or
  // summary message is due and the stream is not broken.
  ServerMessage failTooLarge();

 private:
  enum class Expect { kSettings, kQuestion, kResults, kSummary };

  ServerMessage fail(const std::string& what);
  ServerMessage onLine(const std::string& line);
  ServerMessage tooLong();
  // takeResults() and takeSummary(): the `expect` message into `*held`.
  template <typename Entry>
  ServerMessage take(Expect expect, std::shared_ptr<const std::vector<Entry>>* held,
                     std::shared_ptr<const std::vector<Entry>> entries, size_t received);
  // The results or summary message just taken: what comes next.
  ServerMessage listDone(ServerMessage kind);

  LineBuffer buffer_{kMaxServerLine};
  Expect expect_ = Expect::kSettings;
  std::vector<std::string> lines_;  // lines of the settings or question under way
  ListReader list_;                 // the results or summary under way
  int round_ = 1;
  int questionInRound_ = 0;  // questions of the current round received
  bool inMessage_ = false;   // a line of the message under way was taken
  size_t listBytes_ = 0;     // bytes of the list message read line by line so far
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
