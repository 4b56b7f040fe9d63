// Interrupt dispatch: one handler per request bit, run by vxIrqService with
// further interrupts held off. The vertical blank stays enabled from irqInit
// on, so that the BIOS wait for it works without a handler of the program's.
// The display's sources have enables of their own in DISPSTAT, set and
// cleared along with IE.
#include <nds.h>

#include "bios.h"
#include "hooks.h"
#include "irq_sources.h"
#include "locals.h"
#if defined(VX_DEVICE) && defined(VX_ARM9)
#include "fault.h"
#endif

using vxlib::locals;
using vxshared::displaySourceBits;

namespace {

void setHandlers(uint32_t mask, VoidFunctionPointer handler) {
    VoidFunctionPointer* handlers = locals().handlers;
    for (int bit = 0; bit < 32; ++bit) {
        if (mask & (1u << bit)) handlers[bit] = handler;
    }
}

// With the master enable off around the change, so that no handler sees IE
// and DISPSTAT disagree.
void enable(uint32_t mask, bool on) {
    const uint32_t ime = REG_IME;
    REG_IME = 0;
    if (uint16_t bits = displaySourceBits(mask))
        REG_DISPSTAT = static_cast<uint16_t>(on ? REG_DISPSTAT | bits : REG_DISPSTAT & ~bits);
    REG_IE = on ? REG_IE | mask : REG_IE & ~mask;
    REG_IME = ime;
}

}  // namespace

extern "C" {

void vxIrqService(uint32_t fired) {
#if defined(VX_DEVICE) && defined(VX_ARM9)
    if (fired & IRQ_VBLANK) vxCheckCoFault();
#endif
    const VoidFunctionPointer* handlers = locals().handlers;
    for (int bit = 0; fired != 0; ++bit, fired >>= 1) {
        if ((fired & 1) && handlers[bit]) handlers[bit]();
    }
}

void irqInit(void) {
    VX_LIB_CALL(Any, "irqInit");
    VX_LIB_TRACE("irqInit()");
    REG_IME = 0;
    setHandlers(~0u, nullptr);
    vxlib::installIrqEntry();
    vxlib::biosIrqCheck() = 0;
    REG_IF = ~0u;  // drop whatever was requested before
    REG_IE = IRQ_VBLANK;
    REG_DISPSTAT = static_cast<uint16_t>(REG_DISPSTAT | DISP_VBLANK_IRQ);
    REG_IME = 1;
}

void irqSet(int mask, VoidFunctionPointer handler) {
    VX_LIB_CALL(Any, "irqSet");
    VX_LIB_TRACE("irqSet(0x%X,%s)", static_cast<unsigned>(mask), handler ? "handler" : "null");
    setHandlers(static_cast<uint32_t>(mask), handler);
}

void irqClear(int mask) {
    VX_LIB_CALL(Any, "irqClear");
    VX_LIB_TRACE("irqClear(0x%X)", static_cast<unsigned>(mask));
    enable(static_cast<uint32_t>(mask), false);
    setHandlers(static_cast<uint32_t>(mask), nullptr);
}

void irqEnable(uint32 mask) {
    VX_LIB_CALL(Any, "irqEnable");
    VX_LIB_TRACE("irqEnable(0x%X)", static_cast<unsigned>(mask));
    enable(mask, true);
}

void irqDisable(uint32 mask) {
    VX_LIB_CALL(Any, "irqDisable");
    VX_LIB_TRACE("irqDisable(0x%X)", static_cast<unsigned>(mask));
    enable(mask, false);
}

void swiWaitForVBlank(void) {
    VX_LIB_CALL(Any, "swiWaitForVBlank");
    VX_LIB_TRACE("swiWaitForVBlank()");
    vxBiosVBlankIntrWait();
}

}  // extern "C"
