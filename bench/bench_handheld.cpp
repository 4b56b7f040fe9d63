// The simulated handheld's speed: a program pair that spins on the line
// counter, trades FIFO words every frame and redraws the whole framebuffer,
// run as fast as possible and then paced to the wall clock.
#include <nds.h>
#include <time.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "machine.h"

namespace {

int benchMain(int, char**) {
    powerON(POWER_ALL_2D);
    vramSetMainBanks(VRAM_A_LCD, VRAM_B_MAIN_BG, VRAM_C_SUB_BG, VRAM_D_LCD);
    videoSetMode(MODE_FB0);
    irqInit();
    REG_IPC_FIFO_CR = IPC_FIFO_ENABLE | IPC_FIFO_SEND_CLEAR;
    u16* fb = VRAM_A;
    for (u32 frame = 0;; ++frame) {
        while (REG_VCOUNT != 192) {
        }
        REG_IPC_FIFO_TX = frame;
        while (REG_IPC_FIFO_CR & IPC_FIFO_RECV_EMPTY) {
        }
        u32 answer = REG_IPC_FIFO_RX;
        for (int y = 0; y < SCREEN_HEIGHT; ++y) {
            for (int x = 0; x < SCREEN_WIDTH; ++x) {
                fb[y * SCREEN_WIDTH + x] = static_cast<u16>(RGB15((x + answer) & 31, y & 31, frame & 31));
            }
        }
        while (REG_VCOUNT == 192) {
        }
    }
    return 0;
}

void answer() {
    u32 word = REG_IPC_FIFO_RX;
    REG_IPC_FIFO_TX = word + 1;
}

int benchCo(int, char**) {
    irqInit();
    irqSet(IRQ_FIFO_NOT_EMPTY, answer);
    irqEnable(IRQ_FIFO_NOT_EMPTY);
    REG_IPC_FIFO_CR = IPC_FIFO_ENABLE | IPC_FIFO_RECV_IRQ;
    for (;;) swiWaitForVBlank();
    return 0;
}

double cpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

std::unique_ptr<vxsim::Machine> start(bool realtime) {
    vxsim::MachineConfig config;
    config.realtime = realtime;
    auto m = std::make_unique<vxsim::Machine>(config);
    m->load(vxsim::Cpu::Main, vxsim::ProgramImage{"bench-arm9", benchMain});
    m->load(vxsim::Cpu::Co, vxsim::ProgramImage{"bench-arm7", benchCo});
    m->powerOn();
    return m;
}

}  // namespace

int main() {
    using clock = std::chrono::steady_clock;
    {
        auto m = start(false);
        m->runFrames(60);
        const uint64_t frames = 6000;
        auto t0 = clock::now();
        m->runFrames(frames);
        double wall = std::chrono::duration<double>(clock::now() - t0).count();
        std::printf("virtual frames per second: %.0f\n", frames / wall);
    }
    {
        // Frame by frame, as a viewer drives it.
        auto m = start(true);
        m->runFrames(10);
        uint64_t c0 = m->cycles();
        double cpu0 = cpuSeconds();
        auto t0 = clock::now();
        for (int i = 0; i < 180; ++i) m->runFrames(1);
        double wall = std::chrono::duration<double>(clock::now() - t0).count();
        double cpu = cpuSeconds() - cpu0;
        double virt = static_cast<double>(m->cycles() - c0) / vxsim::kBusHz;
        if (getenv("VX_BENCH_VERBOSE")) std::printf("wall %.3f s, virtual %.3f s\n", wall, virt);
        std::printf("pacing error: %.2f %%\n", std::fabs(wall - virt) / virt * 100.0);
        std::printf("cpu share: %.1f %%\n", cpu / wall * 100.0);
    }
    std::fflush(stdout);
    return 0;
}
