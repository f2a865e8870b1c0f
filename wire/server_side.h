// The quiz server's side of the conversation with one player program: the
// messages it sends (S1 settings, S2 question, S3 results, S4 round
// summary), each block built whole in memory, and the readers of what it
// receives (P1 name, P2 answer), which take the bytes in pieces as they
// arrive and hold each message within its bound (wire/wire.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "qdb/question_record.h"
#include "wire/line_buffer.h"
#include "wire/wire.h"

namespace qova {

// One answer: the time text exactly as sent, and the verdict.
struct Response {
  std::string timeText;
  bool correct = false;
};

// One player's name and rounds of answers, in question order.
struct PlayerRecord {
  std::string name;
  std::vector<std::vector<Response>> rounds;
  // The server's number for the player within the run: 1, 2, 3... in the
  // order names were accepted, never reused (0: none). Written to no file
  // or message of the players; the room feed names players by it.
  int32_t number = 0;
};

// The six figures of one player's S4 block.
struct RoundTotals {
  int32_t roundCorrect = 0;
  float roundAverage = 0;
  int32_t roundAnswers = 0;
  int32_t totalCorrect = 0;
  float totalAverage = 0;
  int32_t totalAnswers = 0;
};

// S4 figures of a player from its rounds: the last round and all rounds,
// times read like atof and summed in single precision, averages
// sum / count in single precision (0 / 0 gives NaN, as the division does; a
// sum beyond the range gives an infinity). roundSummaryBlock writes them
// with averageText.
RoundTotals roundTotals(const PlayerRecord& player);

// Message texts, byte for byte.
std::string settingsMessage(const std::string& timeLimitText, int32_t questionsPerRound,
                            int32_t responseCount);                 // S1
std::string questionMessage(const ServerQuestionRecord& question);  // S2
std::string resultLineBlock(const PlayerRecord& player);            // one player of S3
std::string roundSummaryBlock(const PlayerRecord& player, const RoundTotals& totals);  // of S4
inline const char* blankLine() { return "\r\n"; }  // ends S3 and S4

// P1 as it arrives: the name is the text before the first CR LF; whatever
// follows it in the same piece is discarded.
class NameReader {
 public:
  enum class Status {
    kPending,  // no whole name line yet
    kNamed,    // name() holds it
    kTooLong,  // the name line exceeded kMaxNameBytes
  };
  Status feed(const char* data, size_t size);
  const std::string& name() const { return name_; }

 private:
  LineBuffer text_{kMaxNameBytes};
  std::string name_;
};

// P2 as it arrives: the time line, CR LF, then the verdict byte; the
// answer is complete with the byte after the CR LF, whatever it is.
class AnswerReader {
 public:
  enum class Status {
    kPending,   // not complete yet
    kComplete,  // answer() gives it
    kTooLong,   // more than kMaxAnswerBytes without being complete
  };
  // Empties the reader for the next answer.
  void clear() { received_.clear(); }
  Status feed(const char* data, size_t size);
  // Takes a complete answer out (its time line, CR LF and verdict byte) and
  // keeps what followed it as the start of the next answer; says where
  // that next answer stands. Only when the reader holds a complete answer.
  Status dropAnswer();
  // The complete answer: the time text before the first CR LF, correct when
  // the byte after it is 'r'. Bytes after the verdict are not used.
  Response answer() const;
  // The bytes received for this answer.
  std::string received() const { return std::string(received_.data(), received_.size()); }
  size_t size() const { return received_.size(); }

 private:
  Status status();

  // Never taken from, only searched: the bound is the reader's own.
  LineBuffer received_{kMaxAnswerBytes};
};

}  // namespace qova
