// Power control. The register has one address on both processors: display
// engines on the main one, sound and wireless on the co-processor.
#include "device.h"

extern "C" {

void powerON(int bits) { REG_POWERCNT = static_cast<uint16_t>(REG_POWERCNT | bits); }

void powerOFF(int bits) { REG_POWERCNT = static_cast<uint16_t>(REG_POWERCNT & ~bits); }

}  // extern "C"
