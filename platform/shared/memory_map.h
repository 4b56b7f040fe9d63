// Where things sit in the handheld's address space, for both back-ends: the
// library and the device's start-up code, and the simulation, which maps its
// memory at the same addresses.
#ifndef VX_SHARED_MEMORY_MAP_H
#define VX_SHARED_MEMORY_MAP_H

// The BIOS's interrupt words of each processor: the check flags, where the
// interrupt entry ORs what it served and the BIOS waits look, and the vector
// the BIOS jumps through. Macros, since the start-up code uses them too.
#define VX_BIOS_IRQ_CHECK_MAIN 0x0B003FF8  // the last words of the data TCM
#define VX_BIOS_IRQ_VECTOR_MAIN 0x0B003FFC
#define VX_BIOS_IRQ_CHECK_CO 0x0380FFF8  // the last words of the co-processor's work memory
#define VX_BIOS_IRQ_VECTOR_CO 0x0380FFFC

#ifndef __ASSEMBLER__
#include <stdint.h>

namespace vxshared {

// Main memory: 4 MB, seen again every 4 MB up to 0x02FFFFFF. The main
// processor caches the first view; the next one up is its uncached view.
constexpr uint32_t kMainRam = 0x02000000, kMainRamSize = 0x00400000, kMainRamViews = 4;
constexpr uint32_t kUncachedMirror = 0x00400000;
// The page both processors' programs share (nds.h's TRANSFER_REGION_ADDRESS).
constexpr uint32_t kTransferRegion = 0x027FF000;
// Where the boot loader leaves the firmware's user settings, and in them
// the touch calibration.
constexpr uint32_t kBootUserSettings = 0x027FFC80, kBootTouchCalibration = kBootUserSettings + 0x58;

// The 4 KB page holding a processor's BIOS words (index: 0 main, 1 co).
constexpr uint32_t kBiosIrqCheck[2] = {VX_BIOS_IRQ_CHECK_MAIN, VX_BIOS_IRQ_CHECK_CO};
constexpr uint32_t kBiosPage[2] = {VX_BIOS_IRQ_CHECK_MAIN & ~0xFFFu, VX_BIOS_IRQ_CHECK_CO & ~0xFFFu};

// Palettes: both engines' background and sprite palettes in the first 2 KB.
constexpr uint32_t kPalettes = 0x05000000, kPaletteArea = 0x1000, kPalettesUsed = 0x800;

// Video memory, as the banks' control registers place it.
constexpr uint32_t kVram = 0x06000000, kVramSpan = 0x00900000;
constexpr uint32_t kMainBackgrounds = 0x06000000, kSubBackgrounds = 0x06200000;
constexpr uint32_t kMainSprites = 0x06400000, kSubSprites = 0x06600000;
constexpr uint32_t kVramLcd = 0x06800000;  // banks A-E one after the other, in LCD mode

}  // namespace vxshared
#endif

#endif
