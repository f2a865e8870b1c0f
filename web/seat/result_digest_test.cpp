#include "web/seat/result_digest.h"

#include <gtest/gtest.h>

#include <string>

namespace qova::web {
namespace {

// `n` players "P0".."Pn-1"; player i answers in (n - i) hundredths, right
// when i is odd, so the fastest right answers are at the end.
std::shared_ptr<const std::vector<ResultEntry>> results(int n) {
  auto rows = std::make_shared<std::vector<ResultEntry>>();
  for (int i = 0; i < n; ++i) {
    int h = n - i;
    std::string t =
        std::to_string(h / 100) + "." + (h % 100 < 10 ? "0" : "") + std::to_string(h % 100);
    rows->push_back({"P" + std::to_string(i), t, i % 2 == 1});
  }
  return rows;
}

TEST(WebResultDigest, CountsAndShownRowsByRoomSize) {
  struct Case {
    int players, right, shown;
    bool inlineAll;
  } cases[] = {{1, 0, 1, true},    {2, 1, 2, true},       {40, 20, 40, true},
               {41, 20, 5, false}, {1024, 512, 5, false}, {100000, 50000, 5, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.players);
    ResultDigest d = digestResults(results(c.players));
    EXPECT_EQ(d.players, c.players);
    EXPECT_EQ(d.right, c.right);
    EXPECT_EQ(static_cast<int>(d.shown.size()), c.shown);
    EXPECT_EQ(d.inline_all, c.inlineAll);
    ASSERT_LE(d.fastest.size(), static_cast<size_t>(kFastestRows));
    // Fastest first, every one right: the last odd rows.
    for (size_t k = 0; k < d.fastest.size(); ++k) {
      int want = c.players - 1 - (c.players % 2 == 0 ? 0 : 1) - 2 * static_cast<int>(k);
      EXPECT_EQ(d.fastest[k], want);
    }
  }
}

TEST(WebResultDigest, EqualTimesKeepTheServersOrder) {
  auto rows =
      std::make_shared<std::vector<ResultEntry>>(std::vector<ResultEntry>{{"A", "2.00", true},
                                                                          {"B", "1.50", true},
                                                                          {"C", "1.50", true},
                                                                          {"D", "0.10", false},
                                                                          {"E", "1.5", true}});
  ResultDigest d = digestResults(rows);
  EXPECT_EQ(d.fastest, (std::vector<int>{1, 2, 4, 0}));
  EXPECT_EQ(d.right, 4);
}

TEST(WebResultDigest, FindsTheOwnRowByNameAndFigures) {
  auto rows = std::make_shared<std::vector<ResultEntry>>(std::vector<ResultEntry>{
      {"Ann", "1.00", true}, {"Bo", "2.00", false}, {"Ann", "3.00", false}, {"Cy", "4.00", true}});
  ResultDigest d = digestResults(rows);
  struct Case {
    const char* name;
    SentAnswer sent;
    int row;
  } cases[] = {{"Ann", {"1.00", true}, 0},   // top
               {"Ann", {"3.00", false}, 2},  // middle, a namesake before it
               {"Cy", {"4.00", true}, 3},    // end
               {"Cy", {"4.00", false}, -1},  // another verdict
               {"Di", {"1.00", true}, -1}};  // absent
  for (const Case& c : cases) EXPECT_EQ(ownResultRow(d, c.name, c.sent), c.row) << c.name;
}

TEST(WebResultDigest, StandingsTopAndOwnRow) {
  for (int n : {1, 40, 41, 1024, 100000}) {
    SCOPED_TRACE(n);
    std::vector<SummaryEntry> summary;
    for (int i = 0; i < n; ++i) {
      // Player i has i % 7 right of 10; ties share places.
      summary.push_back({"P" + std::to_string(i), 0, "0", 0, i % 7, "1.5", 10});
    }
    StandingsDigest d = digestStandings(summary);
    EXPECT_EQ(d.players, n);
    EXPECT_EQ(d.shown, n <= kInlineRows ? n : kTopRows);
    EXPECT_EQ(d.places[0], 1);
    AnswerTally t;
    t.totalAnswers = 10;
    t.totalCorrect = (n - 1) % 7;
    int row = ownStandingRow(d, "P" + std::to_string(n - 1), t);
    ASSERT_GE(row, 0);
    EXPECT_EQ(d.order[static_cast<size_t>(row)].name, "P" + std::to_string(n - 1));
    t.totalCorrect = 99;
    EXPECT_EQ(ownStandingRow(d, "P0", t), -1);
  }
}

}  // namespace
}  // namespace qova::web
