// Only the handheld's own identifiers here: this is code for the device.
#include <nds.h>

#include "stand_ins.h"
#include "test_program.h"

namespace hhtest {

FifoScript fifoScript;
std::atomic<bool> standInDone{false};
std::atomic<bool> standInStuck{false};
std::vector<uint32_t> standInTook;
int (*realEntry)(int, char**) = nullptr;
uint16_t powerBefore = 0;

namespace {

constexpr int kPatienceFrames = 120;

bool waitUntilTaken() {
    for (int i = 0; i < kPatienceFrames; ++i) {
        if (REG_IPC_FIFO_CR & IPC_FIFO_SEND_EMPTY) return true;
        swiWaitForVBlank();
    }
    standInStuck = true;
    return false;
}

void write(const std::vector<uint32_t>& words) {
    for (uint32_t w : words) REG_IPC_FIFO_TX = w;
}

void runScript() {
    for (int i = 0; i < fifoScript.framesBefore; ++i) swiWaitForVBlank();
    write(fifoScript.burst);
    for (uint32_t w : fifoScript.paced) {
        if (!waitUntilTaken()) break;
        REG_IPC_FIFO_TX = w;
    }
    if (waitUntilTaken()) write(fifoScript.finalBurst);
    standInDone = true;
}

}  // namespace

int mainStandIn(int, char**) {
    irqInit();
    REG_IPC_FIFO_CR = IPC_FIFO_ENABLE | IPC_FIFO_SEND_CLEAR;
    runScript();
    vxtest::idleForever();
    return 0;
}

int coStandIn(int, char**) {
    irqInit();
    REG_IPC_FIFO_CR = IPC_FIFO_ENABLE | IPC_FIFO_SEND_CLEAR;
    int waited = 0;
    while (static_cast<int>(standInTook.size()) < fifoScript.wordsToTake && waited < kPatienceFrames) {
        if (REG_IPC_FIFO_CR & IPC_FIFO_RECV_EMPTY) {
            swiWaitForVBlank();
            ++waited;
            continue;
        }
        standInTook.push_back(REG_IPC_FIFO_RX);
    }
    runScript();
    vxtest::idleForever();
    return 0;
}

int withPowerBefore(int argc, char** argv) {
    REG_POWERCNT = powerBefore;
    return realEntry(argc, argv);
}

}  // namespace hhtest
