// Both sides of the conversation against each other: what the server's side
// builds, the player's side reads back to the same values, and what the
// player's side writes, the server's side reads back, whole and in pieces.
// The byte-exact forms of each side are in server_side_test.cpp and
// player_side_test.cpp.
#include <gtest/gtest.h>

#include <climits>
#include <limits>
#include <string>
#include <vector>

#include "wire/line_buffer.h"
#include "wire/player_side.h"
#include "wire/server_side.h"

namespace qova {
namespace {

// Feeds `bytes` to `stream` in pieces of `piece` bytes and collects every
// message it yields.
std::vector<ServerMessage> feedAll(ServerStream& stream, const std::string& bytes, size_t piece) {
  std::vector<ServerMessage> got;
  for (size_t at = 0; at < bytes.size(); at += piece) {
    stream.feed(bytes.data() + at, std::min(piece, bytes.size() - at));
    for (ServerMessage m; (m = stream.next()) != ServerMessage::kNone;) got.push_back(m);
  }
  return got;
}

const size_t kPieces[] = {size_t{1}, size_t{3}, size_t{1} << 30};

TEST(WireRoundTrip, Settings) {
  struct Case {
    std::string timeLimit;
    int32_t questionsPerRound;
    int32_t responseCount;
  } cases[] = {
      {"30", 10, 5},
      {"", 1, 1},
      {" 12.5 s", INT_MAX, kMaxResponses},
      {std::string(kMaxServerLine, 't'), 2, 4},
  };
  for (const Case& c : cases) {
    for (size_t piece : kPieces) {
      ServerStream stream;
      std::string bytes = settingsMessage(c.timeLimit, c.questionsPerRound, c.responseCount);
      ASSERT_EQ(feedAll(stream, bytes, piece), std::vector<ServerMessage>{ServerMessage::kSettings})
          << stream.violation();
      EXPECT_EQ(stream.settings().timeLimitText, c.timeLimit);
      EXPECT_EQ(stream.settings().questionsPerRound, c.questionsPerRound);
      EXPECT_EQ(stream.settings().responseCount, c.responseCount);
      EXPECT_TRUE(stream.atMessageBoundary());
    }
  }
}

TEST(WireRoundTrip, Questions) {
  const std::string longest(kMaxServerLine, 'q');
  const ServerQuestionRecord cases[] = {
      {"Capital of France?", {"Rome", "Paris", "Oslo", "Bern"}, '2'},
      {"No answer is right", {"a", "b", "c", "d"}, '\0'},  // an empty correct line
      {"", {"", "\xE9t\xE9", "", ""}, '9'},
      {longest, {longest, "b", "c", longest}, '4'},
  };
  for (const ServerQuestionRecord& q : cases) {
    for (size_t piece : kPieces) {
      ServerStream stream;
      std::string bytes = settingsMessage("30", 3, 4) + questionMessage(q);
      ASSERT_EQ(feedAll(stream, bytes, piece),
                (std::vector<ServerMessage>{ServerMessage::kSettings, ServerMessage::kQuestion}))
          << stream.violation();
      EXPECT_EQ(stream.question().text, q.question);
      EXPECT_EQ(stream.question().responses, q.responses);
      EXPECT_EQ(stream.question().correct, q.correct);
      EXPECT_EQ(stream.question().round, 1);
      EXPECT_EQ(stream.question().number, 1);
    }
  }
}

// One question of a one-question round: its results, then the summary.
TEST(WireRoundTrip, ResultsAndSummaries) {
  const float inf = std::numeric_limits<float>::infinity();
  struct Case {
    std::vector<PlayerRecord> players;
    std::vector<std::string> averages;  // per player, the round's (= overall) average
  } cases[] = {
      {{{"Ann", {{{"12", true}}}}, {"Bo b", {{{"0.25", false}, {"0.75", true}}}}}, {"12.", "0.5"}},
      // An empty time counts as 0; a time of the largest answer still goes back.
      // (Names are never empty: the lobby refuses an empty name.)
      {{{"E", {{{"", false}}}},
        {std::string(kMaxNameBytes, 'n'), {{{std::string(kMaxAnswerBytes - 3, '9'), true}}}}},
       {"0.", "3.403e+038"}},
      // Sums beyond single precision, and NaN from infinities of both signs.
      {{{"Big", {{{"1e39", true}}}},
        {"Small", {{{"-1e39", false}}}},
        {"Both", {{{"1e39", true}, {"-1e39", true}}}}},
       {"3.403e+038", "-3.403e+038", "0."}},
  };
  for (const Case& c : cases) {
    std::string results, summary;
    for (const PlayerRecord& p : c.players) {
      results += resultLineBlock(p);
      summary += roundSummaryBlock(p, roundTotals(p));
    }
    results += blankLine();
    summary += blankLine();
    ServerQuestionRecord q{"Q", {"a", "b"}, '1'};
    std::string bytes = settingsMessage("30", 1, 2) + questionMessage(q) + results + summary;
    for (size_t piece : kPieces) {
      ServerStream stream;
      std::vector<ServerMessage> got = feedAll(stream, bytes, piece);
      ASSERT_EQ(got, (std::vector<ServerMessage>{ServerMessage::kSettings, ServerMessage::kQuestion,
                                                 ServerMessage::kResults, ServerMessage::kSummary}))
          << stream.violation();
      ASSERT_EQ(stream.results().size(), c.players.size());
      ASSERT_EQ(stream.summary().size(), c.players.size());
      for (size_t i = 0; i < c.players.size(); ++i) {
        const PlayerRecord& p = c.players[i];
        const RoundTotals t = roundTotals(p);
        EXPECT_EQ(stream.results()[i].name, p.name);
        EXPECT_EQ(stream.results()[i].timeText, p.rounds.back().back().timeText);
        EXPECT_EQ(stream.results()[i].correct, p.rounds.back().back().correct);
        const SummaryEntry& e = stream.summary()[i];
        EXPECT_EQ(e.name, p.name);
        EXPECT_EQ(e.roundCorrect, t.roundCorrect);
        EXPECT_EQ(e.roundAnswers, t.roundAnswers);
        EXPECT_EQ(e.totalCorrect, t.totalCorrect);
        EXPECT_EQ(e.totalAnswers, t.totalAnswers);
        EXPECT_EQ(e.roundAverage, c.averages[i]);
        EXPECT_EQ(e.totalAverage, c.averages[i]);
        EXPECT_EQ(e.roundAverage, averageText(t.roundAverage));
      }
      EXPECT_TRUE(stream.atMessageBoundary());
    }
  }
  // Both signs of infinity and NaN as the player's side reads them.
  EXPECT_EQ(averageText(inf), "3.403e+038");
  EXPECT_EQ(averageText(-inf), "-3.403e+038");
  EXPECT_EQ(averageText(std::numeric_limits<float>::quiet_NaN()), "0.");
}

TEST(WireRoundTrip, Names) {
  struct Case {
    std::string name;
    NameReader::Status status;
  } cases[] = {
      {"Ann", NameReader::Status::kNamed},
      {"", NameReader::Status::kNamed},
      {"with\rCR and\nLF", NameReader::Status::kNamed},
      {std::string(kMaxNameBytes, 'n'), NameReader::Status::kNamed},
      {std::string(kMaxNameBytes + 1, 'n'), NameReader::Status::kTooLong},
  };
  for (const Case& c : cases) {
    for (size_t piece : kPieces) {
      // Whatever follows the name line is not part of the name.
      std::string bytes = nameMessage(c.name) + "extra";
      NameReader reader;
      NameReader::Status status = NameReader::Status::kPending;
      for (size_t at = 0; at < bytes.size() && status == NameReader::Status::kPending;
           at += piece) {
        status = reader.feed(bytes.data() + at, std::min(piece, bytes.size() - at));
      }
      EXPECT_EQ(status, c.status) << c.name.size() << " in pieces of " << piece;
      if (c.status == NameReader::Status::kNamed) {
        EXPECT_EQ(reader.name(), c.name);
      }
    }
  }
  // A name that never ends: refused once it cannot be one of the bound.
  NameReader reader;
  EXPECT_EQ(reader.feed(std::string(kMaxNameBytes + 1, 'x').data(), kMaxNameBytes + 1),
            NameReader::Status::kPending);
  EXPECT_EQ(reader.feed("x", 1), NameReader::Status::kTooLong);
}

TEST(WireRoundTrip, Answers) {
  struct Case {
    std::string timeText;
    bool correct;
  } cases[] = {
      {"4.2", true}, {"", true}, {"7", false}, {"12.50", false}, {std::string(4093, '9'), true},
  };
  for (const Case& c : cases) {
    for (size_t piece : kPieces) {
      std::string bytes = answerMessage(c.timeText, c.correct);
      AnswerReader reader;
      for (size_t at = 0; at < bytes.size(); at += piece) {
        AnswerReader::Status expected = at + piece >= bytes.size() ? AnswerReader::Status::kComplete
                                                                   : AnswerReader::Status::kPending;
        ASSERT_EQ(reader.feed(bytes.data() + at, std::min(piece, bytes.size() - at)), expected)
            << c.timeText.size() << " at " << at << " in pieces of " << piece;
      }
      EXPECT_EQ(reader.answer().timeText, c.timeText);
      EXPECT_EQ(reader.answer().correct, c.correct);
      // The next answer starts afresh.
      reader.clear();
      EXPECT_EQ(reader.feed("1\r\nr", 4), AnswerReader::Status::kComplete);
      EXPECT_EQ(reader.answer().timeText, "1");
    }
  }
  // The time, CR and LF are not yet an answer; any byte after them makes one.
  AnswerReader reader;
  EXPECT_EQ(reader.feed("7\r\n", 3), AnswerReader::Status::kPending);
  EXPECT_EQ(reader.feed("x", 1), AnswerReader::Status::kComplete);
  EXPECT_FALSE(reader.answer().correct);
  // A stream past the bound without being an answer is refused.
  reader.clear();
  std::string flood(kMaxAnswerBytes, '9');
  EXPECT_EQ(reader.feed(flood.data(), flood.size()), AnswerReader::Status::kPending);
  EXPECT_EQ(reader.feed("\r\n", 2), AnswerReader::Status::kTooLong);
}

TEST(LineBufferTest, LinesAtTheBoundAndPast) {
  struct Case {
    std::string bytes;
    std::vector<LineBuffer::Take> takes;
  } cases[] = {
      {"abcd\r\n", {LineBuffer::Take::kLine, LineBuffer::Take::kNeedMore}},
      {"abcde\r\n", {LineBuffer::Take::kLongLine, LineBuffer::Take::kNeedMore}},
      {"abcd\r", {LineBuffer::Take::kNeedMore}},  // the CR may end a line of the bound
      {"abcde\r", {LineBuffer::Take::kNoLineEnd}},
      {"\r\n\r\nab",
       {LineBuffer::Take::kLine, LineBuffer::Take::kLine, LineBuffer::Take::kNeedMore}},
  };
  for (const Case& c : cases) {
    for (size_t piece : kPieces) {
      LineBuffer buffer(4);
      for (size_t at = 0; at < c.bytes.size(); at += piece) {
        buffer.append(c.bytes.data() + at, std::min(piece, c.bytes.size() - at));
      }
      std::string line;
      for (LineBuffer::Take expected : c.takes) {
        EXPECT_EQ(buffer.take(&line), expected) << c.bytes;
      }
    }
  }
}

}  // namespace
}  // namespace qova
