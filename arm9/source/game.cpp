// The play loop: d-pad steps with bounds, a state record after every step,
// re-registration on A, and the tank redrawn into the main framebuffer.
#include <nds.h>

#include "vxClient.h"

#define VX_FRAMEBUFFER VRAM_A
#define VX_ROWS_DRAWN 193  // rows 0..192: one row past the visible 192
#define VX_TANK_HALF 5

void vxMainLoop() {
    myTank.X = 128;
    myTank.Y = 128;
    while (1) {
        vxHandleInput();
        vxDrawTank(myTank.X, myTank.Y, 31);
    }
}

void vxHandleInput() {
    scanKeys();
    u16 keysPressed = (u16)~REG_KEYINPUT;

    // Each held direction steps, clamps (upper bound first) and sends, even
    // when the clamp leaves the value where it was.
    if (keysPressed & KEY_UP) {
        myTank.Y += 1;
        if (myTank.Y > 255) myTank.Y = 255;
        else if (myTank.Y < 0) myTank.Y = 0;
        vxSendData();
    }
    if (keysPressed & KEY_DOWN) {
        myTank.Y -= 1;
        if (myTank.Y > 255) myTank.Y = 255;
        else if (myTank.Y < 0) myTank.Y = 0;
        vxSendData();
    }
    if (keysPressed & KEY_LEFT) {
        myTank.X -= 1;
        if (myTank.X > 192) myTank.X = 192;
        else if (myTank.X < 0) myTank.X = 0;
        vxSendData();
    }
    if (keysPressed & KEY_RIGHT) {
        myTank.X += 1;
        if (myTank.X > 255) myTank.X = 255;
        else if (myTank.X < 0) myTank.X = 0;
        vxSendData();
    }
    if (keysDown() & KEY_A) {
        iprintf("Sending ADDME\n");
        vxSendADDME();
    }
    swiWaitForVBlank();
}

// Y counts upward from the bottom: the centre sits on row 192 - y.
void vxDrawTank(int x, int y, uint16 color) {
    u16* framebuffer = VX_FRAMEBUFFER;
    for (int row = VX_ROWS_DRAWN - 1; row >= 0; row--) {
        for (int column = 0; column < SCREEN_WIDTH; column++) {
            framebuffer[row * SCREEN_WIDTH + column] = 0;
        }
    }
    swiWaitForVBlank();

    for (int iy = VX_ROWS_DRAWN - 1; iy >= 0; iy--) {
        for (int ix = 0; ix < SCREEN_WIDTH; ix++) {
            if (iy >= y - VX_TANK_HALF && iy <= y + VX_TANK_HALF && ix >= x - VX_TANK_HALF && ix <= x + VX_TANK_HALF) {
                framebuffer[(VX_ROWS_DRAWN - 1 - iy) * SCREEN_WIDTH + ix] = color;
            }
        }
    }
    swiWaitForVBlank();
}

// Hook for other players' tanks; only the local one is known.
void vxDrawAllTanks() {}
