#include "server/results.h"

#include <gtest/gtest.h>

#include "testing/test_support.h"

namespace qova {
namespace {

Response answer(const char* time, bool correct) { return Response{time, correct}; }

PlayerRecord ann() {
  return PlayerRecord{
      "Ann",
      {{answer("4.5", true), answer("6", false)}, {answer("3", true), answer("2.25", true)}}};
}

TEST(EndScores, AnnExampleByteForByte) {
  testing::TempDir dir;
  writeEndScores({ann()}, dir.file("endscores.txt"));
  EXPECT_EQ(testing::readFileBytes(dir.file("endscores.txt")),
            "Player: Ann\r\n"
            "  Round 1:\r\n"
            "    1. 4.5 seconds;\tRight\r\n"
            "    2. 6 seconds;\tWrong\r\n"
            "  Round 2:\r\n"
            "    1. 3 seconds;\tRight\r\n"
            "    2. 2.25 seconds;\tRight\r\n"
            "\r\n"
            "  Average time: 3.94 seconds\r\n"
            "  Percent correct: 75%\r\n"
            "\r\n");
}

TEST(EndScores, NoPlayersGivesAnEmptyFileReplacingTheOldOne) {
  testing::TempDir dir;
  ASSERT_TRUE(testing::writeFileBytes(dir.file("endscores.txt"), "old results"));
  writeEndScores({}, dir.file("endscores.txt"));
  EXPECT_TRUE(testing::fileExists(dir.file("endscores.txt")));
  EXPECT_EQ(testing::readFileBytes(dir.file("endscores.txt")), "");
}

TEST(EndScores, UnwritableFileIsIgnored) {
  testing::TempDir dir;
  writeEndScores({ann()}, dir.file("missing-folder/endscores.txt"));
  EXPECT_FALSE(testing::fileExists(dir.file("missing-folder/endscores.txt")));
}

TEST(EndScores, AverageAndPercentForms) {
  struct Case {
    std::vector<Response> answers;
    const char* average;
    const char* percent;
  };
  const Case cases[] = {
      {{answer("4", true)}, "4", "100"},
      {{answer("12.345", false)}, "12.3", "0"},
      {{answer("1234.5", true), answer("x", false)}, "617", "50"},
      {{answer("1234.5", true)}, "1.23e+003", "100"},
      {{answer("0.00001", true), answer("0.00001", false), answer("0.00001", false)},
       "1e-005",
       "33.3"},
      {{answer("", true), answer(" 2abc", true)}, "1", "100"},
  };
  for (const Case& c : cases) {
    std::string text = endScoresText({PlayerRecord{"P", {c.answers}}});
    EXPECT_NE(text.find(std::string("  Average time: ") + c.average + " seconds\r\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(std::string("  Percent correct: ") + c.percent + "%\r\n\r\n"),
              std::string::npos)
        << text;
  }
}

TEST(EndScores, PlayerWithoutAnswersShowsZeros) {
  // In the lobby (no rounds) and before the first answer (an empty round).
  EXPECT_EQ(endScoresText({PlayerRecord{"Bob", {}}}),
            "Player: Bob\r\n\r\n  Average time: 0 seconds\r\n  Percent correct: 0%\r\n\r\n");
  EXPECT_EQ(endScoresText({PlayerRecord{"Bob", {{}}}}),
            "Player: Bob\r\n  Round 1:\r\n\r\n  Average time: 0 seconds\r\n"
            "  Percent correct: 0%\r\n\r\n");
}

TEST(EndScores, PlayersInOrder) {
  std::string text = endScoresText({PlayerRecord{"B", {}}, PlayerRecord{"A", {}}});
  EXPECT_LT(text.find("Player: B"), text.find("Player: A"));
}

// Two players, the second behind in the round in progress.
std::vector<PlayerRecord> game() {
  return {PlayerRecord{"Ann", {{answer("1.5", true), answer("2", false)}, {answer("3", true)}}},
          PlayerRecord{"Bob", {{answer("4", false), answer("5", true)}, {}}}};
}

TEST(Statistics, LabelsPerView) {
  ViewLabels player = viewLabels(kViewByPlayer);
  EXPECT_STREQ(player.listHeading, "Question");
  EXPECT_STREQ(player.firstLabel, "Player");
  EXPECT_STREQ(player.secondLabel, "Round");
  ViewLabels question = viewLabels(kViewByQuestion);
  EXPECT_STREQ(question.listHeading, "Player");
  EXPECT_STREQ(question.firstLabel, "Round");
  EXPECT_STREQ(question.secondLabel, "Question");
}

TEST(Statistics, ComboEntries) {
  using Entries = std::vector<std::string>;
  EXPECT_EQ(firstComboEntries(game(), kViewByPlayer), (Entries{"Ann", "Bob"}));
  EXPECT_EQ(firstComboEntries(game(), kViewByQuestion), (Entries{"1", "2"}));
  EXPECT_EQ(firstComboEntries({}, kViewByQuestion), Entries{});
  EXPECT_EQ(firstComboEntries({}, kViewByPlayer), Entries{});

  struct Case {
    int32_t view;
    int first;
    Entries expected;
  };
  const Case cases[] = {
      {kViewByPlayer, 0, {"1", "2"}},    // Ann's rounds
      {kViewByPlayer, 1, {"1", "2"}},    // Bob's rounds
      {kViewByPlayer, 2, {}},            // no such player any more
      {kViewByPlayer, -1, {}},           // nothing selected
      {kViewByQuestion, 0, {"1", "2"}},  // answers of the first player in round 1
      {kViewByQuestion, 1, {"1"}},       // ... in round 2, in progress
      {kViewByQuestion, 2, {}},         {kViewByQuestion, -1, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(secondComboEntries(game(), c.view, c.first), c.expected) << c.view << " " << c.first;
  }
}

TEST(Statistics, ListLines) {
  using Lines = std::vector<std::string>;
  struct Case {
    int32_t view;
    int first, second;
    Lines expected;
  };
  const Case cases[] = {
      {kViewByPlayer, 0, 0, {"1\t1.5\tYes", "2\t2\tNo"}},
      {kViewByPlayer, 1, 0, {"1\t4\tNo", "2\t5\tYes"}},
      {kViewByPlayer, 1, 1, {}},
      {kViewByPlayer, 0, 2, {}},
      {kViewByPlayer, 5, 0, {}},
      {kViewByQuestion, 0, 1, {"Ann\t2\tNo", "Bob\t5\tYes"}},
      // The question in progress lists only those who have answered it.
      {kViewByQuestion, 1, 0, {"Ann\t3\tYes"}},
      {kViewByQuestion, 1, 1, {}},
      {kViewByQuestion, 3, 0, {}},
      {kViewByQuestion, -1, 0, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(listLines(game(), c.view, c.first, c.second), c.expected)
        << c.view << " " << c.first << " " << c.second;
  }
}

}  // namespace
}  // namespace qova
