#include "register_limit.h"

#include "players.h"

namespace vxserver {

RepeatLineLimit::RepeatLineLimit(Clock::time_point start, int linesPerSecond)
    : PlayerLineLimit(
          start, linesPerSecond, [](Player& player) -> PlayerLineBudget& { return player.repeatLines; },
          [](const Player& player, uint64_t times) {
              return HeldBackRepeats{player.id, player.from, times};
          }) {}

bool NewPlayerLineLimit::admit(int32_t id, bool replacing, Clock::time_point now) {
    const int64_t second = seconds_.secondOf(now);
    if (written_.spend(second, linesPerSecond_)) return true;
    if (heldBack_.players++ == 0) heldBack_.firstId = id;
    heldBack_.lastId = id;
    heldBack_.replacing += replacing ? 1 : 0;
    seconds_.heldBackIn(second);
    return false;
}

std::optional<HeldBackNewPlayers> NewPlayerLineLimit::takeHeldBack(Clock::time_point now, bool evenIfNotOver) {
    if (heldBack_.players == 0 || !seconds_.tellable(now, evenIfNotOver)) return std::nullopt;
    HeldBackNewPlayers told = heldBack_;
    heldBack_ = {};
    return told;
}

std::optional<NewPlayerLineLimit::Clock::time_point> NewPlayerLineLimit::due() const {
    if (heldBack_.players == 0) return std::nullopt;
    return seconds_.due();
}

}  // namespace vxserver
