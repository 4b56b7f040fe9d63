// What the library asks of the BIOS, on the device its software interrupts
// and words (platform/device/common/bios.S), in the simulation its model of
// them (platform/sim/bios.cpp).
//
// The interrupt contract: on an interrupt the processor may take, the entry
// the vector names (irq_entry.S on the device; in the simulation, the
// simulation itself) reads IE & IF, acknowledges that in IF, ORs it into this
// processor's check word and calls vxIrqService with further interrupts held
// off. The BIOS waits test and clear the check word.
#ifndef VX_LIBRARY_BIOS_H
#define VX_LIBRARY_BIOS_H

#include <stdint.h>

#include "memory_map.h"

extern "C" {
// The library's interrupt service: runs the handlers of `fired`.
void vxIrqService(uint32_t fired);

// VBlankIntrWait: forgets the vertical blanks already served, sets IME and
// halts until the entry has served a new one.
void vxBiosVBlankIntrWait(void);
// WaitByLoop: about `count` loops of four cycles each.
void vxBiosDelay(uint32_t count);

#ifdef VX_DEVICE
// The assembly entry (irq_entry.S), whose address goes into the vector.
void vxIrqEntry(void);
#else
// The vector cannot hold a host pointer in its 32-bit word: the simulation
// keeps the running processor's service routine instead (null: none yet).
void vxBiosSetIrqVector(void (*service)(uint32_t fired));
// The running processor's check word.
volatile uint32_t* vxBiosIrqCheck(void);
#endif
}

namespace vxlib {

#ifdef VX_DEVICE
#ifdef VX_ARM9
inline volatile uint32_t& biosIrqCheck() { return *reinterpret_cast<volatile uint32_t*>(VX_BIOS_IRQ_CHECK_MAIN); }
inline void installIrqEntry() {
    *reinterpret_cast<volatile uint32_t*>(VX_BIOS_IRQ_VECTOR_MAIN) = reinterpret_cast<uint32_t>(&vxIrqEntry);
}
#else
inline volatile uint32_t& biosIrqCheck() { return *reinterpret_cast<volatile uint32_t*>(VX_BIOS_IRQ_CHECK_CO); }
inline void installIrqEntry() {
    *reinterpret_cast<volatile uint32_t*>(VX_BIOS_IRQ_VECTOR_CO) = reinterpret_cast<uint32_t>(&vxIrqEntry);
}
#endif
#else
inline volatile uint32_t& biosIrqCheck() { return *vxBiosIrqCheck(); }
inline void installIrqEntry() { vxBiosSetIrqVector(&vxIrqService); }
#endif

}  // namespace vxlib

#endif
