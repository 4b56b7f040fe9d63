#include "display_status.h"

#include <nds.h>

namespace vxsim {

namespace {

enum : uint8_t { kStatus, kLine };

constexpr Register kRegisters[] = {
    {0x04000004, 2, SeenBy::Both, "REG_DISPSTAT", kStatus},
    {0x04000006, 2, SeenBy::Both, "REG_VCOUNT", kLine},
};

// The library sets the interrupt enables by nds.h's names; the device takes
// them as DISPSTAT holds them.
static_assert(DispStat::kVBlankIrq == DISP_VBLANK_IRQ && DispStat::kHBlankIrq == DISP_HBLANK_IRQ &&
              DispStat::kLineIrq == DISP_YTRIGGER_IRQ);

uint64_t lineStart(uint64_t t) { return t - t % kCyclesPerLine; }
uint64_t lineOf(uint64_t t) { return (t / kCyclesPerLine) % kLinesPerFrame; }

}  // namespace

std::span<const Register> DisplayStatus::registers() const { return kRegisters; }

void DisplayStatus::start(std::function<void()> frameBegun) {
    vblank_ = board_.scheduler().every(kVBlankLine * kCyclesPerLine, kCyclesPerFrame,
                                       [this, frameBegun = std::move(frameBegun)] {
                                           for (Cpu cpu : {Cpu::Main, Cpu::Co}) {
                                               if (side(cpu).stat.vblankIrq()) board_.requestIrq(cpu, IRQ_VBLANK);
                                           }
                                           frameBegun();
                                       });
}

uint32_t DisplayStatus::read(Cpu cpu, unsigned id, bool) {
    uint64_t t = board_.timeOf(cpu);
    uint64_t line = lineOf(t);
    if (id == kLine) return static_cast<uint32_t>(line);
    DispStat s = side(cpu).stat;
    uint32_t v = s.bits;
    // The last line (262) is no longer in the vertical blank.
    if (line >= kVBlankLine && line < kLinesPerFrame - 1) v |= DispStat::kInVBlank;
    if (t % kCyclesPerLine >= kHBlankStart) v |= DispStat::kInHBlank;
    if (line == s.matchLine()) v |= DispStat::kLineMatch;
    return v;
}

void DisplayStatus::write(Cpu cpu, unsigned id, uint32_t value, uint32_t mask) {
    if (id == kLine) return;  // the line counter is not written here
    setStatus(cpu, static_cast<uint16_t>(merge(side(cpu).stat.bits, value, mask & DispStat::kWritable)));
}

void DisplayStatus::setInterrupts(Cpu cpu, uint16_t bits, bool on) {
    uint16_t now = side(cpu).stat.bits;
    setStatus(cpu, static_cast<uint16_t>(on ? now | bits : now & ~bits));
}

// The horizontal-blank and line-match events run only while their
// interrupts are on.
void DisplayStatus::setStatus(Cpu cpu, uint16_t bits) {
    Side& s = side(cpu);
    if (bits == s.stat.bits) return;
    s.stat.bits = bits;
    uint64_t t = board_.timeOf(cpu);
    Scheduler& sched = board_.scheduler();
    if (s.stat.hblankIrq() && !s.hblank) {
        uint64_t when = lineStart(t) + kHBlankStart;
        if (when <= t) when += kCyclesPerLine;
        s.hblank = sched.every(when, kCyclesPerLine, [this, cpu] { board_.requestIrq(cpu, IRQ_HBLANK); });
    } else if (!s.stat.hblankIrq()) {
        s.hblank.cancel();
    }
    s.lineMatch.cancel();
    unsigned line = s.stat.matchLine();
    if (s.stat.lineIrq() && line < kLinesPerFrame) {
        uint64_t when = t - t % kCyclesPerFrame + line * kCyclesPerLine;
        if (when < t) when += kCyclesPerFrame;
        s.lineMatch = sched.every(when, kCyclesPerFrame, [this, cpu] { board_.requestIrq(cpu, IRQ_VCOUNT); });
    }
}

uint64_t DisplayStatus::nextChange(Cpu cpu, unsigned id) {
    uint64_t t = board_.timeOf(cpu);
    if (id == kLine) return lineStart(t) + kCyclesPerLine;
    return t % kCyclesPerLine < kHBlankStart ? lineStart(t) + kHBlankStart : lineStart(t) + kCyclesPerLine;
}

}  // namespace vxsim
