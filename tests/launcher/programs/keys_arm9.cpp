// Main-processor test program: a picture of the keypad over time. Column k of
// the top screen shows, in twelve bands of 16 rows (band i = key bit i, from
// A down to Y), which keys were held during frame k: white held, dark blue
// not held; columns of frames not yet run stay black. The console gets a few
// fixed lines, one of them only once frame 30 is reached, and a line with the
// key bits whenever they change.
#include <nds.h>

namespace {

constexpr u16 kHeld = RGB15(31, 31, 31);
constexpr u16 kFree = RGB15(0, 0, 12);
constexpr int kBands = 12;

u32 keysNow() {
    u32 keys = ~u32(REG_KEYINPUT) & 0x3ff;
    // X and Y reach only the co-processor, which copies its register into
    // the transfer region.
    const u16 xy = IPC->buttons;
    if (!(xy & XKEY_X)) keys |= KEY_X;
    if (!(xy & XKEY_Y)) keys |= KEY_Y;
    return keys;
}

void paintColumn(int x, u32 keys) {
    for (int band = 0; band < kBands; ++band) {
        const u16 colour = (keys & BIT(band)) ? kHeld : kFree;
        for (int y = band * 16; y < band * 16 + 16; ++y) VRAM_A[y * SCREEN_WIDTH + x] = colour;
    }
}

}  // namespace

int main() {
    powerON(POWER_LCD | POWER_2D_A | POWER_2D_B);
    vramSetMainBanks(VRAM_A_LCD, VRAM_B_LCD, VRAM_C_SUB_BG, VRAM_D_LCD);
    videoSetMode(MODE_FB0);
    videoSetModeSub(MODE_0_2D | DISPLAY_BG0_ACTIVE);
    SUB_BG0_CR = BG_MAP_BASE(31);
    BG_PALETTE_SUB[255] = RGB15(31, 31, 31);
    consoleInitDefault((u16*)0x0620F800, (u16*)0x06200000, 16);
    irqInit();

    iprintf("launcher test\n");
    iprintf("answer %d", 42);
    iprintf(" and more\n");

    // Sample each frame away from its edges: frame 0 half-way down the
    // screen, later frames on the line after the vertical blank ends, when
    // the co-processor has long refreshed the transfer region.
    while (REG_VCOUNT < 96) {
    }
    u32 previous = 0;
    for (int frame = 0;; ++frame) {
        const u32 keys = keysNow();
        paintColumn(frame % SCREEN_WIDTH, keys);
        if (keys != previous) iprintf("keys %d\n", int(keys));
        previous = keys;
        if (frame == 30) iprintf("frame 30 reached\n");
        swiWaitForVBlank();
        while (REG_VCOUNT >= 192) {
        }
    }
    return 0;
}
