// Demo, main processor: a colour pattern with a square that the d-pad moves
// on the framebuffer screen, and a console that reports keys on the other.
#include <nds.h>

namespace {

int squareX = 128, squareY = 96;

void draw(unsigned frame) {
    u16* fb = VRAM_A;
    for (int y = 0; y < SCREEN_HEIGHT; ++y) {
        for (int x = 0; x < SCREEN_WIDTH; ++x) {
            bool inSquare = x >= squareX - 8 && x < squareX + 8 && y >= squareY - 8 && y < squareY + 8;
            fb[y * SCREEN_WIDTH + x] = inSquare ? RGB15(31, 31, 31) : RGB15((x + frame) >> 3 & 31, y >> 3 & 31, 12);
        }
    }
}

}  // namespace

int main() {
    powerON(POWER_ALL_2D);
    vramSetMainBanks(VRAM_A_LCD, VRAM_B_MAIN_BG, VRAM_C_SUB_BG, VRAM_D_LCD);
    videoSetMode(MODE_FB0);
    videoSetModeSub(MODE_0_2D | DISPLAY_BG0_ACTIVE);
    SUB_BG0_CR = BG_MAP_BASE(31);
    BG_PALETTE_SUB[0] = RGB15(0, 0, 8);
    BG_PALETTE_SUB[255] = RGB15(31, 31, 20);
    consoleInitDefault((u16*)0x0620F800, (u16*)0x06200000, 16);
    irqInit();

    iprintf("vx-handheld demo\n");
    iprintf("d-pad moves the square, A prints\n\n");
    for (unsigned frame = 0;; ++frame) {
        scanKeys();
        u32 held = keysHeld();
        if (held & KEY_LEFT && squareX > 8) --squareX;
        if (held & KEY_RIGHT && squareX < SCREEN_WIDTH - 8) ++squareX;
        if (held & KEY_UP && squareY > 8) --squareY;
        if (held & KEY_DOWN && squareY < SCREEN_HEIGHT - 8) ++squareY;
        u32 down = keysDown();
        if (down & KEY_A) iprintf("A at %d,%d\n", squareX, squareY);
        if (down & (KEY_X | KEY_Y)) iprintf("%s pressed\n", down & KEY_X ? "X" : "Y");
        if (frame % 600 == 599) iprintf("%u frames\n", frame + 1);
        draw(frame);
        swiWaitForVBlank();
    }
    return 0;
}
