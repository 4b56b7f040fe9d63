#include "memory.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

#include "format.h"
#include "hw.h"
#include "memory_map.h"

namespace vxsim {

namespace {

using namespace vxshared;

constexpr uint32_t kRamBase = kMainRam, kRamSize = kMainRamSize, kRamMirrors = kMainRamViews;
constexpr uint32_t kPaletteBase = kPalettes, kPaletteSize = kPaletteArea;
constexpr uint32_t kVramBase = kVram;
constexpr uint32_t kPageSize = 0x1000;
constexpr uint32_t kBankOffset[kVramBanks] = {0, 128u << 10, 256u << 10, 384u << 10, 512u << 10};
constexpr uint32_t kBankTotal = 576u << 10;

struct sigaction gPreviousSegv;
bool gSegvInstalled = false;

void writeAll(const char* s) {
    size_t n = std::strlen(s);
    while (n > 0) {
        ssize_t w = ::write(2, s, n);
        if (w <= 0) return;
        s += w;
        n -= static_cast<size_t>(w);
    }
}

void onSegv(int sig, siginfo_t* info, void* context) {
    uintptr_t a = reinterpret_cast<uintptr_t>(info->si_addr);
    if (a >= 0x02000000 && a < 0x08000000) {
        char msg[128] = "vx-handheld: access to unmapped device memory at 0x";
        size_t len = std::strlen(msg);
        for (int shift = 28; shift >= 0; shift -= 4) msg[len++] = "0123456789ABCDEF"[(a >> shift) & 15];
        std::memcpy(msg + len, " (no video-memory bank is mapped there)\n", 41);
        writeAll(msg);
        _exit(3);
    }
    // Not ours: let whoever handled it before deal with it.
    if (gPreviousSegv.sa_flags & SA_SIGINFO) {
        if (gPreviousSegv.sa_sigaction) {
            gPreviousSegv.sa_sigaction(sig, info, context);
            return;
        }
    } else if (gPreviousSegv.sa_handler != SIG_DFL && gPreviousSegv.sa_handler != SIG_IGN) {
        gPreviousSegv.sa_handler(sig);
        return;
    }
    signal(sig, SIG_DFL);
}

void installSegvHandler() {
    if (gSegvInstalled) return;
    struct sigaction sa {};
    sa.sa_sigaction = onSegv;
    sa.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGSEGV, &sa, &gPreviousSegv);
    gSegvInstalled = true;
}

void* mapAt(uint32_t address, size_t size, int prot, int flags, int fd, off_t offset, bool replace) {
    void* want = reinterpret_cast<void*>(static_cast<uintptr_t>(address));
    void* got = mmap(want, size, prot, flags | (replace ? MAP_FIXED : MAP_FIXED_NOREPLACE), fd, offset);
    if (got != want) {
        if (got != MAP_FAILED) munmap(got, size);
        hw::fatal("cannot map device memory at " + hex(address, 8) + ": " + std::strerror(errno));
    }
    return got;
}

int memoryFile(const char* name, size_t size) {
    int fd = memfd_create(name, MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) hw::fatal(std::string("cannot create ") + name);
    return fd;
}

}  // namespace

Memory::Memory() {
    installSegvHandler();
    ramFd_ = memoryFile("vx-main-memory", kRamSize);
    for (uint32_t k = 0; k < kRamMirrors; ++k) {
        mapAt(kRamBase + k * kRamSize, kRamSize, PROT_READ | PROT_WRITE, MAP_SHARED, ramFd_, 0, false);
    }
    mapAt(kPaletteBase, kPaletteSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0, false);
    for (uint32_t page : kBiosPage)
        mapAt(page, kPageSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0, false);
    mapAt(kVramBase, kVramSpan, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0, false);
    vramFd_ = memoryFile("vx-video-memory", kBankTotal);
    void* host = mmap(nullptr, kBankTotal, PROT_READ | PROT_WRITE, MAP_SHARED, vramFd_, 0);
    if (host == MAP_FAILED) hw::fatal("cannot map video memory");
    vramHost_ = static_cast<uint8_t*>(host);
}

Memory::~Memory() {
    munmap(reinterpret_cast<void*>(static_cast<uintptr_t>(kRamBase)), kRamSize * kRamMirrors);
    munmap(reinterpret_cast<void*>(static_cast<uintptr_t>(kPaletteBase)), kPaletteSize);
    for (uint32_t page : kBiosPage) munmap(reinterpret_cast<void*>(static_cast<uintptr_t>(page)), kPageSize);
    munmap(reinterpret_cast<void*>(static_cast<uintptr_t>(kVramBase)), kVramSpan);
    if (vramHost_) munmap(vramHost_, kBankTotal);
    if (ramFd_ >= 0) close(ramFd_);
    if (vramFd_ >= 0) close(vramFd_);
}

void Memory::mapBanks(const std::vector<BankMapping>& banks) {
    mapAt(kVramBase, kVramSpan, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0, true);
    for (const BankMapping& b : banks) {
        mapAt(b.address, kBankSize[b.bank], PROT_READ | PROT_WRITE, MAP_SHARED, vramFd_, kBankOffset[b.bank], true);
    }
    banks_ = banks;
}

bool Memory::mapped(uint32_t address) const {
    if (address >= kRamBase && address < kRamBase + kRamSize * kRamMirrors) return true;
    if (address >= kPaletteBase && address < kPaletteBase + kPalettesUsed) return true;
    for (uint32_t page : kBiosPage) {
        if (address - page < kPageSize) return true;
    }
    for (const BankMapping& b : banks_) {
        if (address >= b.address && address - b.address < kBankSize[b.bank]) return true;
    }
    return false;
}

bool Memory::mapped(uint32_t address, size_t size) const {
    if (size == 0) return true;
    uint64_t last = static_cast<uint64_t>(address) + size - 1;
    if (last > UINT32_MAX) return false;
    // Every region begins on a 4 KB boundary; the palettes end inside one.
    for (uint64_t a = address; a <= last; a = (a | 0xFFF) + 1) {
        if (!mapped(static_cast<uint32_t>(a))) return false;
    }
    return mapped(static_cast<uint32_t>(last));
}

const uint8_t* Memory::bankContents(int bank) const { return vramHost_ + kBankOffset[bank]; }

}  // namespace vxsim
