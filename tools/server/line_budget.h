// What the log's per-second limits share: a few lines in each second, seconds
// counted from one start (so all that was held back in a second is told
// together, before any line of the next), and the players with lines held
// back, each once.
#ifndef VX_SERVER_LINE_BUDGET_H
#define VX_SERVER_LINE_BUDGET_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace vxserver {

struct Player;

// The lines written in one second.
struct LineBudget {
    int64_t second = -1;  // the second `lines` counts in
    int lines = 0;

    // True, and counted, when one more line fits in `now`, a second's number.
    bool spend(int64_t now, int linesPerSecond) {
        if (second != now) {
            second = now;
            lines = 0;
        }
        if (lines >= linesPerSecond) return false;
        ++lines;
        return true;
    }
};

// The seconds of one limit, and the latest in which it held a line back.
class LineSeconds {
public:
    using Clock = std::chrono::steady_clock;

    explicit LineSeconds(Clock::time_point start) : start_(start) {}

    int64_t secondOf(Clock::time_point t) const { return (t - start_) / std::chrono::seconds(1); }
    void heldBackIn(int64_t second) { latest_ = second; }

    // Whether what was held back may be told at `now`: its second has ended,
    // or the caller will not wait for that.
    bool tellable(Clock::time_point now, bool evenIfNotOver) const { return evenIfNotOver || secondOf(now) > latest_; }
    Clock::time_point due() const { return start_ + std::chrono::seconds(latest_ + 1); }

private:
    Clock::time_point start_;
    int64_t latest_ = 0;
};

// One player's share of one kind of line, kept in its slot of the player table.
struct PlayerLineBudget {
    LineBudget written;
    uint64_t heldBack = 0;  // lines not written since the last tell
    size_t waitingAt = 0;   // its place among those to tell, while heldBack > 0
};

// Each player's own few lines a second of one kind; what is held back is told
// in one `HeldBack` a player once the second is over.
template <typename HeldBack>
class PlayerLineLimit {
public:
    using Clock = LineSeconds::Clock;
    using BudgetOf = PlayerLineBudget& (*)(Player&);
    using Tell = HeldBack (*)(const Player&, uint64_t heldBack);

    PlayerLineLimit(Clock::time_point start, int linesPerSecond, BudgetOf budgetOf, Tell tell)
        : seconds_(start), linesPerSecond_(linesPerSecond), budgetOf_(budgetOf), tell_(tell) {}

    // A line of `player` at `now`: true when it may be written. Call
    // takeHeldBack(now) first.
    bool admit(Player& player, Clock::time_point now) {
        PlayerLineBudget& b = budgetOf_(player);
        const int64_t second = seconds_.secondOf(now);
        if (b.written.spend(second, linesPerSecond_)) return true;
        if (b.heldBack++ == 0) {
            b.waitingAt = waiting_.size();
            waiting_.push_back(&player);
        }
        seconds_.heldBackIn(second);
        return false;
    }

    // Appends to `out` what was held back in a second that has ended by
    // `now`, or in the current one when `evenIfNotOver`, and forgets it.
    void takeHeldBack(Clock::time_point now, bool evenIfNotOver, std::vector<HeldBack>& out) {
        if (waiting_.empty() || !seconds_.tellable(now, evenIfNotOver)) return;
        for (Player* player : waiting_) out.push_back(take(*player));
        waiting_.clear();
    }

    // What is held back for `player` alone, taken before its slot is reused.
    std::optional<HeldBack> takeHeldBack(Player& player) {
        PlayerLineBudget& b = budgetOf_(player);
        if (b.heldBack == 0) return std::nullopt;
        Player* moved = waiting_.back();
        waiting_[b.waitingAt] = moved;
        budgetOf_(*moved).waitingAt = b.waitingAt;
        waiting_.pop_back();
        return take(player);
    }

    // When takeHeldBack will next have something to tell, if anything is held back.
    std::optional<Clock::time_point> due() const {
        if (waiting_.empty()) return std::nullopt;
        return seconds_.due();
    }

private:
    HeldBack take(Player& player) {
        PlayerLineBudget& b = budgetOf_(player);
        HeldBack told = tell_(player, b.heldBack);
        b.heldBack = 0;
        return told;
    }

    LineSeconds seconds_;
    int linesPerSecond_;
    BudgetOf budgetOf_;
    Tell tell_;
    std::vector<Player*> waiting_;  // those with lines held back, each once
};

}  // namespace vxserver

#endif
