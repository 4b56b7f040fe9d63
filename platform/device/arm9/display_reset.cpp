// The display as the programs find it at power-on, and as the simulated
// handheld starts: every video-memory bank unmapped and zero, palettes and
// object memory zero, both engines' registers zero (no scroll, blending,
// windows, mosaic or brightness change), engine A on the top screen and the
// engines off. An emulator's direct boot leaves most of this; a
// flash-cartridge loader may leave its menu's settings behind.
#include "device.h"

namespace {

constexpr uint32_t kEngineA = 0x04000000, kEngineB = 0x04001000;
// Per engine: control, then background control, scroll, rotation, windows,
// mosaic and blending (0x08-0x55); master brightness at 0x6C.
constexpr uint32_t kDisplayControl = 0x00, kFirstLayerRegister = 0x08, kEndBlending = 0x56, kMasterBright = 0x6C;
// Engine A only: the 3D display control and display capture.
constexpr uint32_t k3dControl = 0x60, kCapture = 0x64;

// The LCD window shows all nine banks, A at 0x06800000 up to I's end.
constexpr uint32_t kLcdStart = 0x06800000, kLcdEnd = 0x068A4000;
constexpr uint32_t kPalettes = 0x05000000, kObjectMemory = 0x07000000, kTwoEnginesBytes = 0x800;
constexpr uint8_t kBankLcd = 0x80;

// Bank control bytes outside VRAM_CR (A-D) and VRAM_E_CR; WRAMCNT sits
// between G and H, so each is written alone.
#define VRAM_F_CR VX_IO8(0x04000245)
#define VRAM_G_CR VX_IO8(0x04000246)
#define VRAM_H_CR VX_IO8(0x04000248)
#define VRAM_I_CR VX_IO8(0x04000249)

void setAllBanks(uint8_t control) {
    VRAM_CR = control * 0x01010101u;
    VRAM_E_CR = control;
    VRAM_F_CR = control;
    VRAM_G_CR = control;
    VRAM_H_CR = control;
    VRAM_I_CR = control;
}

void clearEngine(uint32_t base) {
    VX_IO32(base + kDisplayControl) = 0;
    for (uint32_t r = kFirstLayerRegister; r < kEndBlending; r += 2) VX_IO16(base + r) = 0;
    VX_IO16(base + kMasterBright) = 0;
}

}  // namespace

extern "C" {

void vxClearWords(uint32_t from, uint32_t end);

// Called by the start-up code before constructors and main.
void vxResetDisplay(void) {
    // A powered-down engine ignores writes to its registers and palettes.
    REG_POWERCNT = POWER_SWAP_LCDS | POWER_ALL_2D | POWER_3D_CORE | POWER_MATRIX;
    REG_DISPSTAT = 0;
    clearEngine(kEngineA);
    clearEngine(kEngineB);
    VX_IO16(kEngineA + k3dControl) = 0;
    VX_IO32(kEngineA + kCapture) = 0;

    setAllBanks(kBankLcd);
    vxClearWords(kLcdStart, kLcdEnd);
    setAllBanks(0);
    vxClearWords(kPalettes, kPalettes + kTwoEnginesBytes);
    vxClearWords(kObjectMemory, kObjectMemory + kTwoEnginesBytes);

    REG_POWERCNT = POWER_SWAP_LCDS;
}

}  // extern "C"
