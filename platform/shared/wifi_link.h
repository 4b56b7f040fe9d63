// The link between the two halves of the wireless library, as both back-ends
// run it: the header every block starts with, and each half's steps of the
// handshake and the association reports. A back-end lays its own payload out
// behind the header (the simulation's datagram slots, the device's frame
// rings), keeps its own locking, and calls these steps; they touch nothing
// but the header and the half's own link state.
//
// The header is reached through volatile accesses only: on the device the
// other processor reads and writes it behind the compiler's back, and the
// order of those accesses is the order the other side sees (the co-processor
// has no cache, the main processor reaches the block uncached); in the
// simulation the processors take turns, and the hand-over orders them.
// Payload bytes written plainly are kept ahead of the counter that publishes
// them with orderAccesses(). Plain code, no heap, for the host and the device.
#ifndef VX_SHARED_WIFI_LINK_H
#define VX_SHARED_WIFI_LINK_H

#include <stdint.h>
#include <string.h>

#include "wifi_handshake.h"

namespace vxshared::wifi {

constexpr uint32_t kVersion = 1;

struct BlockHeader {
    uint32_t magic;
    uint32_t version;
    uint32_t size;  // bytes of the whole block, the back-end's payload included
    uint32_t self;  // the address the block was laid out at, as handed over

    uint32_t coState;
    // A doorbell per direction: set by the ringer, cleared by the receiver's
    // Wifi_Sync before it looks at anything, so at most one sync word is ever
    // in flight each way.
    uint32_t bellToCo;
    uint32_t bellToMain;

    // Association: main posts numbered requests, co answers for a number.
    uint32_t connectRequest;
    uint32_t statusRequest;
    uint32_t assocStatus;
};
// Whole words, a multiple of 8 bytes: the payload behind keeps its alignment.
static_assert(sizeof(BlockHeader) == 40);

using SyncHandler = void (*)();

// Keeps the compiler from moving memory accesses across this point.
inline void orderAccesses() { asm volatile("" ::: "memory"); }

// ---- The main half

struct MainLink {
    SyncHandler sync;
    bool ready;
    uint32_t request;  // the latest connect request posted, 0 for none
};

// Wifi_Init: a block of `size` bytes at `memory`, which the co-processor sees
// at `address`. All zero behind the header; the magic word goes last, so a
// co half never takes a block that is half laid out.
inline void layOut(void* memory, uint32_t address, uint32_t size) {
    volatile BlockHeader& h = *static_cast<volatile BlockHeader*>(memory);
    h.magic = 0;
    orderAccesses();
    memset(memory, 0, size);
    orderAccesses();
    h.version = kVersion;
    h.size = size;
    h.self = address;
    h.magic = kMagic;
}

// The co half has said Listening and waits for the main half's ring.
inline bool answerDue(const volatile BlockHeader& h) { return h.coState == kCoListening; }

// Rings the co half, unless its doorbell is still unanswered.
inline void ringCo(volatile BlockHeader& h, const MainLink& link) {
    if (link.sync == nullptr || h.bellToCo != 0) return;
    h.bellToCo = 1;
    link.sync();
}

// Wifi_Sync on the main processor. Readiness is learnt here and only here,
// from a ring that came after the co half saw our answer: true when this
// sync made the main half ready.
inline bool mainSynced(volatile BlockHeader& h, MainLink& link) {
    h.bellToMain = 0;
    if (link.ready || h.coState != kCoRunning) return false;
    link.ready = true;
    return true;
}

// Wifi_AutoConnect: a new numbered request for the co half to answer.
inline void postConnectRequest(volatile BlockHeader& h, MainLink& link) { h.connectRequest = ++link.request; }

// The co half's answer to the latest request. The request number is read
// before the status it vouches for (the co half writes them the other way
// round); until the co half has taken the request, it is still searching.
inline uint32_t linkStatus(const volatile BlockHeader& h, const MainLink& link) {
    if (link.request == 0) return kAssocDisconnected;
    if (h.statusRequest != link.request) return kAssocSearching;
    return h.assocStatus;
}

// ---- The co half

struct CoLink {
    SyncHandler sync;
    uint32_t requestSeen;  // the connect request being answered, 0 for none
    bool needRing;         // something new for the main half
};

// Where the co half may find a block: the back-end's main memory, and how
// this processor sees an address there (null where it cannot see `bytes`
// bytes in a row from it).
struct MainMemory {
    uint32_t first;
    uint32_t end;
    uint32_t alignment;
    void* (*see)(uint32_t address, uint32_t bytes);
};

// Wifi_Init on the co-processor, with the word the FIFO brought: the block
// of `size` bytes the word designates, or null when it designates none (the
// link then stays down). The requests of an earlier block are forgotten.
inline void* coAttach(uint32_t word, uint32_t size, const MainMemory& memory, CoLink& link) {
    link.requestSeen = 0;
    link.needRing = false;
    if (word % memory.alignment != 0 || word < memory.first || word > memory.end || memory.end - word < size ||
        size < sizeof(BlockHeader))
        return nullptr;
    void* at = memory.see(word, size);
    if (at == nullptr) return nullptr;
    const volatile BlockHeader& h = *static_cast<const volatile BlockHeader*>(at);
    if (h.magic != kMagic || h.version != kVersion || h.size != size || h.self != word) return nullptr;
    return at;
}

// The back-end has set up around the block it attached to.
inline void coAttached(volatile BlockHeader& h) { h.coState = kCoAttached; }

// From any call, once a sync handler is there: says Listening and asks for a
// ring. True when it did.
inline bool coListen(volatile BlockHeader& h, CoLink& link) {
    if (link.sync == nullptr || h.coState != kCoAttached) return false;
    h.coState = kCoListening;
    link.needRing = true;
    return true;
}

// Wifi_Sync on the co-processor. The main half has answered: the link works
// both ways, so it says Running and rings once more. True when it did.
inline bool coSynced(volatile BlockHeader& h, CoLink& link) {
    h.bellToCo = 0;
    if (h.coState != kCoListening) return false;
    h.coState = kCoRunning;
    link.needRing = true;
    return true;
}

inline bool coRunning(const volatile BlockHeader& h) { return h.coState == kCoRunning; }

// A connect request the co half has not taken yet: true when there is one,
// which is now the one answered.
inline bool takeConnectRequest(const volatile BlockHeader& h, CoLink& link) {
    const uint32_t request = h.connectRequest;
    if (request == link.requestSeen) return false;
    link.requestSeen = request;
    return true;
}

// The status first, then the number of the request it answers: the main half
// never pairs a new number with the last request's status.
inline void publishStatus(volatile BlockHeader& h, CoLink& link, uint32_t status) {
    h.assocStatus = status;
    h.statusRequest = link.requestSeen;
    link.needRing = true;
}

// At the end of the co half's work: at most one ring, and none while the last
// one is unanswered (the doorbell still set); without a sync handler the
// request to ring waits for one. Returns the handler to call once the caller
// has left its busy section, or null.
inline SyncHandler ringMain(volatile BlockHeader& h, CoLink& link) {
    if (link.sync == nullptr) return nullptr;
    const bool ring = link.needRing && h.bellToMain == 0;
    link.needRing = false;
    if (!ring) return nullptr;
    h.bellToMain = 1;
    return link.sync;
}

}  // namespace vxshared::wifi

#endif
