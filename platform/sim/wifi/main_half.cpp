// The main-processor half of the wireless library and its socket layer.
//
// The half owns the shared block: it lays it out in main memory, learns from
// it (on a sync, or on the 50 ms timer) what the co-processor half has done,
// and posts requests and datagrams into it. The IP stack's packet buffers come
// from the program's own allocation hooks.
#include <dswifi9.h>

#include <bit>
#include <cstdio>
#include <cstring>
#include <string>

#include "hw.h"
#include "wireless.h"

namespace vxsim::wifi {
namespace {

// Asking for the status reads a word or two of the block: cheaper than a call.
constexpr uint32_t kStatusCost = 16;
// Datagrams a socket holds before further arrivals are dropped, as a UDP
// stack would.
constexpr size_t kMaxQueuedPerSocket = 64;

MainHalf& half() { return hw::wireless().main; }

std::string endpoint(uint32_t addressNet, uint16_t portNet) {
    const auto* a = reinterpret_cast<const uint8_t*>(&addressNet);
    char text[32];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u:%u", a[0], a[1], a[2], a[3], vxnet::ntohs(portNet));
    return text;
}

void* takeBuffer(int size) {
    auto hook = hw::program(Cpu::Main).ipMalloc;
    if (hook == nullptr) {
        hw::trace(TraceKind::Alloc, "sgIP_malloc(" + std::to_string(size) + "): the program has no sgIP_malloc");
        return nullptr;
    }
    // Even an empty datagram has a packet buffer.
    int request = size > 0 ? size : 1;
    void* block = hook(request);
    hw::trace(TraceKind::Alloc, "sgIP_malloc(" + std::to_string(request) + ")" + (block ? "" : " = null"));
    return block;
}

void giveBack(void* buffer) {
    if (buffer == nullptr) {
        return;
    }
    auto hook = hw::program(Cpu::Main).ipFree;
    if (hook == nullptr) {
        hw::trace(TraceKind::Alloc, "sgIP_free: the program has no sgIP_free");
        return;
    }
    hook(buffer);
    hw::trace(TraceKind::Alloc, "sgIP_free");
}

void refreshStatus() {
    MainHalf& h = half();
    h.status = h.block == nullptr ? kAssocDisconnected : linkStatus(h.block->header, h.link);
}

bool validSocket(int s) { return s >= 0 && s < kMaxSockets && half().sockets[s].open; }

void ringCo() {
    MainHalf& h = half();
    if (h.block != nullptr) {
        vxshared::wifi::ringCo(h.block->header, h.link);
    }
}

// Takes in whatever the co half has done: sent buffers back to the program,
// received datagrams into their sockets.
void service() {
    MainHalf& h = half();
    if (h.block == nullptr || h.busy) {
        return;
    }
    h.busy = true;
    SharedBlock& b = *h.block;
    bool answer = answerDue(b.header);
    refreshStatus();
    while (h.txFreed != b.txDone) {
        TxSlot& slot = b.tx[h.txFreed % kTxSlots];
        giveBack(reinterpret_cast<void*>(static_cast<uintptr_t>(slot.buffer)));
        slot.buffer = 0;
        ++h.txFreed;
    }
    while (b.rxTail != b.rxHead) {
        const RxSlot& slot = b.rx[b.rxTail % kRxSlots];
        std::string what = "datagram from " + endpoint(slot.address, slot.port);
        if (!validSocket(slot.socket)) {
            hw::trace(TraceKind::NetDrop, what + ": socket " + std::to_string(slot.socket) + " is not open");
        } else if (h.sockets[slot.socket].queue.size() >= kMaxQueuedPerSocket) {
            hw::trace(TraceKind::NetDrop, what + ": socket " + std::to_string(slot.socket) + " queue full");
        } else if (void* buffer = takeBuffer(static_cast<int>(slot.length))) {
            if (slot.length > 0) {
                std::memcpy(buffer, slot.data, slot.length);
            }
            h.sockets[slot.socket].queue.push_back(
                Queued{buffer, static_cast<int>(slot.length), slot.address, slot.port});
        } else {
            hw::trace(TraceKind::NetDrop, what + ": no buffer");
        }
        ++b.rxTail;
    }
    h.busy = false;
    if (answer) {
        ringCo();
    }
}

void dropQueue(Socket& socket) {
    for (Queued& q : socket.queue) {
        giveBack(q.buffer);
    }
    socket.queue.clear();
}

// Why socket `s` cannot carry a datagram now (after taking in what the co
// half has done), or null when it can.
const char* cannotCarry(int s) {
    if (!validSocket(s)) {
        return "bad handle";
    }
    service();
    return half().status == kAssocAssociated ? nullptr : "not associated";
}

int failCall(const std::string& call, const char* why) {
    hw::trace(TraceKind::Call, call + "=-1 (" + why + ")");
    return -1;
}

}  // namespace

void returnUnreadDatagrams(Wireless& wireless, void (*ipFree)(void*)) {
    for (Socket& socket : wireless.main.sockets) {
        if (ipFree != nullptr) {
            for (Queued& q : socket.queue) {
                if (q.buffer != nullptr) ipFree(q.buffer);
            }
        }
        socket.queue.clear();
    }
}

}  // namespace vxsim::wifi

namespace vxwifi9 {
using namespace vxsim;
using namespace vxsim::wifi;

u32 Wifi_Init(int initflags) {
    hw::enterCall("Wifi_Init", Cpu::Main);
    hw::trace(TraceKind::Call, "Wifi_Init(" + std::to_string(initflags) + ")");
    void* memory = mapped(kBlockAddress, sizeof(SharedBlock));
    if (memory == nullptr) {
        hw::fatal("Wifi_Init: main memory is not mapped where the wireless block goes");
    }
    MainHalf& h = half();
    for (Socket& s : h.sockets) {
        dropQueue(s);
        s.open = false;
    }
    // Buffers still with the co half of the previous start (never more than
    // the ring holds, whatever the program did to the block meanwhile).
    if (h.block != nullptr && h.block->txHead - h.txFreed <= static_cast<uint32_t>(kTxSlots)) {
        for (uint32_t i = h.txFreed; i != h.block->txHead; ++i) {
            giveBack(reinterpret_cast<void*>(static_cast<uintptr_t>(h.block->tx[i % kTxSlots].buffer)));
        }
    }
    WifiSyncHandler sync = h.link.sync;
    h = MainHalf{};
    h.link.sync = sync;
    layOut(memory, kBlockAddress, sizeof(SharedBlock));
    h.block = static_cast<SharedBlock*>(memory);
    return kBlockAddress;
}

int Wifi_CheckInit(void) {
    hw::enterCall("Wifi_CheckInit", Cpu::Main);
    MainHalf& h = half();
    int result = h.link.ready ? 1 : 0;
    if (result != h.checkInitTraced) {
        h.checkInitTraced = result;
        hw::trace(TraceKind::Call, "Wifi_CheckInit()=" + std::to_string(result));
    }
    return result;
}

void Wifi_SetSyncHandler(WifiSyncHandler handler) {
    hw::enterCall("Wifi_SetSyncHandler", Cpu::Main);
    hw::trace(TraceKind::Call, handler ? "Wifi_SetSyncHandler(handler)" : "Wifi_SetSyncHandler(null)");
    half().link.sync = handler;
}

void Wifi_Sync(void) {
    hw::enterCall("Wifi_Sync", Cpu::Main);
    hw::trace(TraceKind::Call, "Wifi_Sync()");
    MainHalf& h = half();
    if (h.block == nullptr) {
        return;
    }
    if (mainSynced(h.block->header, h.link)) {
        hw::trace(TraceKind::Wifi, "both halves running");
    }
    service();
}

void Wifi_Timer(int num_ms) {
    hw::enterCall("Wifi_Timer", Cpu::Main);
    hw::trace(TraceKind::Call, "Wifi_Timer(" + std::to_string(num_ms) + ")");
    // A doorbell may have been lost; the data path goes on regardless.
    service();
}

void Wifi_AutoConnect(void) {
    hw::enterCall("Wifi_AutoConnect", Cpu::Main);
    hw::trace(TraceKind::Call, "Wifi_AutoConnect()");
    MainHalf& h = half();
    if (h.block == nullptr) {
        hw::trace(TraceKind::Wifi, "Wifi_AutoConnect: the library is not initialised");
        return;
    }
    postConnectRequest(h.block->header, h.link);
    refreshStatus();
    ringCo();
}

int Wifi_AssocStatus(void) {
    hw::enterCall("Wifi_AssocStatus", Cpu::Main, kStatusCost);
    MainHalf& h = half();
    uint32_t before = h.status;
    refreshStatus();
    if (static_cast<int>(h.status) != h.statusTraced) {
        h.statusTraced = static_cast<int>(h.status);
        hw::trace(TraceKind::Call, "Wifi_AssocStatus()=" + std::to_string(h.status));
    }
    // What this call reports is what it traced: a change that lands while
    // idling below belongs to the next call.
    int result = static_cast<int>(h.status);
    if (h.status == before) {
        // Nothing changes before the next event; polling until then is idle.
        hw::idleUntil(hw::now() + kCyclesPerFrame);
    }
    return result;
}

}  // namespace vxwifi9

namespace vxnet {
using namespace vxsim;
using namespace vxsim::wifi;

uint16_t htons(uint16_t value) {
    return std::endian::native == std::endian::little ? static_cast<uint16_t>((value >> 8) | (value << 8)) : value;
}
uint16_t ntohs(uint16_t value) { return htons(value); }
uint32_t htonl(uint32_t value) { return std::endian::native == std::endian::little ? __builtin_bswap32(value) : value; }
uint32_t ntohl(uint32_t value) { return htonl(value); }

unsigned long inet_addr(const char* text) {
    if (text == nullptr) {
        return INADDR_NONE;
    }
    uint32_t parts[4] = {};
    const char* p = text;
    for (int i = 0; i < 4; ++i) {
        if (*p < '0' || *p > '9') {
            return INADDR_NONE;
        }
        uint32_t value = 0;
        int digits = 0;
        while (*p >= '0' && *p <= '9') {
            value = value * 10 + static_cast<uint32_t>(*p - '0');
            if (++digits > 3 || value > 255) {
                return INADDR_NONE;
            }
            ++p;
        }
        parts[i] = value;
        if (i < 3) {
            if (*p != '.') {
                return INADDR_NONE;
            }
            ++p;
        }
    }
    if (*p != '\0') {
        return INADDR_NONE;
    }
    return htonl(parts[0] << 24 | parts[1] << 16 | parts[2] << 8 | parts[3]);
}

int socket(int domain, int type, int protocol) {
    hw::enterCall("socket", Cpu::Main);
    std::string call =
        "socket(" + std::to_string(domain) + ", " + std::to_string(type) + ", " + std::to_string(protocol) + ")";
    if (domain != AF_INET || type != SOCK_DGRAM || (protocol != 0 && protocol != IPPROTO_UDP)) {
        return failCall(call, "only UDP over IPv4");
    }
    MainHalf& h = half();
    for (int s = 0; s < kMaxSockets; ++s) {
        if (!h.sockets[s].open) {
            h.sockets[s].open = true;
            hw::trace(TraceKind::Call, call + "=" + std::to_string(s));
            return s;
        }
    }
    return failCall(call, "no free socket");
}

int closesocket(int s) {
    hw::enterCall("closesocket", Cpu::Main);
    std::string call = "closesocket(" + std::to_string(s) + ")";
    if (!validSocket(s)) {
        return failCall(call, "bad handle");
    }
    MainHalf& h = half();
    service();
    dropQueue(h.sockets[s]);
    h.sockets[s].open = false;
    // The co half releases the host socket, after whatever was sent before.
    if (h.block != nullptr && h.block->txHead - h.txFreed < static_cast<uint32_t>(kTxSlots)) {
        TxSlot& slot = h.block->tx[h.block->txHead % kTxSlots];
        slot = TxSlot{};
        slot.op = kTxClose;
        slot.socket = s;
        ++h.block->txHead;
        ringCo();
    }
    hw::trace(TraceKind::Call, call + "=0");
    return 0;
}

int sendto(int s, const void* data, int sendlength, int flags, const struct sockaddr* addr, int addrlen) {
    (void)flags;
    hw::enterCall("sendto", Cpu::Main);
    std::string call = "sendto(" + std::to_string(s) + ", " + std::to_string(sendlength) + " bytes";
    const auto* to = reinterpret_cast<const sockaddr_in*>(addr);
    if (addr != nullptr && addrlen >= static_cast<int>(sizeof(sockaddr_in))) {
        call += ", " + endpoint(to->sin_addr.s_addr, to->sin_port);
    }
    call += ")";
    if (const char* why = cannotCarry(s)) {
        return failCall(call, why);
    }
    MainHalf& h = half();
    if (addr == nullptr || addrlen < static_cast<int>(sizeof(sockaddr_in)) || to->sin_family != AF_INET) {
        return failCall(call, "bad address");
    }
    if (sendlength < 0 || sendlength > kMaxDatagram || (data == nullptr && sendlength > 0)) {
        return failCall(call, "bad length");
    }
    SharedBlock& b = *h.block;
    if (b.txHead - h.txFreed >= static_cast<uint32_t>(kTxSlots)) {
        return failCall(call, "send queue full");
    }
    void* buffer = takeBuffer(sendlength);
    if (buffer == nullptr) {
        return failCall(call, "no buffer");
    }
    if (sendlength > 0) {
        std::memcpy(buffer, data, static_cast<size_t>(sendlength));
    }
    TxSlot& slot = b.tx[b.txHead % kTxSlots];
    slot = TxSlot{};
    slot.op = kTxSend;
    slot.socket = s;
    slot.address = to->sin_addr.s_addr;
    slot.port = to->sin_port;
    slot.length = static_cast<uint32_t>(sendlength);
    slot.buffer = reinterpret_cast<uintptr_t>(buffer);
    ++b.txHead;
    hw::trace(TraceKind::Call, call + "=" + std::to_string(sendlength));
    ringCo();
    return sendlength;
}

int recvfrom(int s, void* data, int recvlength, int flags, struct sockaddr* addr, int* addrlen) {
    (void)flags;
    hw::enterCall("recvfrom", Cpu::Main);
    std::string call = "recvfrom(" + std::to_string(s) + ", " + std::to_string(recvlength) + ")";
    if (const char* why = cannotCarry(s)) {
        return failCall(call, why);
    }
    MainHalf& h = half();
    if (recvlength < 0 || (data == nullptr && recvlength > 0)) {
        return failCall(call, "bad length");
    }
    bool waitTraced = false;
    for (;;) {
        service();
        if (!validSocket(s)) {
            return failCall(call, "socket closed while waiting");
        }
        Socket& socket = h.sockets[s];
        if (!socket.queue.empty()) {
            Queued q = socket.queue.front();
            socket.queue.pop_front();
            int n = q.length < recvlength ? q.length : recvlength;
            if (n > 0) {
                std::memcpy(data, q.buffer, static_cast<size_t>(n));
            }
            if (addr != nullptr) {
                sockaddr_in from{};
                from.sin_family = AF_INET;
                from.sin_port = q.port;
                from.sin_addr.s_addr = q.address;
                size_t room = sizeof from;
                if (addrlen != nullptr && *addrlen >= 0 && static_cast<size_t>(*addrlen) < room) {
                    room = static_cast<size_t>(*addrlen);
                }
                std::memcpy(addr, &from, room);
            }
            if (addrlen != nullptr) {
                *addrlen = static_cast<int>(sizeof(sockaddr_in));
            }
            giveBack(q.buffer);
            hw::trace(TraceKind::Call,
                      call + "=" + std::to_string(n) + " from " + endpoint(q.address, q.port) +
                          (q.length > n ? " (" + std::to_string(q.length - n) + " bytes discarded)" : ""));
            return n;
        }
        if (!waitTraced) {
            waitTraced = true;
            hw::trace(TraceKind::Call, call + " waiting");
        }
        hw::haltForNetwork();
    }
}

}  // namespace vxnet
