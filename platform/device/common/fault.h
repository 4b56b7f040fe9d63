// What a fault leaves in main memory, where the debugger, the other
// processor and a user with a memory viewer can find it: one record per
// processor in the boot-data page, through the uncached view.
#ifndef VX_DEVICE_FAULT_H
#define VX_DEVICE_FAULT_H

#define VX_FAULT_UNDEFINED 1
#define VX_FAULT_ABORT 2  // prefetch or data: the BIOS calls both in abort mode

#define VX_FAULT_RECORD_MAIN 0x027FF100  // magic, kind, address, mode
#define VX_FAULT_RECORD_CO 0x027FF110
#define VX_FAULT_MAGIC 0x544C4146  // "FALT"

#ifndef __ASSEMBLER__
#include <stdint.h>

struct FaultRecord {
    uint32_t magic, kind, address, mode;
};

extern "C" {
// Records the fault, shows it where the processor can, and stops for good.
[[noreturn]] void vxFault(uint32_t kind, uint32_t address, uint32_t mode);
[[noreturn]] void vxFaultStop(void) __attribute__((noinline));
// Main processor, once a frame: shows a fault the co-processor recorded.
void vxCheckCoFault(void);
}
#endif

#endif
