// The wireless state of one machine: both halves of the library and the
// radio. The machine owns it; the halves reach it through hw::wireless().
#ifndef VXSIM_WIFI_STATE_H
#define VXSIM_WIFI_STATE_H

#include <cstdint>
#include <deque>

#include "radio.h"
#include "shared_block.h"

namespace vxsim::wifi {

// A datagram the main half holds for a socket until recvfrom takes it, in a
// packet buffer of the program's IP stack.
struct Queued {
    void* buffer = nullptr;
    int length = 0;
    uint32_t address = 0;  // network order
    uint16_t port = 0;     // network order
};

struct Socket {
    bool open = false;
    std::deque<Queued> queue;
};

// The main processor's half: the block it laid out and what it has learnt
// from it.
struct MainHalf {
    SharedBlock* block = nullptr;
    MainLink link = {};
    int checkInitTraced = -1;
    uint32_t status = kAssocDisconnected;
    int statusTraced = -1;
    uint32_t txFreed = 0;  // slots whose buffers went back to the program
    Socket sockets[kMaxSockets];
    bool busy = false;
};

enum class Phase { Idle, Scanning, Authenticating, Associating, Dhcp, Done };

// The co-processor's half: the block it attached to and the association it
// runs.
struct CoHalf {
    SharedBlock* block = nullptr;
    CoLink link = {};
    Phase phase = Phase::Idle;
    uint32_t status = kAssocDisconnected;
    uint64_t scansDone = 0;  // sweeps of the search now under way
    uint32_t timerTag = 0;   // only the latest timer counts
    bool busy = false;
};

struct Wireless {
    MainHalf main;
    CoHalf co;
    Radio radio;
};

// When the machine goes: datagrams that arrived but were never read sit in
// buffers from the program's own allocator, and go back to it.
void returnUnreadDatagrams(Wireless& wireless, void (*ipFree)(void*));

}  // namespace vxsim::wifi

#endif
