// Power control. The register has one address on both processors: display
// engines on the main one, sound and wireless on the co-processor.
#include <nds.h>

#include "hooks.h"

extern "C" {

void powerON(int bits) {
    VX_LIB_CALL(Any, "powerON");
    VX_LIB_TRACE("powerON(0x%X)", static_cast<unsigned>(bits));
    REG_POWERCNT = static_cast<uint16_t>(REG_POWERCNT | bits);
}

void powerOFF(int bits) {
    VX_LIB_CALL(Any, "powerOFF");
    VX_LIB_TRACE("powerOFF(0x%X)", static_cast<unsigned>(bits));
    REG_POWERCNT = static_cast<uint16_t>(REG_POWERCNT & ~bits);
}

}  // extern "C"
