#include "wire/play_rules.h"

#include <gtest/gtest.h>

namespace qova {
namespace {

TEST(PlayRulesTest, TimeLimitCountsOnlyWhenPositive) {
  struct {
    const char* text;
    double seconds;
  } cases[] = {{"30", 30}, {" 12.5s", 12.5}, {"2.5", 2.5}, {"0", 0},
               {"-5", 0},  {"abc", 0},       {"none", 0},  {"", 0}};
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(timeLimitSeconds(c.text), c.seconds) << c.text;
}

// Both player programs send this at a time-out (not the time that passed,
// which may run a little over), so that it matches what the server records
// at its own deadline.
TEST(PlayRulesTest, TimeoutTextIsTheLimitWithTwoDecimals) {
  struct {
    double limit;
    const char* text;
  } cases[] = {{3, "3.00"}, {30, "30.00"}, {2.5, "2.50"}, {0.125, "0.13"}};
  for (const auto& c : cases) EXPECT_EQ(timeoutTimeText(c.limit), c.text) << c.limit;
}

TEST(PlayRulesTest, CorrectResponseNumberOnlyWithinTheResponses) {
  struct {
    char correct;
    size_t responses;
    int number;
  } cases[] = {{'1', 4, 1}, {'4', 4, 4}, {'5', 4, 0}, {'0', 4, 0},
               {'3', 2, 0}, {'a', 4, 0}, {0, 4, 0},   {'9', 9, 9}};
  for (const auto& c : cases) {
    Question q;
    q.correct = c.correct;
    q.responses.assign(c.responses, "r");
    EXPECT_EQ(correctResponseNumber(q), c.number) << c.correct << " of " << c.responses;
  }
}

}  // namespace
}  // namespace qova
