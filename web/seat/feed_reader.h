// The gateway's reader of the quiz server's room feed (docs/protocol.md, "The
// room feed"): bytes in, whole checked messages out. Every line is checked
// against its message, every line and list is bounded before it is held,
// and the first fault ends the reading for good: the shell then closes the
// feed connection and connects afresh. No sockets, no clock.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "wire/room_feed.h"

namespace qova::web {

// Bounds on what the reader holds, beyond the wire's own: a feed line of a
// kind other than those below, and a greeting line.
constexpr size_t kMaxFeedShortLine = 256;
// A JOIN line: a name as the server takes it (kMaxNameBytes) and its number.
size_t maxFeedJoinLine();
// A QUESTION line: the text and every response, each a question file's line.
size_t maxFeedQuestionLine();
// A row of RESULTS: a number, a time text (under kMaxAnswerBytes), a verdict.
size_t maxFeedResultRow();

enum class FeedKind {
  kSettings,
  kJoin,
  kDrop,
  kRemove,
  kStart,
  kQuestion,
  kAnswers,
  kResults,
  kSummary,
  kEnd,
  kHold,     // the hold and the "hold after each round" choice
  kDone,     // a command of this client's was carried out
  kRefused,  // one was refused, with the server's reason
};

struct FeedResultRow {
  int player = 0;
  std::string timeText;
  bool right = false;
};

struct FeedSummaryRow {
  int player = 0;
  int roundRight = 0;
  std::string roundAverage;  // as sent: 4 significant digits
  int roundAnswers = 0;
  int totalRight = 0;
  std::string totalAverage;
  int totalAnswers = 0;
};

// One message; only the fields of its kind are set. Texts are in the
// server's code page (Windows-1252).
struct FeedMessage {
  FeedKind kind = FeedKind::kEnd;
  int player = 0;                       // JOIN, DROP, REMOVE
  std::string name;                     // JOIN
  int count = 0;                        // START: players; RESULTS, SUMMARY: rows
  std::string timeLimitText;            // SETTINGS, QUESTION
  int questionsPerRound = 0;            // SETTINGS, QUESTION
  int responseCount = 0;                // SETTINGS
  int round = 0;                        // QUESTION, SUMMARY
  int number = 0;                       // QUESTION: number in the round
  std::string text;                     // QUESTION
  std::vector<std::string> responses;   // QUESTION
  int received = 0;                     // ANSWERS
  int awaited = 0;                      // ANSWERS
  int correct = 0;                      // RESULTS: 1 for the first response; 0: none
  std::vector<FeedResultRow> results;   // RESULTS
  std::vector<FeedSummaryRow> summary;  // SUMMARY
  bool held = false;                    // HOLD
  bool holdAfterRound = false;          // HOLD
  int tag = 0;                          // DONE, REFUSED: the command's tag
  std::string reason;                   // REFUSED
};

// Whether `m` answers a command (DONE or REFUSED) rather than telling the room.
inline bool isCommandAnswer(const FeedMessage& m) {
  return m.kind == FeedKind::kDone || m.kind == FeedKind::kRefused;
}

// A command's tag: 1 to 9 decimal digits on the wire.
constexpr int kMaxCommandTag = 999999999;

class FeedReader {
 public:
  // Reads `n` more bytes, appending every message they complete to *out.
  // False once the feed has broken its rules (error() says how); after
  // that nothing more is read.
  bool feed(const char* data, size_t n, std::vector<FeedMessage>* out);

  bool broken() const { return !error_.empty(); }
  const std::string& error() const { return error_; }
  // The server's greeting has been read.
  bool greeted() const { return greeted_; }

 private:
  bool line(std::string text, std::vector<FeedMessage>* out);
  bool message(const std::vector<std::string>& fields, std::vector<FeedMessage>* out);
  bool row(const std::vector<std::string>& fields, std::vector<FeedMessage>* out);
  size_t lineBound() const;
  bool fail(std::string why);

  std::string pending_;  // the line under way
  bool greeted_ = false;
  bool settled_ = false;  // SETTINGS read
  bool ended_ = false;    // END read
  int responseCount_ = 0;
  FeedMessage list_;  // RESULTS or SUMMARY whose rows are being read
  size_t rowsLeft_ = 0;
  std::string error_;
};

}  // namespace qova::web
