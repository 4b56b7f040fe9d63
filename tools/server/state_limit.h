// Keeps each player's "state id" lines to a few a second: the first changes of
// each second are written in full, the rest are counted and told in one
// "M more changes, last X=..." line for that player once the second is over.
// Seconds count from one start for every player, so all that was held back in
// a second is told together, before any line of the next.
#ifndef VX_SERVER_STATE_LIMIT_H
#define VX_SERVER_STATE_LIMIT_H

#include "line_budget.h"
#include "vxProtocol.h"

#include <netinet/in.h>

#include <cstdint>

namespace vxserver {

// One player's share, kept in its slot of the player table.
struct StateLineBudget : PlayerLineBudget {
    vxProtocol last{};  // the latest change held back, and who sent it
    sockaddr_in from{};
    bool byPortOnly = false;
};

// What a "more changes" line tells.
struct HeldBackStates {
    int32_t id = 0;
    uint64_t changes = 0;
    vxProtocol last{};
    sockaddr_in from{};
    bool byPortOnly = false;
};

class StateLineLimit : public PlayerLineLimit<HeldBackStates> {
public:
    static constexpr int kDefaultLinesPerSecond = 25;

    explicit StateLineLimit(Clock::time_point start, int linesPerSecond = kDefaultLinesPerSecond);

    // A changed record of `player` (already its `last`), from `from` at `now`:
    // true when its own line may be written. Call takeHeldBack(now) first.
    bool admit(Player& player, const sockaddr_in& from, bool byPortOnly, Clock::time_point now);
};

}  // namespace vxserver

#endif
