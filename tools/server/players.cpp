#include "players.h"

#include <arpa/inet.h>

namespace vxserver {

namespace {

// Port first, so that the players of one port sit side by side.
uint64_t keyOf(uint16_t port, uint32_t address) { return static_cast<uint64_t>(port) << 32 | address; }

uint64_t keyOf(const sockaddr_in& a) { return keyOf(ntohs(a.sin_port), ntohl(a.sin_addr.s_addr)); }

}  // namespace

Player* PlayerTable::heardFromSource(const sockaddr_in& from) {
    auto found = index_.find(keyOf(from));
    if (found == index_.end()) return nullptr;
    markHeard(found->second);
    return &*found->second;
}

Player* PlayerTable::heardFromSender(const sockaddr_in& from, bool& byPortOnly) {
    byPortOnly = false;
    if (Player* exact = heardFromSource(from)) return exact;
    const uint16_t port = ntohs(from.sin_port);
    auto first = index_.lower_bound(keyOf(port, 0));
    if (first == index_.end() || first->first >> 32 != port) return nullptr;
    if (auto second = std::next(first); second != index_.end() && second->first >> 32 == port) return nullptr;
    byPortOnly = true;
    markHeard(first->second);
    return &*first->second;
}

Player& PlayerTable::add(const sockaddr_in& from, int32_t id, Player* replaced) {
    Order::iterator slot;
    if (full() && !order_.empty()) {
        // Re-use the silent player's list and index nodes: a flood of new
        // sources then allocates nothing.
        slot = order_.begin();
        if (replaced) *replaced = *slot;
        auto node = index_.extract(keyOf(slot->from));
        node.key() = keyOf(from);
        index_.insert(std::move(node));
        markHeard(slot);
        // The log's budgets of this second stay with the slot: players that
        // come and go fast share one player's lines.
        Player fresh;
        fresh.stateLines.second = slot->stateLines.second;
        fresh.stateLines.lines = slot->stateLines.lines;
        fresh.repeatLines.second = slot->repeatLines.second;
        fresh.repeatLines.lines = slot->repeatLines.lines;
        *slot = fresh;
    } else {
        slot = order_.emplace(order_.end());
        index_.emplace(keyOf(from), slot);
    }
    slot->from = from;
    slot->id = id;
    return *slot;
}

}  // namespace vxserver
