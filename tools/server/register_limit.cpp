#include "register_limit.h"

#include "players.h"

namespace vxserver {

bool RepeatLineLimit::admit(Player& player, Clock::time_point now) {
    RepeatLineBudget& b = player.repeatLines;
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
    waitingSecond_ = second;
    return false;
}

void RepeatLineLimit::takeHeldBack(Clock::time_point now, bool evenIfNotOver, std::vector<HeldBackRepeats>& out) {
    if (waiting_.empty() || (!evenIfNotOver && secondOf(now) <= waitingSecond_)) return;
    for (Player* player : waiting_) out.push_back(take(*player));
    waiting_.clear();
}

std::optional<HeldBackRepeats> RepeatLineLimit::takeHeldBack(Player& player) {
    RepeatLineBudget& b = player.repeatLines;
    if (b.heldBack == 0) return std::nullopt;
    Player* moved = waiting_.back();
    waiting_[b.waitingAt] = moved;
    moved->repeatLines.waitingAt = b.waitingAt;
    waiting_.pop_back();
    return take(player);
}

std::optional<RepeatLineLimit::Clock::time_point> RepeatLineLimit::due() const {
    if (waiting_.empty()) return std::nullopt;
    return start_ + std::chrono::seconds(waitingSecond_ + 1);
}

HeldBackRepeats RepeatLineLimit::take(Player& player) {
    RepeatLineBudget& b = player.repeatLines;
    HeldBackRepeats told{player.id, player.from, b.heldBack};
    b.heldBack = 0;
    return told;
}

bool NewPlayerLineLimit::admit(int32_t id, bool replacing, Clock::time_point now) {
    const int64_t second = secondOf(now);
    if (second_ != second) {
        second_ = second;
        lines_ = 0;
    }
    if (lines_ < linesPerSecond_) {
        ++lines_;
        return true;
    }
    if (heldBack_.players++ == 0) heldBack_.firstId = id;
    heldBack_.lastId = id;
    heldBack_.replacing += replacing ? 1 : 0;
    waitingSecond_ = second;
    return false;
}

std::optional<HeldBackNewPlayers> NewPlayerLineLimit::takeHeldBack(Clock::time_point now, bool evenIfNotOver) {
    if (heldBack_.players == 0 || (!evenIfNotOver && secondOf(now) <= waitingSecond_)) return std::nullopt;
    HeldBackNewPlayers told = heldBack_;
    heldBack_ = {};
    return told;
}

std::optional<NewPlayerLineLimit::Clock::time_point> NewPlayerLineLimit::due() const {
    if (heldBack_.players == 0) return std::nullopt;
    return start_ + std::chrono::seconds(waitingSecond_ + 1);
}

}  // namespace vxserver
