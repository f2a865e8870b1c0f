// The server's messages as a player program receives them, and the texts it
// sends. The stream has no framing: lines end in CR LF and the order of the
// conversation says what comes next:
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

#include "qdb/qdb_file.h"

namespace qova {

// Bounds against a broken or hostile server: no line and no message may grow
// without limit in memory. They must still take everything a sound server
// sends. Its longest lines are the questions and responses of its question
// file, which it refuses beyond the files' line bound; its other lines are
// shorter (names up to 1024 bytes, time texts under 4096, settings and
// counts a few characters; the tests hold the server's bounds against these).
constexpr size_t kMaxServerLine = static_cast<size_t>(kMaxLineBound);  // CR LF not counted
constexpr size_t kMaxListedPlayers = 65536;       // players in one results or summary message
constexpr int kMaxResponses = kMaxResponseCount;  // responses per question, as files allow

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

  // Takes one CR LF line from buffer_ into *line; false when none is whole.
  bool takeLine(std::string* line);
  ServerMessage fail(const std::string& what);
  ServerMessage onLine(const std::string& line);

  std::string buffer_;
  size_t scan_ = 0;  // buffer_ before this holds no CR LF
  Expect expect_ = Expect::kSettings;
  std::vector<std::string> lines_;  // lines of the message under way
  int round_ = 1;
  int questionInRound_ = 0;  // questions of the current round received
  bool inMessage_ = false;   // a line of the message under way was taken
  size_t start_ = 0;         // buffer_ before this has been taken

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

// Seconds with two decimals, rounded: 1.234 -> "1.23", 0 -> "0.00".
std::string secondsText(double seconds);

// Whether `text` is a decimal integer as the server writes counts: digits,
// no sign, no leading zero.
bool isCountText(const std::string& text);
// Whether `text` is an average as the server writes it with 4 significant
// digits: fixed form with the point kept ("12.", "0.5"), four digits and no
// point ("1235"), or d.ddde+XXX with three exponent digits ("3.403e+038",
// the largest finite single-precision value, stands for an overflowed sum).
bool isAverageText(const std::string& text);
// The text a server sends for a single-precision average: 4 significant
// digits, NaN as 0 ("0."), an infinity as the largest finite value with its
// sign ("3.403e+038", "-3.403e+038").
std::string averageText(float average);

// The time limit of the settings in seconds when it is a positive number
// (read as atof reads it), else 0: no limit.
double timeLimitSeconds(const GameSettings& settings);

// Leaderboard order: most correct answers overall first, then the lower
// overall average time; equal players keep the server's order.
std::vector<SummaryEntry> leaderboard(const std::vector<SummaryEntry>& summary);

}  // namespace qova
