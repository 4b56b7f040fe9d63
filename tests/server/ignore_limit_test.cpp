// The limit on "ignored" lines, on a clock the test sets: which datagrams get
// a line of their own, and what the line for the others says and when.
#include "ignore_limit.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using vxserver::IgnoreLineLimit;
using vxserver::IgnoreReason;

namespace {
const IgnoreLineLimit::Clock::time_point t0 = IgnoreLineLimit::Clock::time_point{} + 100s;
}

TEST(IgnoreLineLimit, AFewLinesASecondThenOneLineCountsTheRestByReason) {
    IgnoreLineLimit limit(5);
    int written = 0;
    // 100 within 0.9 s: every fourth from an unknown player, the rest of a wrong size.
    for (int i = 0; i < 100; ++i)
        written += limit.admit(i % 4 == 0 ? IgnoreReason::UnknownPlayer : IgnoreReason::WrongSize, t0 + i * 9ms);
    EXPECT_EQ(written, 5);
    ASSERT_TRUE(limit.due());
    EXPECT_EQ(*limit.due(), t0 + 1s);
    EXPECT_EQ(limit.takeHeldBack(t0 + 999ms), "");
    EXPECT_EQ(limit.takeHeldBack(t0 + 1s), "ignored 95 more (wrong size: 72, unknown player: 23)");
    EXPECT_FALSE(limit.due());
    EXPECT_EQ(limit.takeHeldBack(t0 + 1s), "");

    // A quiet spell, then the next second has its own few lines again.
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(limit.admit(IgnoreReason::WrongPayload, t0 + 7s)) << i;
    EXPECT_FALSE(limit.admit(IgnoreReason::WrongPayload, t0 + 7s));
    EXPECT_EQ(*limit.due(), t0 + 8s);
}

TEST(IgnoreLineLimit, NothingHeldBackIsLostWhenATakeIsSkippedOrTheEndComesEarly) {
    IgnoreLineLimit limit(2);
    for (int i = 0; i < 4; ++i) limit.admit(IgnoreReason::WrongPayload, t0);
    // No take at the end of that second: its two held back carry over.
    EXPECT_TRUE(limit.admit(IgnoreReason::IdsUsedUp, t0 + 1200ms));
    EXPECT_TRUE(limit.admit(IgnoreReason::WrongSize, t0 + 1200ms));
    EXPECT_FALSE(limit.admit(IgnoreReason::WrongSize, t0 + 1300ms));
    EXPECT_EQ(limit.takeHeldBack(t0 + 1400ms), "");
    // At shutdown the rest is told before its second is over.
    EXPECT_EQ(limit.takeHeldBack(t0 + 1400ms, /*evenIfNotOver=*/true),
              "ignored 3 more (wrong size: 1, wrong payload: 2)");
}
