// Everything the library keeps between calls, in one place. On the device
// each processor's image has its own copy, cleared with the rest of .bss by
// the start-up code. In the simulation one copy of the library's code serves
// both processors: locals() is the running processor's copy, which the
// simulation clears at power-on.
#ifndef VX_LIBRARY_LOCALS_H
#define VX_LIBRARY_LOCALS_H

#include <nds.h>

namespace vxlib {

struct Locals {
    VoidFunctionPointer handlers[32];  // by request bit
    // Video-memory bank controls A-E as last written: the registers read
    // back nothing on the device.
    uint8_t banks[5];
    uint32_t keysNow, keysBefore;  // KEY_* bits held at the last two scans
    struct Console {
        volatile uint16_t* map;  // null until consoleInitDefault
        int row, col;
#ifndef VX_DEVICE
        char line[96];  // the line being written, for the trace; the rest of a longer one is dropped
        int lineLength;
#endif
    } console;
};

#ifdef VX_DEVICE
inline Locals gLocals;
inline Locals& locals() { return gLocals; }
#else
Locals& locals();
#endif

}  // namespace vxlib

#endif
