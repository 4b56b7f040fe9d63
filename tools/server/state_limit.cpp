#include "state_limit.h"

#include "players.h"

namespace vxserver {

bool StateLineLimit::admit(Player& player, const sockaddr_in& from, bool byPortOnly, Clock::time_point now) {
    StateLineBudget& b = player.stateLines;
    const int64_t second = secondOf(now);
    if (b.second != second) {
        b.second = second;
        b.lines = 0;
    }
    if (b.lines < linesPerSecond_) {
        ++b.lines;
        return true;
    }
    if (b.heldBack++ == 0) {
        b.waitingAt = waiting_.size();
        waiting_.push_back(&player);
    }
    b.last = player.last;
    b.from = from;
    b.byPortOnly = byPortOnly;
    waitingSecond_ = second;
    return false;
}

void StateLineLimit::takeHeldBack(Clock::time_point now, bool evenIfNotOver, std::vector<HeldBackStates>& out) {
    if (waiting_.empty() || (!evenIfNotOver && secondOf(now) <= waitingSecond_)) return;
    for (Player* player : waiting_) out.push_back(take(*player));
    waiting_.clear();
}

std::optional<HeldBackStates> StateLineLimit::takeHeldBack(Player& player) {
    StateLineBudget& b = player.stateLines;
    if (b.heldBack == 0) return std::nullopt;
    Player* moved = waiting_.back();
    waiting_[b.waitingAt] = moved;
    moved->stateLines.waitingAt = b.waitingAt;
    waiting_.pop_back();
    return take(player);
}

std::optional<StateLineLimit::Clock::time_point> StateLineLimit::due() const {
    if (waiting_.empty()) return std::nullopt;
    return start_ + std::chrono::seconds(waitingSecond_ + 1);
}

HeldBackStates StateLineLimit::take(Player& player) {
    StateLineBudget& b = player.stateLines;
    HeldBackStates told{player.id, b.heldBack, b.last, b.from, b.byPortOnly};
    b.heldBack = 0;
    return told;
}

}  // namespace vxserver
