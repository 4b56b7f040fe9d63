// Wireless bring-up: the FIFO handshake with the co-processor, the 50 ms
// timer, and joining an access point from the stored settings.
#include <dswifi9.h>
#include <nds.h>
#include <stdlib.h>

#include "vxClient.h"

void InitWifi() {
    REG_IPC_FIFO_CR = IPC_FIFO_ENABLE | IPC_FIFO_SEND_CLEAR;
    u32 Wifi_pass = Wifi_Init(WIFIINIT_OPTION_USELED);

    // The co-processor skips everything up to the marker; the word after it
    // belongs to the library and is passed on unexamined.
    REG_IPC_FIFO_TX = VX_FIFO_MARKER;
    REG_IPC_FIFO_TX = Wifi_pass;

    TIMER3_CR = 0;
    REG_IPC_FIFO_CR = IPC_FIFO_ENABLE | IPC_FIFO_RECV_IRQ;
    Wifi_SetSyncHandler(arm9_synctoarm7);

    // -6553 ticks of bus/256: one overflow about every 50 ms.
    TIMER3_DATA = 0xE667;
    TIMER3_CR = TIMER_ENABLE | TIMER_IRQ_REQ | TIMER_DIV_256;

    // Ask once per frame, at the start of the vertical blank.
    while (Wifi_CheckInit() == 0) {
        while (REG_VCOUNT > 192) {
        }
        while (REG_VCOUNT < 192) {
        }
    }
}

void ConnectWFC() {
    iprintf("Connecting via WFC data\n");
    Wifi_AutoConnect();
    while (1) {
        int status = Wifi_AssocStatus();
        if (status == ASSOCSTATUS_ASSOCIATED) {
            iprintf("Connected successfully!\n");
            return;
        }
        if (status == ASSOCSTATUS_CANNOTCONNECT) {
            iprintf("Could not connect!\n");
            return;
        }
    }
}

void arm9_synctoarm7() { REG_IPC_FIFO_TX = VX_FIFO_SYNC; }

// The IP stack's buffers come from the general heap.
extern "C" void* sgIP_malloc(int size) { return malloc(size); }

extern "C" void sgIP_free(void* ptr) { free(ptr); }
