// Conversations from a quiz server as a player's stream reads them, and what
// it must yield: the cases of the player stream's tests
// (wire/player_side_test.cpp), which the gateway's seat stream, reading
// results and summaries once for many seats, must read alike
// (web/seat/seat_stream_test.cpp).
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "wire/player_side.h"
#include "wire/wire.h"

namespace qova::testing {

// Everything `s` yields for `bytes`, fed in pieces of `piece` bytes, written
// as one token per message: S(time,qpr,rc) Q(round.number:text|resp..|c)
// R(name/time/v ...) M(name/..7 lines..) or !violation.
template <typename Stream>
std::vector<std::string> messagesThrough(Stream& s, const std::string& bytes, size_t piece) {
  std::vector<std::string> out;
  for (size_t at = 0; at < bytes.size(); at += piece) {
    s.feed(bytes.data() + at, std::min(piece, bytes.size() - at));
    for (ServerMessage m; (m = s.next()) != ServerMessage::kNone;) {
      std::string t;
      switch (m) {
        case ServerMessage::kSettings:
          t = "S(" + s.settings().timeLimitText + "," +
              std::to_string(s.settings().questionsPerRound) + "," +
              std::to_string(s.settings().responseCount) + ")";
          break;
        case ServerMessage::kQuestion:
          t = "Q(" + std::to_string(s.question().round) + "." +
              std::to_string(s.question().number) + ":" + s.question().text;
          for (const std::string& r : s.question().responses) t += "|" + r;
          t += "|" + std::string(1, s.question().correct) + ")";
          break;
        case ServerMessage::kResults:
          t = "R(";
          for (const ResultEntry& e : s.results())
            t += e.name + "/" + e.timeText + "/" + (e.correct ? "r" : "w") + " ";
          t += ")";
          break;
        case ServerMessage::kSummary:
          t = "M(";
          for (const SummaryEntry& e : s.summary()) {
            t += e.name + "/" + std::to_string(e.roundCorrect) + "/" + e.roundAverage + "/" +
                 std::to_string(e.roundAnswers) + "/" + std::to_string(e.totalCorrect) + "/" +
                 e.totalAverage + "/" + std::to_string(e.totalAnswers) + " ";
          }
          t += ")";
          break;
        case ServerMessage::kViolation:
          t = "!" + s.violation();
          break;
        case ServerMessage::kNone:
          break;
      }
      out.push_back(t);
    }
  }
  return out;
}

// Settings of 2 questions per round and 4 responses, and a question whose
// texts are made from `text` (the third response empty).
inline const std::string kStreamSettings = "30\r\n2\r\n4\r\n";
inline std::string streamQuestion(const std::string& text, char correct) {
  return text + "\r\n" + text + "a\r\n" + text + "b\r\n\r\n" + text + "d\r\n" + correct + "\r\n";
}

// A sound conversation, fed in each of `pieces`, and the tokens it yields.
struct StreamConversation {
  const char* what;
  std::string bytes;
  std::vector<size_t> pieces;
  std::vector<std::string> expected;
};

inline std::vector<StreamConversation> streamConversations() {
  const std::string two =
      kStreamSettings + streamQuestion("Q1", '2') + "Ann\r\n1.5\r\nr\r\nBo b\r\n\r\nw\r\n\r\n" +
      streamQuestion("Q2", '1') + "Ann\r\n2\r\nw\r\n\r\n" +
      "Ann\r\n1\r\n1.75\r\n2\r\n1\r\n1.75\r\n2\r\n\r\n" + streamQuestion("Q3", '4') +
      "Ann\r\n0.5\r\nr\r\n\r\n" + streamQuestion("Q4", '\0') + "Ann\r\n12\r\nr\r\n\r\n" +
      "Ann\r\n2\r\n6.25\r\n2\r\n3\r\n4.\r\n4\r\n\r\n";
  const std::string one = "0\r\n1\r\n4\r\n" + streamQuestion("A", '1') + "X\r\n1\r\nr\r\n\r\n" +
                          "X\r\n1\r\n1.\r\n1\r\n1\r\n1.\r\n1\r\n\r\n" + streamQuestion("B", '1');
  const std::string noneCorrect = kStreamSettings + "Q\r\na\r\nb\r\nc\r\nd\r\n\r\n";
  const std::string longest(static_cast<size_t>(kMaxLineBound), 'q');
  const std::string longLines =
      "30\r\n2147483647\r\n1\r\n" + longest + "\r\n" + longest + "\r\n1\r\n";
  return {
      {"two rounds of two questions: the summary follows every second results",
       two,
       {two.size(), 1, 2, 7},
       {
           "S(30,2,4)",
           "Q(1.1:Q1|Q1a|Q1b||Q1d|2)",
           "R(Ann/1.5/r Bo b//w )",
           "Q(1.2:Q2|Q2a|Q2b||Q2d|1)",
           "R(Ann/2/w )",
           "M(Ann/1/1.75/2/1/1.75/2 )",
           "Q(2.1:Q3|Q3a|Q3b||Q3d|4)",
           "R(Ann/0.5/r )",
           "Q(2.2:Q4|Q4a|Q4b||Q4d|" + std::string(1, '\0') + ")",
           "R(Ann/12/r )",
           "M(Ann/2/6.25/2/3/4./4 )",
       }},
      {"one question per round gives a summary after every results",
       one,
       {3},
       {"S(0,1,4)", "Q(1.1:A|Aa|Ab||Ad|1)", "R(X/1/r )", "M(X/1/1./1/1/1./1 )",
        "Q(2.1:B|Ba|Bb||Bd|1)"}},
      {"an empty correct line names no response",
       noneCorrect,
       {5},
       {"S(30,2,4)", "Q(1.1:Q|a|b|c|d|" + std::string(1, '\0') + ")"}},
      // A lone LF or CR belongs to the text; the line ends at CR LF.
      {"lines end only at CR LF", "3\n0\r\n2\r\n5\r\n", {1}, {"S(3\n0,2,5)"}},
      // The longest question line a server can send, and the largest
      // questions per round it can start with (a record count is a 32-bit
      // number).
      {"the longest lines and counts a server sends",
       longLines,
       {longLines.size(), 65536, 1000},
       {"S(30,2147483647,1)", "Q(1.1:" + longest + "|" + longest + "|1)"}},
  };
}

// A conversation that breaks the protocol, and how the stream's report of
// it begins; fed whole and in pieces of 1000 bytes, it yields no violation
// before that one.
struct BrokenStream {
  std::string bytes;
  std::string violation;
};

inline std::vector<BrokenStream> brokenStreams() {
  const std::string q = streamQuestion("Q", '1');
  const std::string r = "Ann\r\n1\r\nr\r\n\r\n";
  const std::string summaryDue = kStreamSettings + q + r + q + r;
  // Summaries are closed, so that a seat stream, which takes them whole, reads
  // them too (it finds a broken entry at the end).
  const std::string kEnd = "\r\n";
  return {
      {"30\r\n0\r\n4\r\n", "in the settings: line 2 (questions per round) is \"0\""},
      {"30\r\n-2\r\n4\r\n", "in the settings: line 2 (questions per round) is \"-2\""},
      {"30\r\n02\r\n4\r\n", "in the settings: line 2 (questions per round) is \"02\""},
      // One more than a 32-bit count is no count a server writes.
      {"30\r\n2147483648\r\n1\r\n", "in the settings: line 2 (questions per round) is "},
      {"30\r\n2\r\n4 \r\n", "in the settings: line 3 (responses per question) is \"4 \""},
      {"30\r\n2\r\n0\r\n", "in the settings: line 3 (responses per question) is \"0\""},
      {kStreamSettings + "Q\r\na\r\nb\r\nc\r\nd\r\n12\r\n",
       "in the question: line 6 (the correct response) is \"12\""},
      {kStreamSettings + q + "Ann\r\n1\r\nR\r\n",
       "in the results: player 1 (\"Ann\"): the verdict"},
      {summaryDue + "Ann\r\n1\r\n1.\r\nx\r\n1\r\n1.\r\n2\r\n" + kEnd,
       "in the round summary: player 1 (\"Ann\"): line 4 (answers in the round) is \"x\""},
      {summaryDue + "Ann\r\n1\r\n1.5e+01\r\n2\r\n1\r\n1.5\r\n2\r\n" + kEnd,
       "in the round summary: player 1 (\"Ann\"): line 3 (average time in the round) is"},
      {summaryDue + "Ann\r\n1\r\n1.5\r\n2\r\n1\r\n15\r\n2\r\n" + kEnd,
       "in the round summary: player 1 (\"Ann\"): line 6 (average time overall) is \"15\""},
      {summaryDue + "Ann\r\n3\r\n1.5\r\n2\r\n3\r\n1.5\r\n2\r\n" + kEnd,
       "in the round summary: player 1 (\"Ann\"): the counts 3/2 in the round and 3/2"},
      {std::string(kMaxServerLine + 2, 'x'),
       "in the settings: more than " + std::to_string(kMaxServerLine) + " bytes without"},
      {std::string(kMaxServerLine + 1, 'x') + "\r\n",
       "in the settings: a line of " + std::to_string(kMaxServerLine + 1) + " bytes"},
  };
}

// The pieces each broken conversation is fed in.
inline std::vector<size_t> brokenStreamPieces(const BrokenStream& c) {
  return {c.bytes.size(), 1000};
}

}  // namespace qova::testing
