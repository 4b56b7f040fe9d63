// The library's power and video-memory calls: each is a register write
// through the device, so the device's masks apply.
#include <nds.h>

#include "library.h"

using namespace vxsim;

namespace {

void setBank(const char* name, int bank, int value) {
    Machine::Impl& m = enter(name, Cpu::Main);
    m.videoMemory.setControl(bank, static_cast<uint8_t>(VramCnt::kEnable | value));
    traceCall(m, std::string(name) + "(" + std::to_string(value) + ")");
}

}  // namespace

extern "C" {

void powerON(int bits) {
    Machine::Impl& m = enter("powerON");
    m.power.set(m.cur, static_cast<uint16_t>(m.power.bits(m.cur) | bits));
    traceCall(m, "powerON(" + hex(static_cast<uint32_t>(bits)) + ")");
}

void powerOFF(int bits) {
    Machine::Impl& m = enter("powerOFF");
    m.power.set(m.cur, static_cast<uint16_t>(m.power.bits(m.cur) & ~bits));
    traceCall(m, "powerOFF(" + hex(static_cast<uint32_t>(bits)) + ")");
}

uint32 vramSetMainBanks(VRAM_A_TYPE a, VRAM_B_TYPE b, VRAM_C_TYPE c, VRAM_D_TYPE d) {
    Machine::Impl& m = enter("vramSetMainBanks", Cpu::Main);
    uint32_t previous = 0;
    const int values[4] = {a, b, c, d};
    for (int i = 0; i < 4; ++i) {
        previous |= static_cast<uint32_t>(m.videoMemory.control(i).bits) << (8 * i);
        m.videoMemory.setControl(i, static_cast<uint8_t>(VramCnt::kEnable | values[i]));
    }
    traceCall(m, "vramSetMainBanks(" + std::to_string(a) + "," + std::to_string(b) + "," + std::to_string(c) + "," +
                     std::to_string(d) + ")");
    return previous;
}

void vramSetBankA(VRAM_A_TYPE a) { setBank("vramSetBankA", 0, a); }
void vramSetBankB(VRAM_B_TYPE b) { setBank("vramSetBankB", 1, b); }
void vramSetBankC(VRAM_C_TYPE c) { setBank("vramSetBankC", 2, c); }
void vramSetBankD(VRAM_D_TYPE d) { setBank("vramSetBankD", 3, d); }
void vramSetBankE(VRAM_E_TYPE e) { setBank("vramSetBankE", 4, e); }

}  // extern "C"
