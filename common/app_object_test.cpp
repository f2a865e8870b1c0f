#include "common/app_object.h"

#include <gtest/gtest.h>

namespace qova {
namespace {

struct Counted {
  static inline int constructed = 0;
  static inline int destroyed = 0;
  int value = 0;
  Counted() { ++constructed; }
  ~Counted() { ++destroyed; }
};

TEST(AppObject, LivesFromFirstAcquireToLastRelease) {
  Counted::constructed = Counted::destroyed = 0;
  Counted& a = AppObject<Counted>::acquire();
  a.value = 7;
  Counted& b = AppObject<Counted>::acquire();
  EXPECT_EQ(&a, &b);
  EXPECT_EQ(Counted::constructed, 1);
  AppObject<Counted>::release();
  EXPECT_TRUE(AppObject<Counted>::exists());
  EXPECT_EQ(AppObject<Counted>::acquire().value, 7);
  AppObject<Counted>::release();
  AppObject<Counted>::release();
  EXPECT_FALSE(AppObject<Counted>::exists());
  EXPECT_EQ(Counted::destroyed, 1);
  // A new first acquire builds a fresh object.
  EXPECT_EQ(AppObject<Counted>::acquire().value, 0);
  AppObject<Counted>::release();
  EXPECT_EQ(Counted::constructed, 2);
}

TEST(AppObject, ScopedReferenceReleasesOnEveryWayOut) {
  Counted::destroyed = 0;
  {
    AppRef<Counted> outer;
    {
      AppRef<Counted> inner;
      inner->value = 3;
    }
    EXPECT_EQ(outer->value, 3);
  }
  EXPECT_FALSE(AppObject<Counted>::exists());
  EXPECT_EQ(Counted::destroyed, 1);
}

}  // namespace
}  // namespace qova
