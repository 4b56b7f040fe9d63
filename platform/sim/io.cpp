// The I/O dispatcher: every register access of a program lands here, by
// address, at 8, 16 or 32 bits, and is split or merged onto the registers it
// covers. Behind it: display status, timers, keypad, FIFO, interrupt
// control, video-memory bank control, power and sound control.
#include "core.h"

#include <nds.h>

namespace vxsim {

namespace {

enum class Reg : uint8_t {
    Plain, DispCnt, DispStat, VCount, BgCnt, BgOfs, SubDispCnt, SubBgCnt, SubBgOfs, TimerData, TimerCr,
    KeyInput, KeyXY, IpcSync, FifoCr, FifoTx, FifoRx, Ime, Ie, If, VramCnt, PowerCnt, SoundCnt,
};

struct Span {
    uint32_t base;
    unsigned width;
    Reg reg;
};

Span span(Cpu c, uint32_t a) {
    const bool main = c == Cpu::Main;
    if (a >= 0x04100000 && a < 0x04100004) return {0x04100000, 4, Reg::FifoRx};
    if (main && a >= 0x04001000 && a < 0x04001020) {
        if (a < 0x04001004) return {0x04001000, 4, Reg::SubDispCnt};
        if (a >= 0x04001008 && a < 0x04001010) return {a & ~1u, 2, Reg::SubBgCnt};
        if (a >= 0x04001010) return {a & ~1u, 2, Reg::SubBgOfs};
        return {a, 1, Reg::Plain};
    }
    uint32_t o = a - 0x04000000;
    if (a < 0x04000000 || o >= 0x1000) return {a, 1, Reg::Plain};
    if (o < 0x04) return main ? Span{0x04000000, 4, Reg::DispCnt} : Span{a, 1, Reg::Plain};
    if (o < 0x06) return {0x04000004, 2, Reg::DispStat};
    if (o < 0x08) return {0x04000006, 2, Reg::VCount};
    if (main && o < 0x10) return {a & ~1u, 2, Reg::BgCnt};
    if (main && o < 0x20) return {a & ~1u, 2, Reg::BgOfs};
    if (o >= 0x100 && o < 0x110) return {a & ~1u, 2, (o & 2) ? Reg::TimerCr : Reg::TimerData};
    if (o >= 0x130 && o < 0x132) return {0x04000130, 2, Reg::KeyInput};
    if (!main && o >= 0x136 && o < 0x138) return {0x04000136, 2, Reg::KeyXY};
    if (o >= 0x180 && o < 0x182) return {0x04000180, 2, Reg::IpcSync};
    if (o >= 0x184 && o < 0x186) return {0x04000184, 2, Reg::FifoCr};
    if (o >= 0x188 && o < 0x18C) return {0x04000188, 4, Reg::FifoTx};
    if (o >= 0x208 && o < 0x20C) return {0x04000208, 4, Reg::Ime};
    if (o >= 0x210 && o < 0x214) return {0x04000210, 4, Reg::Ie};
    if (o >= 0x214 && o < 0x218) return {0x04000214, 4, Reg::If};
    if (main && o >= 0x240 && o < 0x245) return {a, 1, Reg::VramCnt};
    if (o >= 0x304 && o < 0x306) return {0x04000304, 2, Reg::PowerCnt};
    if (!main && o >= 0x500 && o < 0x502) return {0x04000500, 2, Reg::SoundCnt};
    return {a, 1, Reg::Plain};
}

inline uint32_t merge(uint32_t old, uint32_t value, uint32_t mask) { return (old & ~mask) | (value & mask); }
inline uint32_t bytesMask(unsigned n) { return n >= 4 ? 0xFFFFFFFFu : ((1u << (8 * n)) - 1); }

constexpr unsigned kDivShift[4] = {0, 6, 8, 10};

struct Names {
    uint32_t address;
    unsigned width;
    int who;  // 0 both, 1 main only, 2 co only
    const char* name;
};
const Names kNames[] = {
    {0x04000000, 4, 1, "DISPLAY_CR"},     {0x04000004, 2, 0, "REG_DISPSTAT"},   {0x04000006, 2, 0, "REG_VCOUNT"},
    {0x04000008, 2, 1, "BG0_CR"},         {0x0400000A, 2, 1, "BG1_CR"},         {0x0400000C, 2, 1, "BG2_CR"},
    {0x0400000E, 2, 1, "BG3_CR"},         {0x04001000, 4, 1, "SUB_DISPLAY_CR"}, {0x04001008, 2, 1, "SUB_BG0_CR"},
    {0x0400100A, 2, 1, "SUB_BG1_CR"},     {0x0400100C, 2, 1, "SUB_BG2_CR"},     {0x0400100E, 2, 1, "SUB_BG3_CR"},
    {0x04000100, 2, 0, "TIMER0_DATA"},    {0x04000102, 2, 0, "TIMER0_CR"},      {0x04000104, 2, 0, "TIMER1_DATA"},
    {0x04000106, 2, 0, "TIMER1_CR"},      {0x04000108, 2, 0, "TIMER2_DATA"},    {0x0400010A, 2, 0, "TIMER2_CR"},
    {0x0400010C, 2, 0, "TIMER3_DATA"},    {0x0400010E, 2, 0, "TIMER3_CR"},      {0x04000130, 2, 0, "REG_KEYINPUT"},
    {0x04000132, 2, 0, "REG_KEYCNT"},     {0x04000136, 2, 2, "REG_KEYXY"},      {0x04000180, 2, 0, "REG_IPC_SYNC"},
    {0x04000184, 2, 0, "REG_IPC_FIFO_CR"}, {0x04000188, 4, 0, "REG_IPC_FIFO_TX"}, {0x04100000, 4, 0, "REG_IPC_FIFO_RX"},
    {0x04000208, 4, 0, "REG_IME"},        {0x04000210, 4, 0, "REG_IE"},         {0x04000214, 4, 0, "REG_IF"},
    {0x04000240, 4, 1, "VRAM_CR"},        {0x04000240, 1, 1, "VRAM_A_CR"},      {0x04000241, 1, 1, "VRAM_B_CR"},
    {0x04000242, 1, 1, "VRAM_C_CR"},      {0x04000243, 1, 1, "VRAM_D_CR"},      {0x04000244, 1, 1, "VRAM_E_CR"},
    {0x04000304, 2, 0, "REG_POWERCNT"},   {0x04000500, 2, 2, "SOUND_CR"},
};

uint64_t lineStart(uint64_t t) { return t - t % kCyclesPerLine; }

}  // namespace

std::string Machine::Impl::regName(Cpu c, uint32_t address, unsigned bytes) const {
    const Names* partial = nullptr;
    for (const Names& n : kNames) {
        if (n.who == 1 && c != Cpu::Main) continue;
        if (n.who == 2 && c != Cpu::Co) continue;
        if (n.address == address && n.width == bytes) return n.name;
        if (n.address == address) partial = &n;
    }
    if (partial) return std::string(partial->name) + "/" + std::to_string(8 * bytes);
    return hex(address, 8);
}

uint16_t Machine::Impl::keyInput() const { return static_cast<uint16_t>(~keys & 0x03FF); }

uint16_t Machine::Impl::keyXY() const {
    uint16_t v = 0x007F;
    if (keys & KEY_X) v &= ~XKEY_X;
    if (keys & KEY_Y) v &= ~XKEY_Y;
    if (penDown) v &= ~XKEY_PEN_UP;
    if (keys & KEY_LID) v |= XKEY_HINGE_CLOSED;
    return v;
}

void Machine::Impl::resetDevices() {
    cpu(Cpu::Main).powercnt = POWER_SWAP_LCDS;  // main engine on the top screen
    cpu(Cpu::Co).powercnt = 0;
    remapVram();
}

// ---------------------------------------------------------------- display

void Machine::Impl::startDisplay() {
    struct VBlank {
        static void arm(uint64_t when) {
            gMachine->scheduleAt(when, [when] {
                Machine::Impl& m = *gMachine;
                arm(when + kCyclesPerFrame);
                ++m.frames;
                for (int i = 0; i < 2; ++i) {
                    if (m.cpus[i].dispstat & DISP_VBLANK_IRQ) m.requestIrq(static_cast<Cpu>(i), IRQ_VBLANK);
                }
                if (m.frames >= m.targetFrames) m.stop = true;
            });
        }
    };
    VBlank::arm(kVBlankLine * kCyclesPerLine);
}

void Machine::Impl::updateDisplayIrqs(Cpu c) {
    CpuState& s = cpu(c);
    uint64_t t = timeOf(c);
    if ((s.dispstat & DISP_HBLANK_IRQ) && !s.hblankEvent) {
        struct HBlank {
            static void arm(Cpu c, uint64_t when) {
                gMachine->cpu(c).hblankEvent = gMachine->scheduleAt(when, [c, when] {
                    arm(c, when + kCyclesPerLine);
                    gMachine->requestIrq(c, IRQ_HBLANK);
                });
            }
        };
        uint64_t when = lineStart(t) + kHBlankStart;
        if (when <= t) when += kCyclesPerLine;
        HBlank::arm(c, when);
    } else if (!(s.dispstat & DISP_HBLANK_IRQ) && s.hblankEvent) {
        cancelEvent(s.hblankEvent);
        s.hblankEvent = 0;
    }
    if (s.vcountEvent) {
        cancelEvent(s.vcountEvent);
        s.vcountEvent = 0;
    }
    unsigned setting = (s.dispstat >> 8) | ((s.dispstat & 0x80) << 1);
    if ((s.dispstat & DISP_YTRIGGER_IRQ) && setting < kLinesPerFrame) {
        struct VCount {
            static void arm(Cpu c, uint64_t when) {
                gMachine->cpu(c).vcountEvent = gMachine->scheduleAt(when, [c, when] {
                    arm(c, when + kCyclesPerFrame);
                    gMachine->requestIrq(c, IRQ_VCOUNT);
                });
            }
        };
        uint64_t when = t - t % kCyclesPerFrame + setting * kCyclesPerLine;
        if (when < t) when += kCyclesPerFrame;
        VCount::arm(c, when);
    }
}

// ----------------------------------------------------------------- timers

namespace {

bool freeRunning(int n, uint16_t control) { return (control & TIMER_ENABLE) && !(n > 0 && (control & TIMER_CASCADE)); }

uint16_t timerValue(const TimerState& tm, int n, uint64_t t) {
    if (!freeRunning(n, tm.control) || t < tm.startTime) return tm.counter;
    uint64_t v = tm.counter + ((t - tm.startTime) >> kDivShift[tm.control & 3]);
    if (v < 0x10000) return static_cast<uint16_t>(v);
    uint64_t period = 0x10000u - tm.reload;
    return static_cast<uint16_t>(tm.reload + (v - 0x10000) % period);
}

void timerFired(Cpu c, int n);

void armTimer(Cpu c, int n) {
    Machine::Impl& m = *gMachine;
    TimerState& tm = m.cpu(c).timers[n];
    if (tm.overflow) m.cancelEvent(tm.overflow);
    tm.overflow = 0;
    if (!freeRunning(n, tm.control)) return;
    uint64_t when = tm.startTime + ((0x10000u - tm.counter) << kDivShift[tm.control & 3]);
    tm.overflow = m.scheduleAt(when, [c, n, when] {
        TimerState& t = gMachine->cpu(c).timers[n];
        t.overflow = 0;
        t.counter = t.reload;
        t.startTime = when;  // periodic from the deadline, not from whenever this ran
        armTimer(c, n);
        timerFired(c, n);
    });
}

void timerFired(Cpu c, int n) {
    Machine::Impl& m = *gMachine;
    CpuState& s = m.cpu(c);
    if (s.timers[n].control & TIMER_IRQ_REQ) m.requestIrq(c, IRQ_TIMER(n));
    if (n < 3) {
        TimerState& up = s.timers[n + 1];
        if ((up.control & TIMER_ENABLE) && (up.control & TIMER_CASCADE)) {
            if (++up.counter == 0) {
                up.counter = up.reload;
                timerFired(c, n + 1);
            }
        }
    }
}

void writeTimerControl(Cpu c, int n, uint16_t value) {
    Machine::Impl& m = *gMachine;
    TimerState& tm = m.cpu(c).timers[n];
    uint64_t t = m.timeOf(c);
    uint16_t old = tm.control;
    value &= 0x00C7;
    if ((old & TIMER_ENABLE) && (value & TIMER_ENABLE) && (old & 7) == (value & 7)) {
        tm.control = value;  // same counting: only the interrupt bit changes
        return;
    }
    tm.counter = timerValue(tm, n, t);
    if (!(old & TIMER_ENABLE) && (value & TIMER_ENABLE)) tm.counter = tm.reload;
    tm.control = value;
    tm.startTime = t;
    armTimer(c, n);
}

}  // namespace

// ------------------------------------------------------------ the dispatcher

namespace {

uint32_t readReg(Machine::Impl& m, Cpu c, const Span& sp, bool peek) {
    CpuState& s = m.cpu(c);
    CpuState& o = m.cpu(other(c));
    uint64_t t = m.timeOf(c);
    switch (sp.reg) {
    case Reg::Plain: {
        auto it = s.plain.find(sp.base);
        return it == s.plain.end() ? 0 : it->second;
    }
    case Reg::DispCnt:
        return m.dispcnt[0];
    case Reg::SubDispCnt:
        return m.dispcnt[1];
    case Reg::DispStat: {
        uint64_t line = (t / kCyclesPerLine) % kLinesPerFrame;
        unsigned setting = (s.dispstat >> 8) | ((s.dispstat & 0x80) << 1);
        uint32_t v = s.dispstat;
        if (line >= kVBlankLine && line < kLinesPerFrame - 1) v |= DISP_IN_VBLANK;
        if (t % kCyclesPerLine >= kHBlankStart) v |= DISP_IN_HBLANK;
        if (line == setting) v |= DISP_YTRIGGERED;
        return v;
    }
    case Reg::VCount:
        return static_cast<uint32_t>((t / kCyclesPerLine) % kLinesPerFrame);
    case Reg::BgCnt:
        return m.bgcnt[0][(sp.base - 0x04000008) / 2];
    case Reg::SubBgCnt:
        return m.bgcnt[1][(sp.base - 0x04001008) / 2];
    case Reg::BgOfs:
    case Reg::SubBgOfs:
        return 0;  // write-only on the device
    case Reg::TimerData: {
        int n = static_cast<int>((sp.base - 0x04000100) / 4);
        return timerValue(s.timers[n], n, t);
    }
    case Reg::TimerCr:
        return s.timers[(sp.base - 0x04000102) / 4].control;
    case Reg::KeyInput:
        return m.keyInput();
    case Reg::KeyXY:
        return m.keyXY();
    case Reg::IpcSync:
        return (s.ipcSync & 0x4F00u) | ((o.ipcSync >> 8) & 0xFu);
    case Reg::FifoCr: {
        const WordFifo& recv = o.send;
        uint32_t v = 0;
        if (s.send.empty()) v |= IPC_FIFO_SEND_EMPTY;
        if (s.send.full()) v |= IPC_FIFO_SEND_FULL;
        if (s.fifoSendIrq) v |= IPC_FIFO_SEND_IRQ;
        if (recv.empty()) v |= IPC_FIFO_RECV_EMPTY;
        if (recv.full()) v |= IPC_FIFO_RECV_FULL;
        if (s.fifoRecvIrq) v |= IPC_FIFO_RECV_IRQ;
        if (s.fifoError) v |= IPC_FIFO_ERROR;
        if (s.fifoEnable) v |= IPC_FIFO_ENABLE;
        return v;
    }
    case Reg::FifoTx:
        return 0;
    case Reg::FifoRx: {
        WordFifo& recv = o.send;
        if (peek || !s.fifoEnable) return recv.front();
        if (recv.empty()) {
            s.fifoError = true;
            return recv.last;
        }
        uint32_t w = recv.pop();
        m.addTrace(c, "fifo-recv", hex(w, 8));
        if (recv.empty() && o.fifoSendIrq) m.requestIrq(other(c), IRQ_FIFO_EMPTY);
        return w;
    }
    case Reg::Ime:
        return s.ime;
    case Reg::Ie:
        return s.ie;
    case Reg::If:
        return s.iflags;
    case Reg::VramCnt:
        return m.vramcnt[sp.base - 0x04000240];
    case Reg::PowerCnt:
        return s.powercnt;
    case Reg::SoundCnt:
        return s.soundcnt;
    }
    return 0;
}

void writeReg(Machine::Impl& m, Cpu c, const Span& sp, uint32_t v, uint32_t mask) {
    CpuState& s = m.cpu(c);
    CpuState& o = m.cpu(other(c));
    switch (sp.reg) {
    case Reg::Plain:
        s.plain[sp.base] = static_cast<uint8_t>(v);
        return;
    case Reg::DispCnt:
        m.dispcnt[0] = merge(m.dispcnt[0], v, mask);
        return;
    case Reg::SubDispCnt:
        m.dispcnt[1] = merge(m.dispcnt[1], v, mask);
        return;
    case Reg::DispStat: {
        uint16_t before = s.dispstat;
        s.dispstat = static_cast<uint16_t>(merge(s.dispstat, v, mask & 0xFFB8u));
        if (before != s.dispstat) m.updateDisplayIrqs(c);
        return;
    }
    case Reg::VCount:
        return;
    case Reg::BgCnt: {
        uint16_t& r = m.bgcnt[0][(sp.base - 0x04000008) / 2];
        r = static_cast<uint16_t>(merge(r, v, mask));
        return;
    }
    case Reg::SubBgCnt: {
        uint16_t& r = m.bgcnt[1][(sp.base - 0x04001008) / 2];
        r = static_cast<uint16_t>(merge(r, v, mask));
        return;
    }
    case Reg::BgOfs:
    case Reg::SubBgOfs: {
        int engine = sp.reg == Reg::BgOfs ? 0 : 1;
        uint16_t& r = m.bgofs[engine][(sp.base & 0xF) / 2];
        r = static_cast<uint16_t>(merge(r, v, mask) & 0x1FF);
        return;
    }
    case Reg::TimerData: {
        TimerState& tm = s.timers[(sp.base - 0x04000100) / 4];
        tm.reload = static_cast<uint16_t>(merge(tm.reload, v, mask));
        return;
    }
    case Reg::TimerCr: {
        int n = static_cast<int>((sp.base - 0x04000102) / 4);
        writeTimerControl(c, n, static_cast<uint16_t>(merge(s.timers[n].control, v, mask)));
        return;
    }
    case Reg::KeyInput:
    case Reg::KeyXY:
        return;
    case Reg::IpcSync:
        s.ipcSync = static_cast<uint16_t>(merge(s.ipcSync, v, mask & 0x4F00u));
        if ((mask & 0xFF00u) && (v & 0x2000u) && (o.ipcSync & 0x4000u)) m.requestIrq(other(c), IRQ_IPC_SYNC);
        return;
    case Reg::FifoCr:
        if (mask & 0x00FFu) {
            bool was = s.fifoSendIrq;
            s.fifoSendIrq = v & IPC_FIFO_SEND_IRQ;
            if (v & IPC_FIFO_SEND_CLEAR) s.send.clear();
            if (s.send.empty() && s.fifoSendIrq && (!was || (v & IPC_FIFO_SEND_CLEAR))) {
                m.requestIrq(c, IRQ_FIFO_EMPTY);
            }
        }
        if (mask & 0xFF00u) {
            bool was = s.fifoRecvIrq;
            s.fifoRecvIrq = v & IPC_FIFO_RECV_IRQ;
            if (v & IPC_FIFO_ERROR) s.fifoError = false;
            s.fifoEnable = v & IPC_FIFO_ENABLE;
            if (!was && s.fifoRecvIrq && !o.send.empty()) m.requestIrq(c, IRQ_FIFO_NOT_EMPTY);
        }
        return;
    case Reg::FifoTx: {
        uint32_t w = v & mask;
        if (!s.fifoEnable) {
            m.addTrace(c, "fifo-send", hex(w, 8) + " ignored (FIFO disabled)");
            return;
        }
        if (s.send.full()) {
            s.fifoError = true;
            m.addTrace(c, "fifo-send", hex(w, 8) + " lost (FIFO full)");
            return;
        }
        bool wasEmpty = s.send.empty();
        s.send.push(w);
        m.addTrace(c, "fifo-send", hex(w, 8));
        if (wasEmpty && o.fifoRecvIrq) m.requestIrq(other(c), IRQ_FIFO_NOT_EMPTY);
        return;
    }
    case Reg::FifoRx:
        return;
    case Reg::Ime:
        s.ime = merge(s.ime, v, mask) & 1u;
        return;
    case Reg::Ie:
        s.ie = merge(s.ie, v, mask);
        return;
    case Reg::If:
        s.iflags &= ~(v & mask);  // writing 1 acknowledges
        return;
    case Reg::VramCnt: {
        unsigned bank = sp.base - 0x04000240;
        m.vramcnt[bank] = static_cast<uint8_t>(v & (bank == 4 ? 0x87u : 0x9Fu));
        m.remapVram();
        return;
    }
    case Reg::PowerCnt:
        s.powercnt = static_cast<uint16_t>(merge(s.powercnt, v, mask & (c == Cpu::Main ? 0x820Fu : 0x0003u)));
        return;
    case Reg::SoundCnt:
        s.soundcnt = static_cast<uint16_t>(merge(s.soundcnt, v, mask));
        return;
    }
}

}  // namespace

uint32_t Machine::Impl::ioRead(Cpu c, uint32_t address, unsigned bytes, bool peek) {
    if (bytes != 1 && bytes != 2 && bytes != 4) hw::fatal("register read of " + std::to_string(bytes) + " bytes");
    address &= ~(bytes - 1);
    uint32_t result = 0;
    for (unsigned off = 0; off < bytes;) {
        Span sp = span(c, address + off);
        unsigned start = address + off - sp.base;
        unsigned n = std::min(sp.width - start, bytes - off);
        uint32_t v = readReg(*this, c, sp, peek);
        result |= ((v >> (8 * start)) & bytesMask(n)) << (8 * off);
        off += n;
    }
    return result;
}

void Machine::Impl::ioWrite(Cpu c, uint32_t address, unsigned bytes, uint32_t value) {
    if (bytes != 1 && bytes != 2 && bytes != 4) hw::fatal("register write of " + std::to_string(bytes) + " bytes");
    address &= ~(bytes - 1);
    value &= bytesMask(bytes);
    if (address != 0x04000188) addTrace(c, "io-write", regName(c, address, bytes) + "=" + hex(value, 2 * bytes));
    for (unsigned off = 0; off < bytes;) {
        Span sp = span(c, address + off);
        unsigned start = address + off - sp.base;
        unsigned n = std::min(sp.width - start, bytes - off);
        uint32_t part = ((value >> (8 * off)) & bytesMask(n)) << (8 * start);
        writeReg(*this, c, sp, part, bytesMask(n) << (8 * start));
        off += n;
    }
}

// When the value read at `address` could next differ without this
// processor doing anything (kNever: only other activity changes it).
uint64_t Machine::Impl::nextChange(Cpu c, uint32_t address) {
    uint64_t t = timeOf(c);
    Span sp = span(c, address);
    switch (sp.reg) {
    case Reg::VCount:
        return lineStart(t) + kCyclesPerLine;
    case Reg::DispStat:
        return t % kCyclesPerLine < kHBlankStart ? lineStart(t) + kHBlankStart : lineStart(t) + kCyclesPerLine;
    case Reg::TimerData: {
        int n = static_cast<int>((sp.base - 0x04000100) / 4);
        const TimerState& tm = cpu(c).timers[n];
        if (!freeRunning(n, tm.control)) return kNever;
        unsigned shift = kDivShift[tm.control & 3];
        return tm.startTime + ((((t - tm.startTime) >> shift) + 1) << shift);
    }
    default:
        return kNever;
    }
}

}  // namespace vxsim

// ------------------------------------------------------- program-facing

namespace vxhw {

using vxsim::Machine;

uint32_t ioRead(uint32_t address, unsigned bytes) {
    Machine::Impl& m = vxsim::callerMachine("register read");
    vxsim::Cpu me = m.cur;
    vxsim::CpuState& s = m.cpu(me);
    vxsim::hw::charge(vxsim::kIoCost);
    bool sameAsBefore = s.lastValid && s.lastAddr == address && s.lastBytes == bytes;
    uint32_t v = m.ioRead(me, address, bytes, false);
    if (address >= 0x04100000 && address < 0x04100004) {
        s.lastValid = false;  // a read that takes a word is never a spin
        return v;
    }
    sameAsBefore = sameAsBefore && s.lastValue == v;
    s.lastValid = true;
    s.lastAddr = address;
    s.lastBytes = bytes;
    s.lastValue = v;
    // Polled twice with nothing changed: skip to when it could change.
    if (sameAsBefore) m.idle(m.nextChange(me, address));
    return v;
}

void ioWrite(uint32_t address, unsigned bytes, uint32_t value) {
    Machine::Impl& m = vxsim::callerMachine("register write");
    vxsim::Cpu me = m.cur;
    vxsim::hw::charge(vxsim::kIoCost);
    vxsim::CpuState& s = m.cpu(me);
    s.lastValid = false;
    m.ioWrite(me, address, bytes, value);
    // An interrupt the write let through is taken right after it.
    if (s.ime && (s.ie & s.iflags) && !s.inIrq) m.takeInterrupts();
}

}  // namespace vxhw
