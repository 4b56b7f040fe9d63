// Keeps each player's "state id" lines to a few a second: the first changes of
// each second are written in full, the rest are counted and told in one
// "M more changes, last X=..." line for that player once the second is over.
// Seconds count from one start for every player, so all that was held back in
// a second is told together, before any line of the next.
#ifndef VX_SERVER_STATE_LIMIT_H
#define VX_SERVER_STATE_LIMIT_H

#include "vxProtocol.h"

#include <netinet/in.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace vxserver {

struct Player;

// One player's share, kept in its slot of the player table.
struct StateLineBudget {
    int64_t second = -1;  // the second `lines` counts in
    int lines = 0;
    uint64_t heldBack = 0;  // changes not written since the last tell
    vxProtocol last{};      // the latest of them, and who sent it
    sockaddr_in from{};
    bool byPortOnly = false;
    size_t waitingAt = 0;  // its place among those to tell, while heldBack > 0
};

// What a "more changes" line tells.
struct HeldBackStates {
    int32_t id = 0;
    uint64_t changes = 0;
    vxProtocol last{};
    sockaddr_in from{};
    bool byPortOnly = false;
};

class StateLineLimit {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kDefaultLinesPerSecond = 25;

    explicit StateLineLimit(Clock::time_point start, int linesPerSecond = kDefaultLinesPerSecond)
        : start_(start), linesPerSecond_(linesPerSecond) {}

    // A changed record of `player` (already its `last`), from `from` at `now`:
    // true when its own line may be written. Call takeHeldBack(now) first.
    bool admit(Player& player, const sockaddr_in& from, bool byPortOnly, Clock::time_point now);

    // Appends to `out` what was held back in a second that has ended by
    // `now`, or in the current one when `evenIfNotOver`, and forgets it.
    void takeHeldBack(Clock::time_point now, bool evenIfNotOver, std::vector<HeldBackStates>& out);

    // What is held back for `player` alone, taken before its slot is reused.
    std::optional<HeldBackStates> takeHeldBack(Player& player);

    // When takeHeldBack will next have something to tell, if anything is held back.
    std::optional<Clock::time_point> due() const;

private:
    int64_t secondOf(Clock::time_point t) const { return (t - start_) / std::chrono::seconds(1); }
    HeldBackStates take(Player& player);

    Clock::time_point start_;
    int linesPerSecond_;
    int64_t waitingSecond_ = 0;     // the second of the latest change held back
    std::vector<Player*> waiting_;  // those with changes held back, each once
};

}  // namespace vxserver

#endif
