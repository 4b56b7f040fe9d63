// The registered players, at most a fixed number of them. When the table is
// full, a new player takes the slot of the one that has been silent longest.
#ifndef VX_SERVER_PLAYERS_H
#define VX_SERVER_PLAYERS_H

#include "register_limit.h"
#include "state_limit.h"
#include "vxProtocol.h"

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <list>
#include <map>

namespace vxserver {

struct Player {
    sockaddr_in from{};  // where it registered from
    int32_t id = 0;
    bool hasState = false;
    vxProtocol last{};
    StateLineBudget stateLines;
    RepeatLineBudget repeatLines;
};

class PlayerTable {
public:
    explicit PlayerTable(size_t capacity) : capacity_(capacity) {}
    PlayerTable(const PlayerTable&) = delete;
    PlayerTable& operator=(const PlayerTable&) = delete;

    size_t size() const { return index_.size(); }
    bool full() const { return index_.size() >= capacity_; }

    // The player registered from exactly this source, now counted as heard from.
    Player* heardFromSource(const sockaddr_in& from);

    // The sender of a state record, now counted as heard from: the player of
    // that source, or else the only player registered from that port on any
    // address (a client that sends to another server address than it
    // registered with keeps its socket, so its port).
    Player* heardFromSender(const sockaddr_in& from, bool& byPortOnly);

    // The player a new one would replace now: when the table is full, the one
    // silent longest.
    Player* toBeReplaced() { return full() && !order_.empty() ? &order_.front() : nullptr; }

    // Adds a player for `from`, which must not have one. When the table is
    // full the player silent longest is dropped and copied to `replaced`; what
    // it held back from the log must have been taken. The new player goes on
    // with what is left of the slot's line budgets in this second.
    Player& add(const sockaddr_in& from, int32_t id, Player* replaced);

private:
    using Order = std::list<Player>;
    void markHeard(Order::iterator it) { order_.splice(order_.end(), order_, it); }

    size_t capacity_;
    Order order_;                                // silent longest first
    std::map<uint64_t, Order::iterator> index_;  // by port, then address
};

}  // namespace vxserver

#endif
