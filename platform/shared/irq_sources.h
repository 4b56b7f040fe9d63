// The interrupt sources that have an enable bit of their own in DISPSTAT
// besides IE: the library's interrupt calls turn those on and off along with
// the enables, in both back-ends.
#ifndef VX_SHARED_IRQ_SOURCES_H
#define VX_SHARED_IRQ_SOURCES_H

#include <nds.h>
#include <stdint.h>

namespace vxshared {

inline uint16_t displaySourceBits(uint32_t mask) {
    uint16_t bits = 0;
    if (mask & IRQ_VBLANK) bits |= DISP_VBLANK_IRQ;
    if (mask & IRQ_HBLANK) bits |= DISP_HBLANK_IRQ;
    if (mask & IRQ_VCOUNT) bits |= DISP_YTRIGGER_IRQ;
    return bits;
}

}  // namespace vxshared

#endif
