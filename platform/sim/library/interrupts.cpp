// The library's interrupt calls and the vertical-blank wait. The library
// turns the display's interrupt sources on and off along with the enables.
#include <nds.h>

#include "irq_sources.h"
#include "library.h"

using namespace vxsim;
using vxshared::displaySourceBits;

// The display status device takes the bits as DISPSTAT holds them.
static_assert(DispStat::kVBlankIrq == DISP_VBLANK_IRQ && DispStat::kHBlankIrq == DISP_HBLANK_IRQ &&
              DispStat::kLineIrq == DISP_YTRIGGER_IRQ);

namespace {

void setHandlers(Interrupts::State& s, uint32_t mask, IrqHandler handler) {
    for (int b = 0; b < 32; ++b) {
        if (mask & (1u << b)) s.handlers[b] = handler;
    }
}

void disable(Machine::Impl& m, uint32_t mask) {
    m.interrupts.of(m.cur).ie &= ~mask;
    if (uint16_t bits = displaySourceBits(mask)) m.displayStatus.setInterrupts(m.cur, bits, false);
}

}  // namespace

extern "C" {

void irqInit(void) {
    Machine::Impl& m = enter("irqInit");
    Interrupts::State& s = m.interrupts.of(m.cur);
    s.ime = 0;
    setHandlers(s, ~0u, nullptr);
    s.flags = 0;
    s.served = 0;
    // The vertical blank stays served (with no handler) so that
    // swiWaitForVBlank works without the program enabling it.
    s.ie = IRQ_VBLANK;
    m.displayStatus.setInterrupts(m.cur, DispStat::kVBlankIrq, true);
    s.ime = 1;
    traceCall(m, "irqInit()");
}

void irqSet(int mask, VoidFunctionPointer handler) {
    Machine::Impl& m = enter("irqSet");
    setHandlers(m.interrupts.of(m.cur), static_cast<uint32_t>(mask), handler);
    traceCall(m, "irqSet(" + hex(static_cast<uint32_t>(mask)) + "," + (handler ? "handler" : "null") + ")");
}

void irqClear(int mask) {
    Machine::Impl& m = enter("irqClear");
    setHandlers(m.interrupts.of(m.cur), static_cast<uint32_t>(mask), nullptr);
    disable(m, static_cast<uint32_t>(mask));
    traceCall(m, "irqClear(" + hex(static_cast<uint32_t>(mask)) + ")");
}

void irqEnable(uint32 mask) {
    Machine::Impl& m = enter("irqEnable");
    m.interrupts.of(m.cur).ie |= mask;
    if (uint16_t bits = displaySourceBits(mask)) m.displayStatus.setInterrupts(m.cur, bits, true);
    traceCall(m, "irqEnable(" + hex(mask) + ")");
    m.takeInterrupts();
}

void irqDisable(uint32 mask) {
    Machine::Impl& m = enter("irqDisable");
    disable(m, mask);
    traceCall(m, "irqDisable(" + hex(mask) + ")");
}

// As the BIOS wait does: forget an earlier vertical blank, then halt until
// the dispatcher has served a new one.
void swiWaitForVBlank(void) {
    Machine::Impl& m = enter("swiWaitForVBlank");
    traceCall(m, "swiWaitForVBlank()");
    Interrupts::State& s = m.interrupts.of(m.cur);
    s.served &= ~static_cast<uint32_t>(IRQ_VBLANK);
    for (;;) {
        m.haltCurrent(false);
        if (s.served & IRQ_VBLANK) return;
        // Requested but not taken (master enable off, or inside a handler):
        // the wait keeps waking and sleeping, as on the device.
        if (s.pendingEnabled()) m.idle(kNever);
    }
}

}  // extern "C"
