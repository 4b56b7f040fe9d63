// Entry point of the main-processor program: hardware set-up, then the three
// stages of the client in order.
#include <dswifi9.h>
#include <nds.h>

#include "vxClient.h"

int main() {
    powerON(POWER_LCD | POWER_2D_A | POWER_2D_B);
    vxInitVideo();

    irqInit();
    // No vertical-blank handler of our own; the library keeps the interrupt
    // running so that swiWaitForVBlank returns.
    irqSet(IRQ_VBLANK, 0);
    irqSet(IRQ_TIMER3, Timer_50ms);
    irqEnable(IRQ_TIMER3);
    irqSet(IRQ_FIFO_NOT_EMPTY, arm9_fifo);
    irqEnable(IRQ_FIFO_NOT_EMPTY);

    // Written before the console starts so that its first line is already
    // in the text colour.
    BG_PALETTE_SUB[255] = RGB15(10, 31, 31);
    consoleInitDefault((u16*)0x0620F800, (u16*)0x06200000, 16);

    iprintf("Attempting to initialise Wifi.. \n");
    InitWifi();
    iprintf("Wifi initialised.. \n");
    ConnectWFC();
    iprintf("Attempting to connect to server..\n");
    vxConnectToServer();
    return 0;
}

void vxInitVideo() {
    vramSetMainBanks(VRAM_A_MAIN_BG, VRAM_B_MAIN_BG, VRAM_C_SUB_BG, VRAM_D_LCD);
    vramSetBankE(VRAM_E_MAIN_SPRITE);
    videoSetMode(MODE_FB0);
    // Framebuffer mode shows bank A only while the processor owns it.
    vramSetBankA(VRAM_A_LCD);
    videoSetModeSub(MODE_0_2D | DISPLAY_BG0_ACTIVE);
    SUB_BG0_CR = BG_MAP_BASE(31);
}

void Timer_50ms() { Wifi_Timer(50); }

// One word per interrupt; anything but the sync word is dropped.
void arm9_fifo() {
    u32 word = REG_IPC_FIFO_RX;
    if (word == VX_FIFO_SYNC) {
        Wifi_Sync();
    }
}
