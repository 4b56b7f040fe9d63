// The block of main memory through which the two halves of the device's
// wireless library talk. The main half lays it out and hands its address to
// the program, which carries it to the co-processor in the FIFO handshake;
// each half rings the other through the programs' sync handlers. The main
// processor reaches it through the uncached view of main memory. The header
// and the handshake are the simulation's too (wifi_link.h); behind them the
// device carries link-layer frames.
//
// Link-layer traffic crosses the block as Ethernet II frames (destination
// MAC, source MAC, big-endian type, payload): the co half turns them into
// 802.11 data frames with LLC/SNAP and back, the main half's IPv4 stack never
// sees 802.11.
#ifndef VX_DEVICE_WIFI_BLOCK_H
#define VX_DEVICE_WIFI_BLOCK_H

#include <stdint.h>

#include "wifi_link.h"

namespace vxdevice {

using namespace vxshared::wifi;

// The co half reports association states up to kAssocAcquiringDhcp, which
// means "joined, the link carries frames"; the main half's stack takes it from
// there to kAssocAssociated.

// An Ethernet II frame: 14 bytes of header and at most 1500 of payload.
constexpr uint32_t kEthHeader = 14;
constexpr uint32_t kFrameMax = kEthHeader + 1500;

struct FrameSlot {
    uint32_t length;  // bytes of data in use
    uint8_t data[(kFrameMax + 3) / 4 * 4];
};

// One producer, one consumer: the producer fills slot[head % N], then bumps
// head; the consumer reads slot[tail % N], then bumps tail. Both counters run
// freely and wrap; the ring is full when head - tail == N, and a frame that
// finds it full is dropped and counted by its producer.
template <uint32_t N>
struct FrameRing {
    uint32_t head;
    uint32_t tail;
    uint32_t dropped;
    uint32_t pad;
    FrameSlot slot[N];
};

constexpr uint32_t kRxFrames = 8;  // co -> main
constexpr uint32_t kTxFrames = 8;  // main -> co

// What the co half learnt at bring-up and from the access-point slot it
// joined with. Addresses are in network order; ip == 0 asks for DHCP.
struct Station {
    uint8_t mac[6];
    uint16_t pad;
    uint32_t ip;
    uint32_t gateway;
    uint32_t subnetMask;
    uint32_t dns1;
    uint32_t dns2;
};

struct WifiBlock {
    BlockHeader header;
    // Bumped by the co half each time it joins a network, after `station` is
    // written: the main half starts its address set-up afresh on a change.
    uint32_t joinCount;
    Station station;
    FrameRing<kRxFrames> rx;
    FrameRing<kTxFrames> tx;
};

// The search a request starts, in frames at 60 a second.
constexpr uint32_t kSearchFrames = kSearchMilliseconds * 60 / 1000;

}  // namespace vxdevice

#endif
