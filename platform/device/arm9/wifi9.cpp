// The main processor's half of the device's wireless library, and its socket
// layer. The co-processor's half runs the radio and reports how far joining
// has got; once it says the link carries frames, this half takes an address
// (the access-point slot's own, or one from DHCP) and from then on its IPv4
// stack turns the frames of the shared block's rings into the sockets'
// datagrams and back.
//
// The stack runs from the program's sync and 50 ms timer interrupts, so that
// ARP, DHCP and echo requests are answered whatever the program is doing, and
// from the socket calls; those hold interrupts off (REG_IME) while they touch
// it. Time is what Wifi_Timer has been told.
#include <dswifi9.h>
#include <string.h>

#include "device.h"
#include "ipstack.h"
#include "wifi_block.h"

using namespace vxdevice;

namespace {

static_assert(vxip::kFrameMax == kFrameMax, "the stack's frames fit the block's slots");

// Laid out in main memory, reached only through the uncached view.
alignas(32) uint8_t blockStorage[(sizeof(WifiBlock) + 31) / 32 * 32];

struct MainHalf {
    volatile WifiBlock* block;
    MainLink link;
    uint32_t joinSeen;
    bool started;    // the stack has been told the link is up
    bool busy;       // service() is running
    bool ringAfter;  // frames were queued for the co half
    uint32_t now;    // milliseconds, from Wifi_Timer
    uint32_t badLength;
} half;

vxip::Stack stack;
uint8_t frameIn[vxip::kFrameMax];  // a received frame, out of the ring

// Interrupts held off for a scope; whatever was set before comes back.
class NoInterrupts {
public:
    NoInterrupts() : saved_(REG_IME) { REG_IME = 0; }
    ~NoInterrupts() { REG_IME = saved_; }
    NoInterrupts(const NoInterrupts&) = delete;
    NoInterrupts& operator=(const NoInterrupts&) = delete;

private:
    uint32_t saved_;
};

// Until an interrupt: a blocking receive waits here, with interrupts on.
inline void waitForInterrupt() { asm volatile("mcr p15, 0, %0, c7, c0, 4" : : "r"(0) : "memory"); }

void ringCo() {
    if (half.block != nullptr) vxshared::wifi::ringCo(half.block->header, half.link);
}

// The co half's answer to our latest request.
uint32_t linkStatus() {
    return half.block == nullptr ? kAssocDisconnected : vxshared::wifi::linkStatus(half.block->header, half.link);
}

bool linkCarriesFrames(uint32_t status) { return status == kAssocAcquiringDhcp || status == kAssocAssociated; }

// The status the program sees: the co half's up to joining, ours after.
uint32_t status() {
    const uint32_t link = linkStatus();
    if (!linkCarriesFrames(link)) return link;
    if (stack.hasAddress()) return kAssocAssociated;
    return stack.gaveUp() ? kAssocCannotConnect : kAssocAcquiringDhcp;
}

bool queueFrame(void*, const uint8_t* frame, uint32_t length) {
    volatile WifiBlock* b = half.block;
    if (b == nullptr || length > kFrameMax) return false;
    volatile FrameRing<kTxFrames>& ring = b->tx;
    const uint32_t head = ring.head;
    if (head - ring.tail >= kTxFrames) {
        ring.dropped = ring.dropped + 1;
        return false;
    }
    volatile FrameSlot& slot = ring.slot[head % kTxFrames];
    // The slot's bytes are plain memory between the counters' volatile accesses.
    orderAccesses();
    memcpy(const_cast<uint8_t*>(slot.data), frame, length);
    orderAccesses();
    slot.length = length;
    ring.head = head + 1;
    half.ringAfter = true;
    return true;
}

void takeFrames() {
    volatile FrameRing<kRxFrames>& ring = half.block->rx;
    // At most one ring's worth a pass: a co half that keeps filling it cannot
    // keep us here.
    for (uint32_t n = 0; n < kRxFrames && ring.tail != ring.head; ++n) {
        const uint32_t tail = ring.tail;
        volatile FrameSlot& slot = ring.slot[tail % kRxFrames];
        const uint32_t length = slot.length;
        const bool fits = length <= kFrameMax;
        if (fits) {
            orderAccesses();
            memcpy(frameIn, const_cast<const uint8_t*>(slot.data), length);
            orderAccesses();
        }
        ring.tail = tail + 1;
        if (fits) stack.receive(frameIn, length, half.now);
        else ++half.badLength;
    }
}

// Everything pending, whichever call brought us here. Interrupts are off.
void service() {
    MainHalf& h = half;
    if (h.block == nullptr || h.busy) return;
    h.busy = true;
    volatile WifiBlock& b = *h.block;
    const bool answer = answerDue(b.header);
    if (coRunning(b.header)) {
        const uint32_t link = linkStatus();
        const uint32_t join = b.joinCount;
        if (!linkCarriesFrames(link)) {
            if (h.started) stack.linkDown();
            h.started = false;
        } else if (!h.started || join != h.joinSeen) {
            // A new join: the station's addresses as the co half left them.
            h.joinSeen = join;
            h.started = true;
            uint8_t mac[6];
            for (int i = 0; i < 6; ++i) mac[i] = b.station.mac[i];
            vxip::Config fixed;
            fixed.address = ntohl(b.station.ip);
            fixed.subnetMask = ntohl(b.station.subnetMask);
            fixed.gateway = ntohl(b.station.gateway);
            fixed.dns[0] = ntohl(b.station.dns1);
            fixed.dns[1] = ntohl(b.station.dns2);
            stack.linkUp(mac, fixed, h.now);
        }
        takeFrames();
        stack.tick(h.now);
    }
    h.busy = false;
    if (answer || h.ringAfter) {
        h.ringAfter = false;
        ringCo();
    }
}

bool associated() {
    service();
    return status() == kAssocAssociated;
}

}  // namespace

namespace vxwifi9 {

u32 Wifi_Init(int initflags) {
    (void)initflags;
    NoInterrupts off;
    const uint32_t address = reinterpret_cast<uint32_t>(blockStorage) | VX_UNCACHED_MIRROR;
    // Rings, station and counters all start at zero.
    layOut(reinterpret_cast<void*>(address), address, sizeof(WifiBlock));
    const WifiSyncHandler sync = half.link.sync;
    half = MainHalf{};
    half.link.sync = sync;
    half.block = reinterpret_cast<volatile WifiBlock*>(address);
    stack.init(queueFrame, nullptr);
    return address;
}

int Wifi_CheckInit(void) { return half.link.ready ? 1 : 0; }

void Wifi_SetSyncHandler(WifiSyncHandler handler) { half.link.sync = handler; }

void Wifi_Sync(void) {
    NoInterrupts off;
    MainHalf& h = half;
    if (h.block == nullptr) return;
    mainSynced(h.block->header, h.link);
    service();
}

// Time for the stack's retries; a doorbell may have been missed, so the
// rings are looked at too.
void Wifi_Timer(int num_ms) {
    NoInterrupts off;
    if (num_ms > 0) half.now += static_cast<uint32_t>(num_ms);
    service();
}

void Wifi_AutoConnect(void) {
    NoInterrupts off;
    MainHalf& h = half;
    if (h.block == nullptr) return;
    postConnectRequest(h.block->header, h.link);
    ringCo();
}

int Wifi_AssocStatus(void) {
    NoInterrupts off;
    service();
    return static_cast<int>(status());
}

}  // namespace vxwifi9

namespace vxnet {

uint16_t htons(uint16_t value) { return __builtin_bswap16(value); }
uint16_t ntohs(uint16_t value) { return __builtin_bswap16(value); }
uint32_t htonl(uint32_t value) { return __builtin_bswap32(value); }
uint32_t ntohl(uint32_t value) { return __builtin_bswap32(value); }

unsigned long inet_addr(const char* text) {
    if (text == nullptr) return INADDR_NONE;
    uint32_t address = 0;
    const char* p = text;
    for (int i = 0; i < 4; ++i) {
        if (*p < '0' || *p > '9') return INADDR_NONE;
        uint32_t value = 0;
        int digits = 0;
        while (*p >= '0' && *p <= '9') {
            value = value * 10 + static_cast<uint32_t>(*p - '0');
            if (++digits > 3 || value > 255) return INADDR_NONE;
            ++p;
        }
        address = address << 8 | value;
        if (i < 3 && *p++ != '.') return INADDR_NONE;
    }
    return *p == '\0' ? htonl(address) : INADDR_NONE;
}

int socket(int domain, int type, int protocol) {
    if (domain != AF_INET || type != SOCK_DGRAM || (protocol != 0 && protocol != IPPROTO_UDP)) return -1;
    NoInterrupts off;
    return stack.openSocket();
}

int closesocket(int s) {
    NoInterrupts off;
    return stack.closeSocket(s) ? 0 : -1;
}

// Checked in the simulated handheld's order: handle, association, address,
// length; then the datagram is sent, or held while its next hop resolves.
int sendto(int s, const void* data, int sendlength, int flags, const struct sockaddr* addr, int addrlen) {
    (void)flags;
    NoInterrupts off;
    if (!stack.isOpen(s) || !associated()) return -1;
    const auto* to = reinterpret_cast<const sockaddr_in*>(addr);
    if (addr == nullptr || addrlen < static_cast<int>(sizeof(sockaddr_in)) || to->sin_family != AF_INET) return -1;
    if (sendlength < 0 || sendlength > static_cast<int>(vxip::kMaxDatagram) || (data == nullptr && sendlength > 0))
        return -1;
    const int sent = stack.sendTo(s, ntohl(to->sin_addr.s_addr), ntohs(to->sin_port), static_cast<const uint8_t*>(data),
                                  static_cast<uint32_t>(sendlength), half.now);
    if (half.ringAfter) {
        half.ringAfter = false;
        ringCo();
    }
    return sent < 0 ? -1 : sent;
}

// Waits, with interrupts on, until a datagram is there: they come in from
// the interrupts.
int recvfrom(int s, void* data, int recvlength, int flags, struct sockaddr* addr, int* addrlen) {
    (void)flags;
    {
        NoInterrupts off;
        if (!stack.isOpen(s) || !associated()) return -1;
    }
    if (recvlength < 0 || (data == nullptr && recvlength > 0)) return -1;
    for (;;) {
        {
            NoInterrupts off;
            service();
            if (!stack.isOpen(s)) return -1;  // closed while we waited
            uint32_t from = 0;
            uint16_t port = 0;
            const int n =
                stack.receiveFrom(s, static_cast<uint8_t*>(data), static_cast<uint32_t>(recvlength), &from, &port);
            if (n >= 0) {
                if (addr != nullptr) {
                    sockaddr_in source{};
                    source.sin_family = AF_INET;
                    source.sin_port = htons(port);
                    source.sin_addr.s_addr = htonl(from);
                    uint32_t room = sizeof source;
                    if (addrlen != nullptr && *addrlen >= 0 && static_cast<uint32_t>(*addrlen) < room)
                        room = static_cast<uint32_t>(*addrlen);
                    memcpy(addr, &source, room);
                }
                if (addrlen != nullptr) *addrlen = static_cast<int>(sizeof(sockaddr_in));
                return n;
            }
        }
        // Interrupts are on here: the next one (the frame's sync, the 50 ms
        // timer, a vertical blank) ends the wait.
        waitForInterrupt();
    }
}

}  // namespace vxnet
