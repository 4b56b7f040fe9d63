// The co-processor half of the wireless library: it attaches to the block
// that the main half laid out, joins the access point, and moves datagrams
// between the block and the radio.
#include <dswifi7.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "hw.h"
#include "wireless.h"

namespace vxsim::wifi {

void* mapped(uint32_t address, uint32_t bytes) {
    auto* first = static_cast<uint8_t*>(hw::deviceMemory(address));
    auto* last = static_cast<uint8_t*>(hw::deviceMemory(address + bytes - 1));
    return first != nullptr && last == first + bytes - 1 ? first : nullptr;
}

namespace {

// The block is looked for below the transfer region only: a word that names
// it through a mirror of main memory designates no block.
constexpr MainMemory kMainMemory = {kMainRamStart, kReservedTop, 8, mapped};

constexpr uint64_t ms(uint64_t milliseconds) { return kBusHz * milliseconds / 1000; }
// One sweep of the channels, then the exchanges of joining. A world without
// the stored access point is searched for this long before giving up.
constexpr uint64_t kScanCycles = ms(250);
constexpr uint64_t kAuthCycles = ms(120);
constexpr uint64_t kAssocCycles = ms(120);
constexpr uint64_t kDhcpCycles = ms(400);
constexpr uint64_t kGiveUpCycles = ms(kSearchMilliseconds);

CoHalf& co() { return hw::wireless().co; }

Radio& radio() { return hw::wireless().radio; }

const char* statusName(uint32_t status) {
    static const char* const names[] = {"disconnected",   "searching",  "authenticating", "associating",
                                        "acquiring DHCP", "associated", "cannot connect"};
    return status < 7 ? names[status] : "?";
}

void setStatus(uint32_t status) {
    CoHalf& c = co();
    c.status = status;
    publishStatus(c.block->header, c.link, status);
    hw::trace(TraceKind::Wifi, std::string("association: ") + statusName(status));
}

void startPhase(Phase phase, uint64_t cycles) {
    CoHalf& c = co();
    c.phase = phase;
    radio().startTimer(cycles, ++c.timerTag);
}

void beginAssociation() {
    CoHalf& c = co();
    if (!hw::config().storedSettings) {
        // Nothing to look for.
        c.phase = Phase::Done;
        setStatus(kAssocCannotConnect);
        return;
    }
    c.scansDone = 0;
    setStatus(kAssocSearching);
    startPhase(Phase::Scanning, kScanCycles);
}

void timerExpired(uint32_t tag) {
    CoHalf& c = co();
    if (tag != c.timerTag) {
        return;  // from an association that has been restarted since
    }
    switch (c.phase) {
    case Phase::Scanning:
        if (hw::config().matchingAccessPoint) {
            setStatus(kAssocAuthenticating);
            startPhase(Phase::Authenticating, kAuthCycles);
        } else if (++c.scansDone >= kGiveUpCycles / kScanCycles) {
            // Counted in sweeps, not read off the clock: each sweep starts a
            // little after the last one ended, and that drift must not cost
            // the search its last sweep.
            c.phase = Phase::Done;
            setStatus(kAssocCannotConnect);
        } else {
            startPhase(Phase::Scanning, kScanCycles);
        }
        break;
    case Phase::Authenticating:
        setStatus(kAssocAssociating);
        startPhase(Phase::Associating, kAssocCycles);
        break;
    case Phase::Associating:
        setStatus(kAssocAcquiringDhcp);
        startPhase(Phase::Dhcp, kDhcpCycles);
        break;
    case Phase::Dhcp:
        c.phase = Phase::Done;
        setStatus(kAssocAssociated);
        break;
    case Phase::Idle:
    case Phase::Done:
        break;
    }
}

void transmitPending() {
    CoHalf& c = co();
    SharedBlock& b = *c.block;
    while (b.txDone != b.txHead) {
        const TxSlot& slot = b.tx[b.txDone % kTxSlots];
        if (slot.op == kTxSend) {
            if (c.status == kAssocAssociated && slot.length <= static_cast<uint32_t>(kMaxDatagram)) {
                radio().transmit(slot.socket, slot.address, slot.port,
                                 reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(slot.buffer)), slot.length);
            } else {
                hw::trace(TraceKind::NetDrop,
                          "datagram of socket " + std::to_string(slot.socket) + " not sent: not associated");
            }
        } else if (slot.op == kTxClose) {
            radio().close(slot.socket);
        }
        ++b.txDone;
        c.link.needRing = true;  // main frees the sent buffer
    }
}

void collectReceived() {
    CoHalf& c = co();
    SharedBlock& b = *c.block;
    Datagram d;
    while (b.rxHead - b.rxTail < static_cast<uint32_t>(kRxSlots) && radio().takeDatagram(d)) {
        RxSlot& slot = b.rx[b.rxHead % kRxSlots];
        slot.socket = d.socket;
        slot.address = d.address;
        slot.port = d.port;
        slot.length = static_cast<uint32_t>(d.data.size());
        if (!d.data.empty()) {
            std::memcpy(slot.data, d.data.data(), d.data.size());
        }
        ++b.rxHead;
        c.link.needRing = true;
    }
}

// Everything pending, whichever call brought us here; then at most one
// doorbell, and none while the previous one is unanswered.
void service() {
    CoHalf& c = co();
    if (c.block == nullptr || c.busy) {
        return;
    }
    c.busy = true;
    BlockHeader& h = c.block->header;
    if (coListen(h, c.link)) {
        hw::trace(TraceKind::Wifi, "co-processor half listening");
    }
    if (coRunning(h)) {
        if (takeConnectRequest(h, c.link)) {
            beginAssociation();
        }
        uint32_t tag = 0;
        while (radio().takeTimer(tag)) {
            timerExpired(tag);
        }
        transmitPending();
        collectReceived();
    }
    SyncHandler ring = ringMain(h, c.link);
    c.busy = false;
    if (ring != nullptr) {
        ring();
    }
}

}  // namespace
}  // namespace vxsim::wifi

namespace vxwifi7 {
using namespace vxsim;
using namespace vxsim::wifi;

void Wifi_Init(u32 wifiData) {
    hw::enterCall("Wifi_Init", Cpu::Co);
    char text[40];
    std::snprintf(text, sizeof text, "Wifi_Init(0x%08x)", static_cast<unsigned>(wifiData));
    hw::trace(TraceKind::Call, text);
    CoHalf& c = co();
    c.block = static_cast<SharedBlock*>(coAttach(wifiData, sizeof(SharedBlock), kMainMemory, c.link));
    c.phase = Phase::Idle;
    c.status = kAssocDisconnected;
    if (c.block == nullptr) {
        std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(wifiData));
        hw::trace(TraceKind::Wifi,
                  std::string("Wifi_Init: ") + text + " designates no wireless block; the link stays down");
        return;
    }
    radio().reset();
    coAttached(c.block->header);
    hw::trace(TraceKind::Wifi, "co-processor half attached");
    service();
}

void Wifi_SetSyncHandler(WifiSyncHandler handler) {
    hw::enterCall("Wifi_SetSyncHandler", Cpu::Co);
    hw::trace(TraceKind::Call, handler ? "Wifi_SetSyncHandler(handler)" : "Wifi_SetSyncHandler(null)");
    co().link.sync = handler;
    service();
}

void Wifi_Sync(void) {
    hw::enterCall("Wifi_Sync", Cpu::Co);
    hw::trace(TraceKind::Call, "Wifi_Sync()");
    CoHalf& c = co();
    if (c.block == nullptr) {
        return;
    }
    if (coSynced(c.block->header, c.link)) {
        hw::trace(TraceKind::Wifi, "co-processor half running");
    }
    service();
}

void Wifi_Interrupt(void) {
    hw::enterCall("Wifi_Interrupt", Cpu::Co);
    hw::trace(TraceKind::Call, "Wifi_Interrupt()");
    service();
}

void Wifi_Update(void) {
    hw::enterCall("Wifi_Update", Cpu::Co);
    service();
}

}  // namespace vxwifi7
