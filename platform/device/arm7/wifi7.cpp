// The co-processor's half of the device's wireless library: it attaches to
// the block whose address the handshake brought, completes the handshake
// through the programs' sync handlers, brings the radio up from the
// firmware, joins a stored network when asked, and moves frames between the
// radio and the block's rings: Ethernet II on the block's side, 802.11 on
// air. Everything runs in interrupt handlers (vertical blank, FIFO, radio),
// which never nest, so nothing here needs a lock.
#include <dswifi7.h>

#include "device.h"
#include "join.h"
#include "radio.h"
#include "wifi_block.h"

using namespace vxdevice;

namespace {

// Received frames bigger than a full Ethernet payload in a data frame (with
// IV, LLC and some slack) are nobody's traffic here.
constexpr size_t kAirMax = vxwlan::kHeaderLength + vxwlan::kWepIvLength + vxwlan::kLlcLength + 1500 + 8;
constexpr int kRxPerCall = 16;  // frames taken off the radio's ring per call

struct CoHalf {
    volatile WifiBlock* block = nullptr;
    CoLink link = {};
    uint32_t reported = kAssocDisconnected;
    uint32_t joinsReported = 0;
    bool busy = false;

    bool firmwareValid = false;
    bool radioUp = false;
    int tuned = 0;
    bool filtering = false;  // the radio's filter is set to `network`
    uint8_t network[6] = {};
    uint32_t networkJoins = ~0u;
    vxwlan::RadioFirmware fw;
    vxwlan::AccessPoint stored[vxwlan::kSlots];
    int storedCount = 0;
    vxwlan::Join join;
};

CoHalf co;
uint8_t area[vxwlan::kWirelessAreaBytes];
uint8_t air[kAirMax];  // one frame to or from the radio

// The block may lie anywhere in main memory, as either view, and this
// processor sees every address as it is.
constexpr MainMemory kMainMemory = {VX_MAIN_RAM, VX_MAIN_RAM + 4 * VX_MAIN_RAM_SIZE, 4,
                                    [](uint32_t address, uint32_t) { return reinterpret_cast<void*>(address); }};

void setStatus(uint32_t status) {
    co.reported = status;
    publishStatus(co.block->header, co.link, status);
}

// On each join: the station's addresses from the slot, then the count.
void announceJoin() {
    CoHalf& c = co;
    volatile Station& s = c.block->station;
    const vxwlan::AccessPoint* ap = c.join.network();
    s.ip = ap ? ap->ip : 0;
    s.gateway = ap ? ap->gateway : 0;
    s.subnetMask = ap ? ap->subnetMask : 0;
    s.dns1 = ap ? ap->dns1 : 0;
    s.dns2 = ap ? ap->dns2 : 0;
    orderAccesses();
    c.block->joinCount = c.block->joinCount + 1;
    c.joinsReported = c.join.joins();
}

void receiveFrames() {
    CoHalf& c = co;
    volatile FrameRing<kRxFrames>& ring = c.block->rx;
    for (int i = 0; i < kRxPerCall; ++i) {
        size_t length = 0;
        bool tooLong = false;
        if (!vxradio::receive(air, sizeof air, length, tooLong)) break;
        if (tooLong) continue;
        const bool room = ring.head - ring.tail < kRxFrames;
        // Without room the frame is still parsed (the join steps need
        // management frames); its data has nowhere to go.
        static uint8_t spill[kFrameMax];
        uint8_t* out = room ? const_cast<uint8_t*>(ring.slot[ring.head % kRxFrames].data) : spill;
        size_t ethLength = 0;
        c.join.receive(air, length, out, kFrameMax, ethLength);
        if (ethLength == 0) continue;
        if (!room) {
            ring.dropped = ring.dropped + 1;
            continue;
        }
        ring.slot[ring.head % kRxFrames].length = static_cast<uint32_t>(ethLength);
        // The frame's bytes went in through a plain pointer.
        orderAccesses();
        ring.head = ring.head + 1;
        c.link.needRing = true;
    }
}

// One frame on air at a time: management first, then the main half's data.
void transmitFrames() {
    CoHalf& c = co;
    if (vxradio::transmitting()) return;
    const uint8_t* frame = nullptr;
    if (const size_t n = c.join.takeManagement(frame)) {
        vxradio::transmit(frame, n, false);
        return;
    }
    volatile FrameRing<kTxFrames>& ring = c.block->tx;
    while (ring.head != ring.tail) {
        const volatile FrameSlot& slot = ring.slot[ring.tail % kTxFrames];
        const uint32_t length = slot.length;
        size_t n = 0;
        if (length <= kFrameMax) n = c.join.send(const_cast<const uint8_t*>(slot.data), length, air, sizeof air);
        orderAccesses();
        ring.tail = ring.tail + 1;
        c.link.needRing = true;
        if (n != 0) {
            const vxwlan::AccessPoint* ap = c.join.network();
            vxradio::transmit(air, n, ap != nullptr && ap->wepMode != 0);
            return;
        }
        // Not joined, or not a frame: dropped as a send without a link is.
        ring.dropped = ring.dropped + 1;
    }
}

// The radio follows the join: its channel, the network it filters for, the key.
void followJoin() {
    CoHalf& c = co;
    if (c.join.channel() != 0 && c.join.channel() != c.tuned) {
        vxradio::tune(area, sizeof area, c.join.channel());
        c.tuned = c.join.channel();
    }
    const uint8_t* bssid = c.join.bssid();
    const bool changed = (bssid != nullptr) != c.filtering || (bssid != nullptr && !vxwlan::sameMac(bssid, c.network));
    if (changed || (c.join.joined() && c.join.joins() != c.networkJoins)) {
        const vxwlan::AccessPoint* ap = c.join.network();
        vxradio::setNetwork(bssid, c.join.joined() ? c.join.aid() : 0);
        if (ap != nullptr && ap->wepMode != 0) vxradio::setKey(ap->wepKey, ap->wepKeyLength, ap->wepMode);
        else vxradio::setKey(nullptr, 0, 0);
        c.filtering = bssid != nullptr;
        for (size_t i = 0; i < 6; ++i) c.network[i] = bssid != nullptr ? bssid[i] : 0;
        c.networkJoins = c.join.joined() ? c.join.joins() : ~0u;
    }
}

void runRadio(bool frame) {
    CoHalf& c = co;
    if (!c.radioUp && frame && c.firmwareValid) {
        c.radioUp = vxradio::bringUp(area, sizeof area, c.fw);
        if (c.radioUp) c.tuned = 0;
    }
    if (c.radioUp) receiveFrames();
    if (frame && c.link.requestSeen != 0) c.join.frame();
    if (c.radioUp) {
        if (frame) {
            vxradio::keepAwake();
            vxradio::transmitFrame();
        }
        followJoin();
        transmitFrames();
    } else {
        // No radio: nothing leaves, and the main half's frames must not pile up.
        const uint8_t* unused = nullptr;
        c.join.takeManagement(unused);
        volatile FrameRing<kTxFrames>& ring = c.block->tx;
        while (ring.head != ring.tail) {
            ring.tail = ring.tail + 1;
            ring.dropped = ring.dropped + 1;
            c.link.needRing = true;
        }
    }
    if (c.join.joined() && c.join.joins() != c.joinsReported) announceJoin();
    if (c.link.requestSeen != 0 && c.join.status() != c.reported) setStatus(c.join.status());
}

// Everything pending, whichever call brought us here; then at most one
// doorbell, and none while the previous one is unanswered.
void service(bool frame) {
    CoHalf& c = co;
    if (c.block == nullptr || c.busy) return;
    c.busy = true;
    volatile BlockHeader& h = c.block->header;
    // The radio's requests are served below, whatever state the link is in;
    // left set, they would keep its interrupt from firing again.
    if (c.radioUp) vxradio::takeInterrupts();
    coListen(h, c.link);
    if (coRunning(h)) {
        if (takeConnectRequest(h, c.link)) {
            c.join.start(c.fw.mac, c.fw.channels, c.stored, c.storedCount, kSearchFrames);
            setStatus(c.join.status());
        }
        runRadio(frame);
    } else if (frame && c.firmwareValid && !c.radioUp) {
        // The radio comes up while the handshake is still going on.
        c.radioUp = vxradio::bringUp(area, sizeof area, c.fw);
    }
    const SyncHandler ring = ringMain(h, c.link);
    c.busy = false;
    if (ring != nullptr) ring();
}

}  // namespace

namespace vxwifi7 {

void Wifi_Init(u32 wifiData) {
    co.block = nullptr;
    co.reported = kAssocDisconnected;
    co.busy = false;
    auto* block = static_cast<volatile WifiBlock*>(coAttach(wifiData, sizeof(WifiBlock), kMainMemory, co.link));
    if (block == nullptr) return;
    if (!co.firmwareValid) {
        co.firmwareValid = vxradio::readFirmware(area, sizeof area, co.stored, co.storedCount) &&
                           vxwlan::parseRadioFirmware(area, sizeof area, co.fw);
    }
    for (size_t i = 0; i < 6; ++i) block->station.mac[i] = co.fw.mac[i];
    co.joinsReported = 0;
    co.block = block;
    coAttached(block->header);
    service(false);
}

void Wifi_SetSyncHandler(WifiSyncHandler handler) {
    co.link.sync = handler;
    service(false);
}

void Wifi_Sync(void) {
    CoHalf& c = co;
    if (c.block == nullptr) return;
    coSynced(c.block->header, c.link);
    service(false);
}

// A frame received or sent: served at once rather than at the next frame.
void Wifi_Interrupt(void) { service(false); }

// Once a frame, from the first vertical blank on, before Wifi_Init too.
void Wifi_Update(void) { service(true); }

}  // namespace vxwifi7
