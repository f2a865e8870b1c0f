#include "common/random.h"

#include <gtest/gtest.h>

namespace qova {
namespace {

TEST(RandomGenerator, FirstValuesAfterSeedingWithOne) {
  RandomGenerator g;
  g.seed(1);
  const int expected[] = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358};
  for (int value : expected) EXPECT_EQ(g.next(), value);
}

TEST(RandomGenerator, StateWrapsModulo32BitsAndStaysIn15Bits) {
  RandomGenerator g;
  g.seed(0xFFFFFFFFu);
  for (int i = 0; i < 100000; ++i) {
    int v = g.next();
    ASSERT_GE(v, 0);
    ASSERT_LE(v, kRandomMax);
  }
  // The state after one step from 0xFFFFFFFF is computed modulo 2^32.
  g.seed(0xFFFFFFFFu);
  g.next();
  EXPECT_EQ(g.state, 0xFFFFFFFFu * 214013u + 2531011u);
}

TEST(RandomGenerator, ProcessGeneratorIsSeededOnce) {
  seedRandom(1);
  EXPECT_EQ(nextRandom(), 41);
  EXPECT_EQ(nextRandom(), 18467);
  seedRandom(1);
  EXPECT_EQ(nextRandom(), 41);
}

}  // namespace
}  // namespace qova
