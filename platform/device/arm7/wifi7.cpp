// The co-processor's half of the device's wireless stand-in: it attaches to
// the block whose address the handshake brought, completes the handshake
// through the programs' sync handlers, and answers a request to join an
// access point after a search of a few seconds: none can be reached, as
// there is no radio driver.
#include <dswifi7.h>

#include "device.h"
#include "wifi_block.h"

using namespace vxdevice;

namespace {

struct CoHalf {
    volatile WifiBlock* block = nullptr;
    WifiSyncHandler sync = nullptr;
    uint32_t requestSeen = 0;
    uint32_t searchFrames = 0;
    bool searching = false;
    bool needRing = false;
    bool busy = false;
} co;

// The word designates a block when it lies in main memory (as either view)
// and the block there says so; anything else leaves the link down.
volatile WifiBlock* attach(uint32_t word) {
    if (word % 4 != 0 || word < VX_MAIN_RAM || word >= VX_MAIN_RAM + 4 * VX_MAIN_RAM_SIZE - sizeof(WifiBlock))
        return nullptr;
    auto* block = reinterpret_cast<volatile WifiBlock*>(word);
    return block->magic == kWifiMagic && block->self == word ? block : nullptr;
}

void setStatus(uint32_t status) {
    co.block->assocStatus = status;
    co.block->statusRequest = co.requestSeen;
    co.needRing = true;
}

// Everything pending, whichever call brought us here; then at most one
// doorbell, and none while the previous one is unanswered.
void service(bool frame) {
    CoHalf& c = co;
    if (c.block == nullptr || c.busy) return;
    c.busy = true;
    volatile WifiBlock& b = *c.block;
    if (c.sync != nullptr && b.coState == kCoAttached) {
        b.coState = kCoListening;
        c.needRing = true;
    }
    if (b.coState == kCoRunning) {
        if (b.connectRequest != c.requestSeen) {
            c.requestSeen = b.connectRequest;
            c.searching = true;
            c.searchFrames = 0;
            setStatus(kAssocSearching);
        } else if (c.searching && frame && ++c.searchFrames >= kSearchFrames) {
            c.searching = false;
            setStatus(kAssocCannotConnect);
        }
    }
    const bool ring = c.needRing && c.sync != nullptr && b.bellToMain == 0;
    if (ring) b.bellToMain = 1;
    if (c.sync != nullptr) c.needRing = false;
    c.busy = false;
    if (ring) c.sync();
}

}  // namespace

namespace vxwifi7 {

void Wifi_Init(u32 wifiData) {
    const WifiSyncHandler sync = co.sync;
    co = CoHalf{};
    co.sync = sync;
    co.block = attach(wifiData);
    if (co.block == nullptr) return;
    co.block->coState = kCoAttached;
    service(false);
}

void Wifi_SetSyncHandler(WifiSyncHandler handler) {
    co.sync = handler;
    service(false);
}

void Wifi_Sync(void) {
    CoHalf& c = co;
    if (c.block == nullptr) return;
    c.block->bellToCo = 0;
    // The main half has answered: the link works both ways.
    if (c.block->coState == kCoListening) {
        c.block->coState = kCoRunning;
        c.needRing = true;
    }
    service(false);
}

// No radio raises this interrupt; serving it does no harm.
void Wifi_Interrupt(void) { service(false); }

// Once a frame, from the first vertical blank on, before Wifi_Init too.
void Wifi_Update(void) { service(true); }

}  // namespace vxwifi7
