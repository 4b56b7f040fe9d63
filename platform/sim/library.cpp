// The library calls the programs make: interrupt dispatcher set-up, the
// vertical-blank wait, power, video-memory banks, keypad, and the
// co-processor's touch controller, clock and temperature sensor.
#include "core.h"

#include <nds.h>

namespace vxsim {

namespace {

// Every library call is a call boundary with a cost of its own.
Machine::Impl& enter(const char* name, int onlyCpu = -1) {
    Machine::Impl& m = callerMachine(name);
    if (onlyCpu >= 0 && idx(m.cur) != onlyCpu) {
        hw::fatal(std::string(name) + "() belongs to " + cpuName(static_cast<Cpu>(onlyCpu)) + " but " +
                  cpuName(m.cur) + " called it");
    }
    hw::charge(kCallCost);
    m.cpu(m.cur).lastValid = false;
    return m;
}

void call(Machine::Impl& m, const std::string& text) { m.addTrace(m.cur, "call", text); }

constexpr int kMain = 0, kCo = 1;

uint32_t sourceBits(uint32_t mask) {
    uint32_t bits = 0;
    if (mask & IRQ_VBLANK) bits |= DISP_VBLANK_IRQ;
    if (mask & IRQ_HBLANK) bits |= DISP_HBLANK_IRQ;
    if (mask & IRQ_VCOUNT) bits |= DISP_YTRIGGER_IRQ;
    return bits;
}

void disable(Machine::Impl& m, uint32_t mask) {
    CpuState& s = m.cpu(m.cur);
    s.ie &= ~mask;
    if (uint32_t bits = sourceBits(mask)) {
        s.dispstat = static_cast<uint16_t>(s.dispstat & ~bits);
        m.updateDisplayIrqs(m.cur);
    }
}

uint8_t toBcd(int v) { return static_cast<uint8_t>(((v / 10) << 4) | (v % 10)); }

bool leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysIn(int month, int year) {
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && leap(year) ? 29 : days[(month - 1) % 12];
}

RtcTime advance(RtcTime t, uint64_t seconds) {
    uint64_t total = static_cast<uint64_t>(t.seconds) + 60ull * t.minutes + 3600ull * t.hours + seconds;
    uint64_t days = total / 86400;
    uint64_t rem = total % 86400;
    t.hours = static_cast<int>(rem / 3600);
    t.minutes = static_cast<int>(rem / 60 % 60);
    t.seconds = static_cast<int>(rem % 60);
    t.weekday = static_cast<int>((static_cast<uint64_t>(t.weekday) + days) % 7);
    while (days > 0) {
        int left = daysIn(t.month, t.year) - t.day;  // days after today in this month
        if (days <= static_cast<uint64_t>(left)) {
            t.day += static_cast<int>(days);
            break;
        }
        days -= static_cast<uint64_t>(left) + 1;
        t.day = 1;
        if (++t.month > 12) {
            t.month = 1;
            if (++t.year > 2099) t.year = 2000;  // the clock keeps two digits
        }
    }
    return t;
}

}  // namespace

// Used by the host (Machine) and the stand-in alike.
RtcTime clockNow(const Machine::Impl& m, uint64_t cycle) {
    uint64_t elapsed = cycle > m.clockBaseCycle ? (cycle - m.clockBaseCycle) / kBusHz : 0;
    return advance(m.clockBase, elapsed);
}

}  // namespace vxsim

using namespace vxsim;

extern "C" {

// ------------------------------------------------------------ interrupts

void irqInit(void) {
    Machine::Impl& m = enter("irqInit");
    CpuState& s = m.cpu(m.cur);
    s.ime = 0;
    for (auto& h : s.handlers) h = nullptr;
    s.iflags = 0;
    s.happened = 0;
    // The vertical blank stays served (with no handler) so that
    // swiWaitForVBlank works without the program enabling it.
    s.ie = IRQ_VBLANK;
    s.dispstat = static_cast<uint16_t>(s.dispstat | DISP_VBLANK_IRQ);
    m.updateDisplayIrqs(m.cur);
    s.ime = 1;
    call(m, "irqInit()");
}

void irqSet(int mask, VoidFunctionPointer handler) {
    Machine::Impl& m = enter("irqSet");
    CpuState& s = m.cpu(m.cur);
    for (int b = 0; b < 32; ++b) {
        if (static_cast<uint32_t>(mask) & (1u << b)) s.handlers[b] = handler;
    }
    call(m, "irqSet(" + hex(static_cast<uint32_t>(mask)) + "," + (handler ? "handler" : "null") + ")");
}

void irqClear(int mask) {
    Machine::Impl& m = enter("irqClear");
    CpuState& s = m.cpu(m.cur);
    for (int b = 0; b < 32; ++b) {
        if (static_cast<uint32_t>(mask) & (1u << b)) s.handlers[b] = nullptr;
    }
    disable(m, static_cast<uint32_t>(mask));
    call(m, "irqClear(" + hex(static_cast<uint32_t>(mask)) + ")");
}

void irqEnable(uint32 mask) {
    Machine::Impl& m = enter("irqEnable");
    CpuState& s = m.cpu(m.cur);
    s.ie |= mask;
    if (uint32_t bits = sourceBits(mask)) {
        s.dispstat = static_cast<uint16_t>(s.dispstat | bits);
        m.updateDisplayIrqs(m.cur);
    }
    call(m, "irqEnable(" + hex(mask) + ")");
    m.takeInterrupts();
}

void irqDisable(uint32 mask) {
    Machine::Impl& m = enter("irqDisable");
    disable(m, mask);
    call(m, "irqDisable(" + hex(mask) + ")");
}

// As the BIOS wait does: forget an earlier vertical blank, then halt until
// the dispatcher has served a new one.
void swiWaitForVBlank(void) {
    Machine::Impl& m = enter("swiWaitForVBlank");
    call(m, "swiWaitForVBlank()");
    CpuState& s = m.cpu(m.cur);
    s.happened &= ~static_cast<uint32_t>(IRQ_VBLANK);
    for (;;) {
        m.haltCurrent(false, -1);
        if (s.happened & IRQ_VBLANK) return;
        // Requested but not taken (master enable off, or inside a handler):
        // the wait keeps waking and sleeping, as on the device.
        if (s.ie & s.iflags) m.idle(kNever);
    }
}

// ----------------------------------------------------------------- power

void powerON(int bits) {
    Machine::Impl& m = enter("powerON");
    CpuState& s = m.cpu(m.cur);
    uint16_t mask = m.cur == Cpu::Main ? 0x820F : 0x0003;
    s.powercnt = static_cast<uint16_t>((s.powercnt | bits) & mask);
    call(m, "powerON(" + hex(static_cast<uint32_t>(bits)) + ")");
}

void powerOFF(int bits) {
    Machine::Impl& m = enter("powerOFF");
    CpuState& s = m.cpu(m.cur);
    s.powercnt = static_cast<uint16_t>(s.powercnt & ~bits);
    call(m, "powerOFF(" + hex(static_cast<uint32_t>(bits)) + ")");
}

// ------------------------------------------------------------ video memory

uint32 vramSetMainBanks(VRAM_A_TYPE a, VRAM_B_TYPE b, VRAM_C_TYPE c, VRAM_D_TYPE d) {
    Machine::Impl& m = enter("vramSetMainBanks", kMain);
    uint32_t previous = m.vramcnt[0] | (m.vramcnt[1] << 8) | (m.vramcnt[2] << 16) | (uint32_t(m.vramcnt[3]) << 24);
    const int values[4] = {a, b, c, d};
    for (int i = 0; i < 4; ++i) m.vramcnt[i] = static_cast<uint8_t>((VRAM_ENABLE | values[i]) & 0x9F);
    m.remapVram();
    call(m, "vramSetMainBanks(" + std::to_string(a) + "," + std::to_string(b) + "," + std::to_string(c) + "," +
                std::to_string(d) + ")");
    return previous;
}

static void setBank(const char* name, int bank, int value) {
    Machine::Impl& m = enter(name, kMain);
    m.vramcnt[bank] = static_cast<uint8_t>((VRAM_ENABLE | value) & (bank == 4 ? 0x87 : 0x9F));
    m.remapVram();
    call(m, std::string(name) + "(" + std::to_string(value) + ")");
}

void vramSetBankA(VRAM_A_TYPE a) { setBank("vramSetBankA", 0, a); }
void vramSetBankB(VRAM_B_TYPE b) { setBank("vramSetBankB", 1, b); }
void vramSetBankC(VRAM_C_TYPE c) { setBank("vramSetBankC", 2, c); }
void vramSetBankD(VRAM_D_TYPE d) { setBank("vramSetBankD", 3, d); }
void vramSetBankE(VRAM_E_TYPE e) { setBank("vramSetBankE", 4, e); }

// ------------------------------------------------------------------ keys

// X and Y are not wired to the main processor: its library takes them from
// what the co-processor copies into the transfer region.
void scanKeys(void) {
    Machine::Impl& m = enter("scanKeys", kMain);
    CpuState& s = m.cpu(m.cur);
    uint16_t relayed = getIPC()->buttons;
    uint32_t held = static_cast<uint32_t>(~m.keyInput() & 0x03FF);
    if (!(relayed & XKEY_X)) held |= KEY_X;
    if (!(relayed & XKEY_Y)) held |= KEY_Y;
    s.keysPrev = s.keysNow;
    s.keysNow = held;
}

uint32 keysHeld(void) { return enter("keysHeld", kMain).cpu(Cpu::Main).keysNow; }

uint32 keysDown(void) {
    CpuState& s = enter("keysDown", kMain).cpu(Cpu::Main);
    return s.keysNow & ~s.keysPrev;
}

uint32 keysUp(void) {
    CpuState& s = enter("keysUp", kMain).cpu(Cpu::Main);
    return s.keysPrev & ~s.keysNow;
}

// ------------------------------------------------- co-processor devices

touchPosition touchReadXY(void) {
    Machine::Impl& m = enter("touchReadXY", kCo);
    touchPosition p{};
    if (m.penDown) {
        p.x = m.touchRaw[0];
        p.y = m.touchRaw[1];
        p.px = m.touchPx[0];
        p.py = m.touchPx[1];
        p.z1 = m.touchZ[0];
        p.z2 = m.touchZ[1];
    }
    return p;
}

// One 12-bit conversion of the channel in bits 4-6 of the command byte.
uint16 touchRead(uint32 command) {
    Machine::Impl& m = enter("touchRead", kCo);
    int value = 0;
    switch ((command >> 4) & 7) {
    case 0: value = m.diode[0]; break;
    case 1: value = m.penDown ? m.touchRaw[1] : 0; break;
    case 2: value = m.battery; break;
    case 3: value = m.penDown ? m.touchZ[0] : 0; break;
    case 4: value = m.penDown ? m.touchZ[1] : 0; break;
    case 5: value = m.penDown ? m.touchRaw[0] : 0; break;
    case 6: value = m.aux; break;
    case 7: value = m.diode[1]; break;
    }
    return static_cast<uint16>(value & 0x0FFF);
}

uint32 touchReadTemperature(int* t1, int* t2) {
    Machine::Impl& m = enter("touchReadTemperature", kCo);
    if (t1) *t1 = m.diode[0];
    if (t2) *t2 = m.diode[1];
    return m.temperature;
}

void rtcReset(void) {
    Machine::Impl& m = enter("rtcReset", kCo);
    call(m, "rtcReset()");
}

void rtcGetTime(uint8* time) {
    Machine::Impl& m = enter("rtcGetTime", kCo);
    RtcTime t = clockNow(m, hw::now());
    time[0] = m.clockStatus;
    time[1] = toBcd(t.year % 100);
    time[2] = toBcd(t.month);
    time[3] = toBcd(t.day);
    time[4] = toBcd(t.weekday);
    time[5] = toBcd(t.hours);
    time[6] = toBcd(t.minutes);
    time[7] = toBcd(t.seconds);
}

void BCDToInteger(uint8* data, uint32 length) {
    enter("BCDToInteger");
    for (uint32 i = 0; i < length; ++i) data[i] = static_cast<uint8>((data[i] >> 4) * 10 + (data[i] & 15));
}

}  // extern "C"
