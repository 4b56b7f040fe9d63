// The co-processor test program: the real co-processor's start-up and FIFO
// relay, with each link switchable.
#include <dswifi7.h>
#include <nds.h>

#include "test_program.h"
#include "vxFifo.h"
#include "wifi_programs.h"

// Declared here only to show that the main processor's half refuses this processor.
namespace vxwifi9 {
u32 Wifi_Init(int initflags);
}

namespace wifitest {

CoOptions coOptions;

namespace {

constexpr u32 kMarker = VX_FIFO_MARKER;
constexpr u32 kSync = VX_FIFO_SYNC;

void vblank7() { Wifi_Update(); }

void fifo7() {
    u32 msg = REG_IPC_FIFO_RX;
    if (msg == kSync) {
        Wifi_Sync();
    }
}

void sync7() { REG_IPC_FIFO_TX = kSync; }

}  // namespace

int coProgram(int argc, char** argv) {
    (void)argc;
    (void)argv;
    const CoOptions& o = coOptions;
    REG_IPC_FIFO_CR = IPC_FIFO_ENABLE | IPC_FIFO_SEND_CLEAR;
    irqInit();
    irqSet(IRQ_VBLANK, vblank7);
    irqEnable(IRQ_VBLANK);
    if (o.wifiIrq) {
        irqSet(IRQ_WIFI, Wifi_Interrupt);
        irqEnable(IRQ_WIFI);
    }
    if (o.callsBeforeInit) {
        Wifi_Sync();
        Wifi_Interrupt();
        Wifi_Update();
    }
    if (o.wrongHalf) {
        vxwifi9::Wifi_Init(2);
    }
    for (;;) {
        if (REG_IPC_FIFO_CR & IPC_FIFO_RECV_EMPTY) {
            swiWaitForVBlank();
            continue;
        }
        if (REG_IPC_FIFO_RX == kMarker) {
            break;
        }
    }
    while (REG_IPC_FIFO_CR & IPC_FIFO_RECV_EMPTY) {
        swiWaitForVBlank();
    }
    u32 value = REG_IPC_FIFO_RX;
    Wifi_Init(value);
    if (o.fifoHandler) {
        irqSet(IRQ_FIFO_NOT_EMPTY, fifo7);
        irqEnable(IRQ_FIFO_NOT_EMPTY);
    }
    REG_IPC_FIFO_CR = IPC_FIFO_ENABLE | IPC_FIFO_RECV_IRQ;
    if (o.syncHandler) {
        Wifi_SetSyncHandler(sync7);
    }
    vxtest::idleForever();
}

}  // namespace wifitest
