#include "wire/play_rules.h"

#include <gtest/gtest.h>

namespace qova {
namespace {

TEST(PlayRulesTest, TimeLimitCountsOnlyWhenPositive) {
  struct {
    const char* text;
    double seconds;
  } cases[] = {{"30", 30}, {" 12.5s", 12.5}, {"2.5", 2.5}, {"0", 0},
               {"-5", 0},  {"abc", 0},       {"", 0}};
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(timeLimitSeconds(c.text), c.seconds) << c.text;
}

TEST(PlayRulesTest, TimeoutTextIsTheLimitWithTwoDecimals) {
  struct {
    double limit;
    const char* text;
  } cases[] = {{3, "3.00"}, {30, "30.00"}, {2.5, "2.50"}, {0.125, "0.13"}};
  for (const auto& c : cases) EXPECT_EQ(timeoutTimeText(c.limit), c.text) << c.limit;
}

}  // namespace
}  // namespace qova
