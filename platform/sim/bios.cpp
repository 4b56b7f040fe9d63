// The BIOS of both processors as the library uses it (platform/library/bios.h):
// the vertical-blank wait, the wait by loop, and the interrupt words. The
// check word lives at its device address, in the page memory.cpp maps for
// each processor; the vector is kept beside the processor (machine_impl.h).
#include <nds.h>

#include <algorithm>

#include "bios.h"
#include "machine_impl.h"
#include "memory_map.h"

namespace vxsim {

volatile uint32_t& biosIrqCheck(Cpu cpu) {
    return *reinterpret_cast<volatile uint32_t*>(static_cast<uintptr_t>(vxshared::kBiosIrqCheck[idx(cpu)]));
}

}  // namespace vxsim

using namespace vxsim;

extern "C" {

// Forget the vertical blanks served before, set IME, halt until the entry
// has served a new one, and take it out of the check word.
void vxBiosVBlankIntrWait(void) {
    Machine::Impl& m = callerMachine("VBlankIntrWait");
    const Cpu me = m.cur;
    volatile uint32_t& check = biosIrqCheck(me);
    check = check & ~static_cast<uint32_t>(IRQ_VBLANK);
    Interrupts::State& s = m.interrupts.of(me);
    s.ime = 1;
    for (;;) {
        m.haltCurrent(false);
        if (check & IRQ_VBLANK) {
            check = check & ~static_cast<uint32_t>(IRQ_VBLANK);
            return;
        }
        // Requested but not taken (inside a handler): the wait keeps waking
        // and sleeping, as on the device.
        if (s.pendingEnabled()) m.idle(kNever);
    }
}

void vxBiosDelay(uint32_t count) {
    callerMachine("WaitByLoop");
    for (; count > 0; count -= std::min(count, 0x10000u)) hw::charge(4 * std::min(count, 0x10000u));
}

void vxBiosSetIrqVector(void (*service)(uint32_t fired)) {
    Machine::Impl& m = callerMachine("the interrupt vector");
    m.cpu(m.cur).irqVector = service;
}

volatile uint32_t* vxBiosIrqCheck(void) { return &biosIrqCheck(callerMachine("the interrupt check word").cur); }

}  // extern "C"
