// The block of main memory through which the two halves of the wireless
// library talk. Nothing else connects them: the main half lays the block out
// and hands its device address to the program, the co half attaches to what
// that word designates, and each side rings the other through the programs'
// sync handlers. The header and the handshake are the device's too
// (wifi_link.h); behind them the simulation carries whole datagrams.
//
// Every field is a fixed-width integer at a fixed offset, as it would be in
// memory that two processors share; counters run freely and wrap.
#ifndef VXSIM_WIFI_SHARED_H
#define VXSIM_WIFI_SHARED_H

#include <cstddef>
#include <cstdint>

#include "wifi_link.h"

namespace vxsim::wifi {

using namespace vxshared::wifi;

// Near the top of main memory, clear of the last 4 KB (the transfer region).
constexpr uint32_t kMainRamStart = 0x02000000;
constexpr uint32_t kReservedTop = 0x023FF000;
constexpr uint32_t kBlockAddress = 0x023F0000;

constexpr int kMaxSockets = 8;
constexpr int kTxSlots = 32;
constexpr int kRxSlots = 16;
// Largest UDP payload one frame carries without fragmentation.
constexpr int kMaxDatagram = 1472;

enum TxOp : uint32_t { kTxSend = 1, kTxClose = 2 };

struct TxSlot {
    uint32_t op;
    int32_t socket;
    uint32_t address;  // network order
    uint16_t port;     // network order
    uint16_t reserved;
    uint32_t length;
    uint32_t pad;
    uint64_t buffer;  // the IP stack's packet buffer (main-processor heap)
};

struct RxSlot {
    int32_t socket;
    uint32_t address;  // network order
    uint16_t port;     // network order
    uint16_t reserved;
    uint32_t length;
    uint8_t data[kMaxDatagram];
};

struct SharedBlock {
    BlockHeader header;

    // Main produces txHead; co consumes up to txDone; main frees the buffers
    // of consumed slots itself.
    uint32_t txHead;
    uint32_t txDone;
    TxSlot tx[kTxSlots];

    // Co produces rxHead; main consumes up to rxTail.
    uint32_t rxHead;
    uint32_t rxTail;
    RxSlot rx[kRxSlots];
};

static_assert(kBlockAddress + sizeof(SharedBlock) <= kReservedTop, "the block must stay clear of the transfer region");
static_assert(kBlockAddress % 8 == 0);

// Where the host sees `bytes` bytes of device memory from `address` on, or
// null when they are not mapped in one piece.
void* mapped(uint32_t address, uint32_t bytes);

}  // namespace vxsim::wifi

#endif
