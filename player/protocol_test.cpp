// What a player program makes of the server's messages for its player; the
// messages themselves are read in wire/player_side_test.cpp.
#include "player/protocol.h"

#include <gtest/gtest.h>

namespace qova {
namespace {

TEST(ProtocolTextTest, TimeLimitCountsOnlyWhenPositive) {
  struct {
    const char* text;
    double seconds;
  } cases[] = {{"30", 30}, {" 12.5s", 12.5}, {"0", 0}, {"-5", 0}, {"none", 0}, {"", 0}};
  for (const auto& c : cases) {
    GameSettings s;
    s.timeLimitText = c.text;
    EXPECT_DOUBLE_EQ(timeLimitSeconds(s), c.seconds) << c.text;
  }
}

TEST(ProtocolTextTest, LeaderboardByCorrectThenAverageTime) {
  auto entry = [](const char* name, int correct, const char* average) {
    SummaryEntry e;
    e.name = name;
    e.totalCorrect = correct;
    e.totalAverage = average;
    return e;
  };
  std::vector<SummaryEntry> board =
      leaderboard({entry("A", 1, "2."), entry("B", 3, "9.5"), entry("C", 3, "1.235e+001"),
                   entry("D", 3, "9.5"), entry("E", 1, "0.5")});
  std::string order;
  for (const SummaryEntry& e : board) order += e.name;
  EXPECT_EQ(order, "BDCEA");
}

}  // namespace
}  // namespace qova
