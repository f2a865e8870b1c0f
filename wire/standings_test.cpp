#include "wire/standings.h"

#include <gtest/gtest.h>

namespace qova {
namespace {

SummaryEntry entry(const char* name, int correct, const char* average, int answers = 2) {
  SummaryEntry e;
  e.name = name;
  e.roundCorrect = e.totalCorrect = correct;
  e.roundAverage = e.totalAverage = average;
  e.roundAnswers = e.totalAnswers = answers;
  return e;
}

TEST(StandingsTest, LeaderboardByCorrectThenAverageTime) {
  std::vector<SummaryEntry> board =
      leaderboard({entry("A", 1, "2."), entry("B", 3, "9.5"), entry("C", 3, "1.235e+001"),
                   entry("D", 3, "9.5"), entry("E", 1, "0.5")});
  std::string order;
  for (const SummaryEntry& e : board) order += e.name;
  EXPECT_EQ(order, "BDCEA");
}

// Places are shared only by the same count and the same average as sent;
// "9.5" and "9.50" read the same but are two places, as the server rounds
// every average the same way.
TEST(StandingsTest, PlacesShareTiesAndSkipAfterThem) {
  struct {
    std::vector<SummaryEntry> order;
    std::vector<int> places;
  } cases[] = {
      {{}, {}},
      {{entry("A", 2, "1.25")}, {1}},
      {{entry("A", 2, "1.25"), entry("B", 1, "1.35"), entry("C", 1, "1.35")}, {1, 2, 2}},
      {{entry("A", 3, "1"), entry("B", 3, "1"), entry("C", 3, "1"), entry("D", 0, "5")},
       {1, 1, 1, 4}},
      {{entry("A", 3, "9.5"), entry("B", 3, "9.50"), entry("C", 2, "9.5")}, {1, 2, 3}},
  };
  for (const auto& c : cases) EXPECT_EQ(leaderboardPlaces(c.order), c.places);
}

// A player's own result is the row with its name, its time and its verdict:
// a namesake's row is not its own, and with no such row there is none.
TEST(StandingsTest, OwnResultRowByNameTimeAndVerdict) {
  auto row = [](const char* name, const char* time, bool right) {
    return ResultEntry{name, time, right};
  };
  std::vector<ResultEntry> results = {row("Ann", "1.00", true), row("Bo", "0.70", false),
                                      row("Ann", "2.50", false), row("Ann", "2.50", false)};
  struct {
    const char* name;
    SentAnswer sent;
    int row;
  } cases[] = {
      {"Ann", {"1.00", true}, 0},   {"Ann", {"2.50", false}, 2},  {"Bo", {"0.70", false}, 1},
      {"Ann", {"1.00", false}, -1}, {"Ann", {"0.70", false}, -1}, {"ann", {"1.00", true}, -1},
      {"Cy", {"1.00", true}, -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ownResultRow(results, c.name, c.sent), c.row) << c.name << " " << c.sent.timeText;
  }
  EXPECT_EQ(ownResultRow({}, "Ann", {"1.00", true}), -1);
}

TEST(StandingsTest, TallyCountsRoundAndTotal) {
  AnswerTally t;
  t.count(true);
  t.count(false);
  t.endRound();
  t.count(true);
  EXPECT_EQ(t.roundAnswers, 1);
  EXPECT_EQ(t.roundCorrect, 1);
  EXPECT_EQ(t.totalAnswers, 3);
  EXPECT_EQ(t.totalCorrect, 2);
}

// A player's own standing is the row with its name and the counts it knows
// of itself, in the round and overall.
TEST(StandingsTest, OwnStandingRowByNameAndCounts) {
  auto row = [](const char* name, int rc, int ra, int tc, int ta) {
    SummaryEntry e;
    e.name = name;
    e.roundCorrect = rc;
    e.roundAnswers = ra;
    e.totalCorrect = tc;
    e.totalAnswers = ta;
    e.roundAverage = e.totalAverage = "1.5";
    return e;
  };
  std::vector<SummaryEntry> rows = {row("Ann", 2, 2, 2, 2), row("Bo", 1, 2, 3, 4),
                                    row("Ann", 1, 2, 3, 4), row("Ann", 1, 2, 3, 4)};
  struct {
    const char* name;
    AnswerTally tally;  // roundAnswers, roundCorrect, totalAnswers, totalCorrect
    int row;
  } cases[] = {
      {"Ann", {2, 2, 2, 2}, 0},  {"Ann", {2, 1, 4, 3}, 2},  {"Bo", {2, 1, 4, 3}, 1},
      {"Ann", {2, 1, 4, 2}, -1}, {"Ann", {2, 2, 4, 3}, -1}, {"Ann", {0, 0, 0, 0}, -1},
      {"Cy", {2, 2, 2, 2}, -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ownStandingRow(rows, c.name, c.tally), c.row)
        << c.name << " " << c.tally.roundAnswers << "/" << c.tally.totalAnswers;
  }
}

}  // namespace
}  // namespace qova
