// The limit on each player's "state id" lines, on a clock the test sets:
// which changes get a line of their own, and what is told of the others, when.
#include "players.h"
#include "state_limit.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <algorithm>
#include <vector>

using namespace std::chrono_literals;
using vxserver::HeldBackStates;
using vxserver::Player;
using vxserver::StateLineLimit;

namespace {

const StateLineLimit::Clock::time_point t0 = StateLineLimit::Clock::time_point{} + 100s;

sockaddr_in from(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

Player player(int32_t id) {
    Player p;
    p.id = id;
    p.from = from(static_cast<uint16_t>(5000 + id));
    return p;
}

// One change of `p` to X=x, as the server makes it: the record first, then the limit.
bool change(StateLineLimit& limit, Player& p, int32_t x, StateLineLimit::Clock::time_point at) {
    p.last = {x, 0, p.id};
    return limit.admit(p, p.from, false, at);
}

std::vector<HeldBackStates> take(StateLineLimit& limit, StateLineLimit::Clock::time_point now,
                                 bool evenIfNotOver = false) {
    std::vector<HeldBackStates> told;
    limit.takeHeldBack(now, evenIfNotOver, told);
    return told;
}

}  // namespace

TEST(StateLineLimit, EachPlayerHasItsOwnFewLinesASecondAndTheRestIsToldWhenTheSecondEnds) {
    StateLineLimit limit(t0, 3);
    Player flooder = player(1), quiet = player(2);
    int written = 0;
    for (int x = 1; x <= 10; ++x) written += change(limit, flooder, x, t0 + 200ms + x * 10ms);
    EXPECT_EQ(written, 3);
    // The flooder used up its own lines, not the others'.
    EXPECT_TRUE(change(limit, quiet, 1, t0 + 500ms));
    EXPECT_TRUE(change(limit, quiet, 2, t0 + 600ms));

    // Told once the second (counted from the start) is over, not before.
    ASSERT_TRUE(limit.due());
    EXPECT_EQ(*limit.due(), t0 + 1s);
    EXPECT_TRUE(take(limit, t0 + 999ms).empty());
    auto told = take(limit, t0 + 1s);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].id, 1);
    EXPECT_EQ(told[0].changes, 7u);
    EXPECT_EQ(told[0].last.X, 10);
    EXPECT_EQ(ntohs(told[0].from.sin_port), 5001);
    EXPECT_FALSE(limit.due());
    EXPECT_TRUE(take(limit, t0 + 5s).empty());

    // A burst across the end of a second: what the next second holds back is
    // told on its own, after the lines of that second.
    EXPECT_TRUE(change(limit, flooder, 11, t0 + 1900ms));
    EXPECT_TRUE(change(limit, flooder, 12, t0 + 1950ms));
    EXPECT_TRUE(change(limit, flooder, 13, t0 + 1990ms));
    EXPECT_FALSE(change(limit, flooder, 14, t0 + 1999ms));
    told = take(limit, t0 + 2s);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].changes, 1u);
    EXPECT_EQ(told[0].last.X, 14);
    for (int x = 15; x <= 17; ++x) EXPECT_TRUE(change(limit, flooder, x, t0 + 2001ms)) << x;
    EXPECT_FALSE(change(limit, flooder, 18, t0 + 2002ms));
    EXPECT_EQ(*limit.due(), t0 + 3s);
}

TEST(StateLineLimit, APlayerLeavingOrTheEndTellsWhatIsHeldBackAndNoOneElsesIsLost) {
    StateLineLimit limit(t0, 1);
    std::vector<Player> players = {player(1), player(2), player(3), player(4)};
    for (auto& p : players)
        for (int x = 1; x <= 1 + p.id; ++x) change(limit, p, x, t0 + 100ms);

    // The second of four leaves (its slot is about to be reused), then the last.
    auto second = limit.takeHeldBack(players[1]);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->id, 2);
    EXPECT_EQ(second->changes, 2u);
    EXPECT_FALSE(limit.takeHeldBack(players[1]));
    ASSERT_TRUE(limit.takeHeldBack(players[3]));

    // One more change of the third after that; then the end comes early.
    EXPECT_FALSE(change(limit, players[2], 9, t0 + 200ms));
    EXPECT_TRUE(take(limit, t0 + 300ms).empty());
    auto told = take(limit, t0 + 300ms, /*evenIfNotOver=*/true);
    ASSERT_EQ(told.size(), 2u);
    std::sort(told.begin(), told.end(), [](const auto& a, const auto& b) { return a.id < b.id; });
    EXPECT_EQ(told[0].id, 1);
    EXPECT_EQ(told[0].changes, 1u);
    EXPECT_EQ(told[1].id, 3);
    EXPECT_EQ(told[1].changes, 4u);
    EXPECT_EQ(told[1].last.X, 9);
    EXPECT_FALSE(limit.due());
    EXPECT_FALSE(limit.takeHeldBack(players[0]));
}
