// The server's message bytes and S4 figures; the conversation over real
// sockets is in server/connection_loopback_test.cpp.
#include "wire/server_side.h"

#include <gtest/gtest.h>

namespace qova {
namespace {

TEST(Messages, SettingsForTheDefaultsAreElevenBytes) {
  std::string s1 = settingsMessage("30", 10, 5);
  EXPECT_EQ(s1, std::string("30\r\n10\r\n5\r\n"));
  EXPECT_EQ(s1.size(), 11u);
  EXPECT_EQ(settingsMessage("", -3, 4), "\r\n-3\r\n4\r\n");
}

TEST(Messages, QuestionLines) {
  ServerQuestionRecord q{"Capital of France?", {"Rome", "Paris", "Oslo", "Bern"}, '2'};
  std::string s2 = questionMessage(q);
  EXPECT_EQ(s2, "Capital of France?\r\nRome\r\nParis\r\nOslo\r\nBern\r\n2\r\n");
  EXPECT_EQ(s2.size(), q.question.size() + 4 + 5 + 4 + 4 + 2 * 4 + 5);
  // Texts go out as stored, empty ones included.
  EXPECT_EQ(questionMessage(ServerQuestionRecord{"", {"", "\xE9t\xE9"}, 'x'}),
            "\r\n\r\n\xE9t\xE9\r\nx\r\n");
  // An empty correct line stays an empty line.
  EXPECT_EQ(questionMessage(ServerQuestionRecord{"Q", {"a"}, '\0'}), "Q\r\na\r\n\r\n");
}

TEST(Messages, ResultLineUsesTheLastAnswerOfTheLastRound) {
  PlayerRecord p{"Ann", {{{"9", false}}, {{"1", false}, {"4.2", true}}}};
  EXPECT_EQ(resultLineBlock(p), "Ann\r\n4.2\r\nr\r\n");
  p.rounds.back().back().correct = false;
  EXPECT_EQ(resultLineBlock(p), "Ann\r\n4.2\r\nw\r\n");
  EXPECT_EQ(std::string(blankLine()), "\r\n");
}

TEST(Messages, RoundSummaryAverages) {
  struct Case {
    std::vector<std::vector<Response>> rounds;
    const char* expected;
  };
  const Case cases[] = {
      {{{{"12", true}}}, "Bo\r\n1\r\n12.\r\n1\r\n1\r\n12.\r\n1\r\n"},
      {{{{"0.25", false}, {"0.75", true}}}, "Bo\r\n1\r\n0.5\r\n2\r\n1\r\n0.5\r\n2\r\n"},
      // Overall figures run over every round, the round's over the last one.
      {{{{"10", true}, {"20", true}}, {{"3", false}, {"3.5", true}}},
       "Bo\r\n1\r\n3.25\r\n2\r\n3\r\n9.125\r\n4\r\n"},
      {{{{"1234.5", false}}}, "Bo\r\n0\r\n1235\r\n1\r\n0\r\n1235\r\n1\r\n"},
      {{{{"12345", false}}}, "Bo\r\n0\r\n1.235e+004\r\n1\r\n0\r\n1.235e+004\r\n1\r\n"},
      {{{{"abc", true}, {"", false}}}, "Bo\r\n1\r\n0.\r\n2\r\n1\r\n0.\r\n2\r\n"},
  };
  for (const Case& c : cases) {
    PlayerRecord p{"Bo", c.rounds};
    EXPECT_EQ(roundSummaryBlock(p, roundTotals(p)), c.expected);
  }
}

TEST(Messages, SumsBeyondSinglePrecisionGoOutAsTheLargestFiniteValue) {
  struct Case {
    std::vector<std::vector<Response>> rounds;
    const char* expected;
  };
  const Case cases[] = {
      // A single time too large for a float.
      {{{{"1e39", true}}}, "Bo\r\n1\r\n3.403e+038\r\n1\r\n1\r\n3.403e+038\r\n1\r\n"},
      {{{{"-1e39", false}}}, "Bo\r\n0\r\n-3.403e+038\r\n1\r\n0\r\n-3.403e+038\r\n1\r\n"},
      // Finite times whose sum overflows; the round alone stays finite.
      {{{{"3e38", true}}, {{"3e38", true}}}, "Bo\r\n1\r\n3.e+038\r\n1\r\n2\r\n3.403e+038\r\n2\r\n"},
      // Infinities of both signs give NaN, which goes out as 0.
      {{{{"1e39", true}, {"-1e39", true}}}, "Bo\r\n2\r\n0.\r\n2\r\n2\r\n0.\r\n2\r\n"},
      // Beyond even a double.
      {{{{"1e400", true}}}, "Bo\r\n1\r\n3.403e+038\r\n1\r\n1\r\n3.403e+038\r\n1\r\n"},
      // The largest finite sum is written as it is.
      {{{{"3.4028234e38", true}}}, "Bo\r\n1\r\n3.403e+038\r\n1\r\n1\r\n3.403e+038\r\n1\r\n"},
  };
  for (const Case& c : cases) {
    PlayerRecord p{"Bo", c.rounds};
    EXPECT_EQ(roundSummaryBlock(p, roundTotals(p)), c.expected) << c.rounds[0][0].timeText;
  }
}

TEST(Messages, TotalsSumInSinglePrecision) {
  // 0.1 added ten times in float is not 1 exactly; the average shows it.
  PlayerRecord p{"x", {std::vector<Response>(10, Response{"0.1", true})}};
  RoundTotals t = roundTotals(p);
  float sum = 0;
  for (int i = 0; i < 10; ++i) sum += 0.1f;
  EXPECT_EQ(t.roundAverage, sum / 10.0f);
  EXPECT_EQ(t.roundCorrect, 10);
  EXPECT_EQ(t.totalAnswers, 10);
}

// Taking a complete answer out keeps exactly what followed it, the start of
// the next answer, however far that has come.
TEST(AnswerReaderDrop, KeepsTheBytesAfterTheVerdict) {
  struct Case {
    std::string bytes;
    AnswerReader::Status after;
    std::string kept;
  };
  const Case cases[] = {
      {"9\r\nr", AnswerReader::Status::kPending, ""},
      {"9\r\nr3", AnswerReader::Status::kPending, "3"},
      {"9\r\nr3\r\n", AnswerReader::Status::kPending, "3\r\n"},
      {"9\r\nr3\r\nw", AnswerReader::Status::kComplete, "3\r\nw"},
      {"\r\nw\r\n\r\nr", AnswerReader::Status::kComplete, "\r\n\r\nr"},
  };
  for (const Case& c : cases) {
    AnswerReader reader;
    ASSERT_EQ(reader.feed(c.bytes.data(), c.bytes.size()), AnswerReader::Status::kComplete);
    EXPECT_EQ(reader.dropAnswer(), c.after) << c.bytes;
    EXPECT_EQ(reader.received(), c.kept) << c.bytes;
  }
}

}  // namespace
}  // namespace qova
