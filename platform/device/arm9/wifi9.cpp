// The main processor's half of the device's wireless stand-in, and its socket
// layer. There is no radio driver: the half carries out the handshake with
// the co-processor's half for real (a broken handshake never makes it
// ready), asks it to join an access point, and reports what it answers,
// which is always that none can be reached. Sockets hand out handles; sends
// and receives fail with -1, as they do without an association.
#include <dswifi9.h>
#include <string.h>

#include "device.h"
#include "wifi_block.h"

using namespace vxdevice;

namespace {

constexpr int kMaxSockets = 8;

// Laid out in main memory, reached only through the uncached view.
alignas(32) uint8_t blockStorage[(sizeof(WifiBlock) + 31) / 32 * 32];

struct MainHalf {
    volatile WifiBlock* block = nullptr;
    WifiSyncHandler sync = nullptr;
    bool ready = false;
    uint32_t request = 0;
    bool open[kMaxSockets] = {};
} half;

void ringCo() {
    MainHalf& h = half;
    if (h.block == nullptr || h.sync == nullptr || h.block->bellToCo != 0) return;
    h.block->bellToCo = 1;
    h.sync();
}

uint32_t status() {
    const MainHalf& h = half;
    if (h.block == nullptr || h.request == 0) return kAssocDisconnected;
    // Until the co half has taken the request, it is still searching.
    return h.block->statusRequest == h.request ? h.block->assocStatus : kAssocSearching;
}

bool validSocket(int s) { return s >= 0 && s < kMaxSockets && half.open[s]; }

}  // namespace

namespace vxwifi9 {

u32 Wifi_Init(int initflags) {
    (void)initflags;
    const uint32_t address = reinterpret_cast<uint32_t>(blockStorage) | VX_UNCACHED_MIRROR;
    auto* block = reinterpret_cast<volatile WifiBlock*>(address);
    block->coState = kCoAbsent;
    block->bellToCo = 0;
    block->bellToMain = 0;
    block->connectRequest = 0;
    block->statusRequest = 0;
    block->assocStatus = kAssocDisconnected;
    block->self = address;
    block->magic = kWifiMagic;
    const WifiSyncHandler sync = half.sync;
    half = MainHalf{};
    half.sync = sync;
    half.block = block;
    return address;
}

int Wifi_CheckInit(void) { return half.ready ? 1 : 0; }

void Wifi_SetSyncHandler(WifiSyncHandler handler) { half.sync = handler; }

void Wifi_Sync(void) {
    MainHalf& h = half;
    if (h.block == nullptr) return;
    h.block->bellToMain = 0;
    // Readiness is learnt here and only here: the co half has rung us.
    if (h.block->coState == kCoRunning) h.ready = true;
    if (h.block->coState == kCoListening) ringCo();
}

// A doorbell may have been missed; the answer goes out on the timer too.
void Wifi_Timer(int num_ms) {
    (void)num_ms;
    if (half.block != nullptr && half.block->coState == kCoListening) ringCo();
}

void Wifi_AutoConnect(void) {
    MainHalf& h = half;
    if (h.block == nullptr) return;
    h.block->connectRequest = ++h.request;
    ringCo();
}

int Wifi_AssocStatus(void) { return static_cast<int>(status()); }

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
    for (int s = 0; s < kMaxSockets; ++s) {
        if (!half.open[s]) {
            half.open[s] = true;
            return s;
        }
    }
    return -1;
}

int closesocket(int s) {
    if (!validSocket(s)) return -1;
    half.open[s] = false;
    return 0;
}

// Nothing leaves without an association, and none is ever made.
int sendto(int s, const void* data, int sendlength, int flags, const struct sockaddr* addr, int addrlen) {
    (void)s, (void)data, (void)sendlength, (void)flags, (void)addr, (void)addrlen;
    return -1;
}

int recvfrom(int s, void* data, int recvlength, int flags, struct sockaddr* addr, int* addrlen) {
    (void)s, (void)data, (void)recvlength, (void)flags, (void)addr, (void)addrlen;
    return -1;
}

}  // namespace vxnet
