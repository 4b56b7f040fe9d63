#include "state_limit.h"

#include "players.h"

namespace vxserver {

StateLineLimit::StateLineLimit(Clock::time_point start, int linesPerSecond)
    : PlayerLineLimit(
          start, linesPerSecond, [](Player& player) -> PlayerLineBudget& { return player.stateLines; },
          [](const Player& player, uint64_t changes) {
              const StateLineBudget& b = player.stateLines;
              return HeldBackStates{player.id, changes, b.last, b.from, b.byPortOnly};
          }) {}

bool StateLineLimit::admit(Player& player, const sockaddr_in& from, bool byPortOnly, Clock::time_point now) {
    if (PlayerLineLimit::admit(player, now)) return true;
    StateLineBudget& b = player.stateLines;
    b.last = player.last;
    b.from = from;
    b.byPortOnly = byPortOnly;
    return false;
}

}  // namespace vxserver
