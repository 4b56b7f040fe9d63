// What the device back-end's own files share: registers the programs never
// name, the BIOS interface and the memory map. Everything here is the device
// back-end's business, not the programs'.
#ifndef VX_DEVICE_DEVICE_H
#define VX_DEVICE_DEVICE_H

#include <nds.h>

#include "bios.h"
#include "memory_map.h"

// Main memory is seen twice by the main processor: cached at 0x02000000 and
// uncached through its mirror 4 MB higher. Data the co-processor also reads
// or writes goes through the uncached view.
#define VX_MAIN_RAM vxshared::kMainRam
#define VX_MAIN_RAM_SIZE vxshared::kMainRamSize
#define VX_UNCACHED_MIRROR vxshared::kUncachedMirror

// Serial bus and clock port: the library's own (serial.h).
#include "serial.h"

#endif
