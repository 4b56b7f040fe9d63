// Keeps the "register" lines to a few a second, like the "state id" lines:
// each player's registrations again, and the new players of the whole server.
// The first of each second are written in full; the rest are counted and told
// in one line once the second is over. Seconds count from one start, so all
// that was held back in a second is told together, before any line of the next.
#ifndef VX_SERVER_REGISTER_LIMIT_H
#define VX_SERVER_REGISTER_LIMIT_H

#include "line_budget.h"

#include <netinet/in.h>

#include <cstdint>
#include <optional>

namespace vxserver {

// What a "more times (again)" line tells.
struct HeldBackRepeats {
    int32_t id = 0;
    sockaddr_in from{};
    uint64_t times = 0;
};

// Each player's registrations again.
class RepeatLineLimit : public PlayerLineLimit<HeldBackRepeats> {
public:
    static constexpr int kDefaultLinesPerSecond = 5;

    explicit RepeatLineLimit(Clock::time_point start, int linesPerSecond = kDefaultLinesPerSecond);
};

// What a "registered N more players" line tells. Ids are handed out in
// order, and none is written between those held back in one second, so they
// run from `firstId` to `lastId`.
struct HeldBackNewPlayers {
    uint64_t players = 0;
    int32_t firstId = 0;
    int32_t lastId = 0;
    uint64_t replacing = 0;  // of them, those that took a silent player's slot
    // What the players they replaced had held back: counted here rather than
    // told one line each, so that players coming and going cannot fill the log.
    uint64_t replacedChanges = 0;
    uint64_t replacedRepeats = 0;
};

class NewPlayerLineLimit {
public:
    using Clock = LineSeconds::Clock;
    static constexpr int kDefaultLinesPerSecond = 100;

    explicit NewPlayerLineLimit(Clock::time_point start, int linesPerSecond = kDefaultLinesPerSecond)
        : seconds_(start), linesPerSecond_(linesPerSecond) {}

    // A new player `id` at `now`: true when its own line may be written.
    // Call takeHeldBack(now) first.
    bool admit(int32_t id, bool replacing, Clock::time_point now);

    // What the player replaced by the new one just held back had held back itself.
    void addReplaced(uint64_t changes, uint64_t repeats) {
        heldBack_.replacedChanges += changes;
        heldBack_.replacedRepeats += repeats;
    }

    // What was held back in a second that has ended by `now`, or in the
    // current one when `evenIfNotOver`, and forgets it.
    std::optional<HeldBackNewPlayers> takeHeldBack(Clock::time_point now, bool evenIfNotOver);

    std::optional<Clock::time_point> due() const;

private:
    LineSeconds seconds_;
    int linesPerSecond_;
    LineBudget written_;
    HeldBackNewPlayers heldBack_;
};

}  // namespace vxserver

#endif
