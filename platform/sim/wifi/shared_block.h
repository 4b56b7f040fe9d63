// The block of main memory through which the two halves of the wireless
// library talk. Nothing else connects them: the main half lays the block out
// and hands its device address to the program, the co half attaches to what
// that word designates, and each side rings the other through the programs'
// sync handlers.
//
// Every field is a fixed-width integer at a fixed offset, as it would be in
// memory that two processors share; counters run freely and wrap.
#ifndef VXSIM_WIFI_SHARED_H
#define VXSIM_WIFI_SHARED_H

#include <cstddef>
#include <cstdint>

#include "wifi_handshake.h"

namespace vxsim::wifi {

using namespace vxshared::wifi;

// Near the top of main memory, clear of the last 4 KB (the transfer region).
constexpr uint32_t kMainRamStart = 0x02000000;
constexpr uint32_t kMainRamEnd = 0x02400000;
constexpr uint32_t kReservedTop = 0x023FF000;
constexpr uint32_t kBlockAddress = 0x023F0000;

constexpr uint32_t kVersion = 1;

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
    uint32_t magic;
    uint32_t version;
    uint32_t size;
    uint32_t self;  // device address the block was laid out at

    uint32_t coState;
    // A doorbell per direction: set by the ringer, cleared by the receiver's
    // Wifi_Sync before it looks at anything, so at most one sync word is ever
    // in flight each way.
    uint32_t bellToCo;
    uint32_t bellToMain;
    uint32_t pad0;

    // Association: main posts numbered requests, co answers for a number.
    uint32_t connectRequest;
    uint32_t statusRequest;
    uint32_t assocStatus;
    uint32_t pad1;

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

// Host view of the block at `address` when that word designates a laid-out
// block; null otherwise.
SharedBlock* attachBlock(uint32_t address);

}  // namespace vxsim::wifi

#endif
