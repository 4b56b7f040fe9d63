// Interrupt dispatch: one handler per request bit, run by vxIrqService with
// further interrupts held off. The vertical blank stays enabled from irqInit
// on, so that the BIOS wait for it works without a handler of the program's.
#include "device.h"
#include "fault.h"
#include "irq_sources.h"

using vxshared::displaySourceBits;

namespace {

VoidFunctionPointer handlers[32];

}  // namespace

extern "C" {

void vxIrqService(uint32_t fired) {
#ifdef VX_ARM9
    if (fired & IRQ_VBLANK) vxCheckCoFault();
#endif
    for (int bit = 0; fired != 0; ++bit, fired >>= 1) {
        if ((fired & 1) && handlers[bit]) handlers[bit]();
    }
}

void irqInit(void) {
    REG_IME = 0;
    for (auto& h : handlers) h = nullptr;
    VX_BIOS_IRQ_HANDLER = reinterpret_cast<uint32_t>(&vxIrqEntry);
    VX_BIOS_IRQ_FLAGS = 0;
    REG_IF = ~0u;  // drop whatever was requested before
    REG_IE = IRQ_VBLANK;
    REG_DISPSTAT = static_cast<uint16_t>(REG_DISPSTAT | DISP_VBLANK_IRQ);
    REG_IME = 1;
}

void irqSet(int mask, VoidFunctionPointer handler) {
    for (int bit = 0; bit < 32; ++bit) {
        if (static_cast<uint32_t>(mask) & (1u << bit)) handlers[bit] = handler;
    }
}

void irqEnable(uint32 mask) {
    const uint32_t ime = REG_IME;
    REG_IME = 0;
    if (uint16_t bits = displaySourceBits(mask)) REG_DISPSTAT = static_cast<uint16_t>(REG_DISPSTAT | bits);
    REG_IE = REG_IE | mask;
    REG_IME = ime;
}

void irqDisable(uint32 mask) {
    const uint32_t ime = REG_IME;
    REG_IME = 0;
    if (uint16_t bits = displaySourceBits(mask)) REG_DISPSTAT = static_cast<uint16_t>(REG_DISPSTAT & ~bits);
    REG_IE = REG_IE & ~mask;
    REG_IME = ime;
}

void irqClear(int mask) {
    irqDisable(static_cast<uint32_t>(mask));
    irqSet(mask, nullptr);
}

}  // extern "C"
