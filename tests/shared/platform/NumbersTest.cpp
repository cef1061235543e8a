#include <gtest/gtest.h>

#include "shared/platform/Numbers.h"

namespace kvo {
namespace {

TEST(RoundHalfEven, GoesToTheEvenNeighbourOnlyAtHalves) {
    EXPECT_EQ(RoundHalfEven(50.5), 50);
    EXPECT_EQ(RoundHalfEven(51.5), 52);
    EXPECT_EQ(RoundHalfEven(10.5), 10);
    EXPECT_EQ(RoundHalfEven(11.5), 12);
    EXPECT_EQ(RoundHalfEven(50.500001), 51);
    EXPECT_EQ(RoundHalfEven(49.4999), 49);
    EXPECT_EQ(RoundHalfEven(9.6), 10);
    EXPECT_EQ(RoundHalfEven(249.6 - 240), 10);
    EXPECT_EQ(RoundHalfEven(-2.5), -2);
    EXPECT_EQ(RoundHalfEven(-3.5), -4);
    EXPECT_EQ(RoundHalfEven(0.5), 0);
}

}  // namespace
}  // namespace kvo
