// What the two halves of the wireless library agree on in both back-ends,
// the simulated handheld's and the device's: the block's magic word, the
// handshake's steps, the association states and how long a search lasts.
// The block's header and each half's steps are in wifi_link.h.
#ifndef VX_SHARED_WIFI_HANDSHAKE_H
#define VX_SHARED_WIFI_HANDSHAKE_H

#include <stdint.h>

namespace vxshared::wifi {

constexpr uint32_t kMagic = 0x46575856;  // "VXWF"

// The handshake takes a sync each way and back, so every link (both sync
// handlers, both FIFO handlers) has to work: the co half, once it has a sync
// handler, says Listening and rings; the main half answers with a ring of its
// own; on that the co half says Running and rings again; only that last sync
// makes the main half ready.
enum CoState : uint32_t { kCoAbsent = 0, kCoAttached = 1, kCoListening = 2, kCoRunning = 3 };

// Association states, numbered as Wifi_AssocStatus reports them.
enum AssocState : uint32_t {
    kAssocDisconnected = 0,
    kAssocSearching = 1,
    kAssocAuthenticating = 2,
    kAssocAssociating = 3,
    kAssocAcquiringDhcp = 4,
    kAssocAssociated = 5,
    kAssocCannotConnect = 6,
};

// A connect request searches a world without the stored access point this
// long before the co half reports "cannot connect".
constexpr uint32_t kSearchMilliseconds = 3000;

}  // namespace vxshared::wifi

#endif
