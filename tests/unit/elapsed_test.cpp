#include <gtest/gtest.h>

#include "platform/clock.h"

namespace {

struct ElapsedCase {
  uint32_t now;
  uint32_t then;
  uint32_t expected;
};

TEST(ElapsedMs, MeasuresForwardAndAcrossTheWrap) {
  const ElapsedCase cases[] = {
      {1000, 1000, 0},
      {3001, 1000, 2001},
      {0xFFFFFFFFu, 0, 0xFFFFFFFFu},
      // After the wrap the rule is now + (0xFFFFFFFF - then): one less than modular arithmetic.
      {0, 0xFFFFFFFFu, 0},
      {5, 0xFFFFFFF0u, 20},
      {1500, 0xFFFFFC18u, 2499},  // then = 2^32 - 1000
  };
  for (const ElapsedCase& c : cases) {
    EXPECT_EQ(platform::ElapsedMs(c.now, c.then), c.expected) << "now " << c.now << " then " << c.then;
  }
}

TEST(ElapsedMs, MoreThanTwoSecondsHoldsOnBothSidesOfTheWrap) {
  EXPECT_FALSE(platform::ElapsedMs(2999, 999) > 2000);
  EXPECT_TRUE(platform::ElapsedMs(3000, 999) > 2000);
  EXPECT_FALSE(platform::ElapsedMs(1999, 0xFFFFFFFFu) > 2000);
  EXPECT_TRUE(platform::ElapsedMs(2001, 0xFFFFFFFFu) > 2000);
}

}  // namespace
