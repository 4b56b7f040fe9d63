// Keeps the "register" lines to a few a second, like the "state id" lines:
// each player's registrations again, and the new players of the whole server.
// The first of each second are written in full; the rest are counted and told
// in one line once the second is over. Seconds count from one start, so all
// that was held back in a second is told together, before any line of the next.
#ifndef VX_SERVER_REGISTER_LIMIT_H
#define VX_SERVER_REGISTER_LIMIT_H

#include <netinet/in.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace vxserver {

struct Player;

// One player's share of "(again)" lines, kept in its slot of the player table.
struct RepeatLineBudget {
    int64_t second = -1;  // the second `lines` counts in
    int lines = 0;
    uint64_t heldBack = 0;  // registrations again not written since the last tell
    size_t waitingAt = 0;   // its place among those to tell, while heldBack > 0
};

// What a "more times (again)" line tells.
struct HeldBackRepeats {
    int32_t id = 0;
    sockaddr_in from{};
    uint64_t times = 0;
};

class RepeatLineLimit {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kDefaultLinesPerSecond = 5;

    explicit RepeatLineLimit(Clock::time_point start, int linesPerSecond = kDefaultLinesPerSecond)
        : start_(start), linesPerSecond_(linesPerSecond) {}

    // A registration again of `player` at `now`: true when its own line may
    // be written. Call takeHeldBack(now) first.
    bool admit(Player& player, Clock::time_point now);

    // Appends to `out` what was held back in a second that has ended by
    // `now`, or in the current one when `evenIfNotOver`, and forgets it.
    void takeHeldBack(Clock::time_point now, bool evenIfNotOver, std::vector<HeldBackRepeats>& out);

    // What is held back for `player` alone, taken before its slot is reused.
    std::optional<HeldBackRepeats> takeHeldBack(Player& player);

    // When takeHeldBack will next have something to tell, if anything is held back.
    std::optional<Clock::time_point> due() const;

private:
    int64_t secondOf(Clock::time_point t) const { return (t - start_) / std::chrono::seconds(1); }
    HeldBackRepeats take(Player& player);

    Clock::time_point start_;
    int linesPerSecond_;
    int64_t waitingSecond_ = 0;
    std::vector<Player*> waiting_;  // those with repeats held back, each once
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
    using Clock = std::chrono::steady_clock;
    static constexpr int kDefaultLinesPerSecond = 100;

    explicit NewPlayerLineLimit(Clock::time_point start, int linesPerSecond = kDefaultLinesPerSecond)
        : start_(start), linesPerSecond_(linesPerSecond) {}

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
    int64_t secondOf(Clock::time_point t) const { return (t - start_) / std::chrono::seconds(1); }

    Clock::time_point start_;
    int linesPerSecond_;
    int64_t second_ = -1;  // the second `lines_` counts in
    int lines_ = 0;
    int64_t waitingSecond_ = 0;
    HeldBackNewPlayers heldBack_;
};

}  // namespace vxserver

#endif
