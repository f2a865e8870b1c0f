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

// Incremental reader of the server's side of one conversation.
class ServerStream {
 public:
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
  const std::vector<ResultEntry>& results() const { return results_; }
  const std::vector<SummaryEntry>& summary() const { return summary_; }
  const std::string& violation() const { return violation_; }
  bool broken() const { return !violation_.empty(); }
  // True when the results just taken end a round, so a summary follows.
  bool summaryExpected() const { return expect_ == Expect::kSummary; }

 private:
  enum class Expect { kSettings, kQuestion, kResults, kSummary };

  ServerMessage fail(const std::string& what);
  ServerMessage onLine(const std::string& line);

  LineBuffer buffer_{kMaxServerLine};
  Expect expect_ = Expect::kSettings;
  std::vector<std::string> lines_;  // lines of the message under way
  int round_ = 1;
  int questionInRound_ = 0;  // questions of the current round received
  bool inMessage_ = false;   // a line of the message under way was taken

  GameSettings settings_;
  Question question_;
  std::vector<ResultEntry> results_;
  std::vector<SummaryEntry> summary_;
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
