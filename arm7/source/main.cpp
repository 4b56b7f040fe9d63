// Entry point of the co-processor program: its share of the hardware, the
// main processor's wireless handshake, then nothing but interrupt work.
#include <dswifi7.h>
#include <nds.h>

#include "arm7.h"

int main(int argc, char** argv) {
    (void)argc;
    (void)argv;

    REG_IPC_FIFO_CR = IPC_FIFO_ENABLE | IPC_FIFO_SEND_CLEAR;
    rtcReset();
    powerON(POWER_SOUND);
    SOUND_CR = SOUND_ENABLE | SOUND_VOL(0x7F);
    IPC->soundData = 0;

    irqInit();
    irqSet(IRQ_VBLANK, VblankHandler);
    irqEnable(IRQ_VBLANK);
    irqSet(IRQ_WIFI, Wifi_Interrupt);
    irqEnable(IRQ_WIFI);

    // Skip whatever came before the marker; wait a frame only when empty.
    while (1) {
        if (REG_IPC_FIFO_CR & IPC_FIFO_RECV_EMPTY) {
            swiWaitForVBlank();
            continue;
        }
        if (REG_IPC_FIFO_RX == VX_FIFO_MARKER) {
            break;
        }
    }

    while (REG_IPC_FIFO_CR & IPC_FIFO_RECV_EMPTY) {
        swiWaitForVBlank();
    }
    u32 fifo_temp = REG_IPC_FIFO_RX;
    Wifi_Init(fifo_temp);

    // From here on the FIFO belongs to the interrupt handler.
    irqSet(IRQ_FIFO_NOT_EMPTY, arm7_fifo);
    irqEnable(IRQ_FIFO_NOT_EMPTY);
    REG_IPC_FIFO_CR = IPC_FIFO_ENABLE | IPC_FIFO_RECV_IRQ;
    Wifi_SetSyncHandler(arm7_synctoarm9);

    while (1) {
        swiWaitForVBlank();
    }
    return 0;
}

// One word per interrupt; anything but the sync word is dropped.
void arm7_fifo() {
    u32 msg = REG_IPC_FIFO_RX;
    if (msg == VX_FIFO_SYNC) {
        Wifi_Sync();
    }
}

void arm7_synctoarm9() { REG_IPC_FIFO_TX = VX_FIFO_SYNC; }
