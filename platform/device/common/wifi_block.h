// The block of main memory through which the two halves of the device's
// wireless stand-in talk. The main half lays it out and hands its address to
// the program, which carries it to the co-processor in the FIFO handshake;
// each half rings the other through the programs' sync handlers. The main
// processor reaches it through the uncached view of main memory.
#ifndef VX_DEVICE_WIFI_BLOCK_H
#define VX_DEVICE_WIFI_BLOCK_H

#include <stdint.h>

namespace vxdevice {

constexpr uint32_t kWifiMagic = 0x46575856;  // "VXWF"

// The handshake takes a sync each way and back, so every link (both sync
// handlers, both FIFO handlers) has to work: the co half, once it has a sync
// handler, says Listening and rings; the main half answers with a ring of its
// own; on that the co half says Running and rings again; only that last sync
// makes the main half ready.
enum CoState : uint32_t { kCoAbsent = 0, kCoAttached = 1, kCoListening = 2, kCoRunning = 3 };

// Association states, numbered as Wifi_AssocStatus reports them.
enum AssocState : uint32_t { kAssocDisconnected = 0, kAssocSearching = 1, kAssocCannotConnect = 6 };

struct WifiBlock {
    uint32_t magic;
    uint32_t self;  // the address the block was laid out at, as handed over
    uint32_t coState;
    // A doorbell per direction: set by the ringer, cleared by the receiver's
    // Wifi_Sync, so at most one sync word is in flight each way.
    uint32_t bellToCo;
    uint32_t bellToMain;
    // Association: main posts numbered requests, co answers for a number.
    uint32_t connectRequest;
    uint32_t statusRequest;
    uint32_t assocStatus;
};

// The search a request starts lasts this many frames (3 s, as long as the
// simulated handheld searches a world without the stored access point) before
// the co half gives up: there is no radio driver, so none is ever found.
constexpr uint32_t kSearchFrames = 180;

}  // namespace vxdevice

#endif
