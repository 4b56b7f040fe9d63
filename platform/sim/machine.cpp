// The host API: one machine made, loaded, powered on and run frame by frame,
// its processors' threads started, its inputs set and its state read back.
#include <algorithm>
#include <cstring>
#include <thread>

#include "console_layout.h"
#include "font.h"
#include "machine_impl.h"
#include "memory_map.h"
#include "register_views.h"
#include "wifi/wireless.h"

namespace vxsim {

Machine::Impl* gMachine = nullptr;
thread_local int tlsCpu = -1;

namespace {

// Kept reachable on purpose: parked threads of finished machines wait on them.
std::vector<Baton*>& leakedBatons() {
    static auto* batons = new std::vector<Baton*>;
    return *batons;
}

void cpuThreadMain(Machine::Impl* m, Baton* baton, int i) {
    tlsCpu = i;
    baton->sem[i].acquire();
    Processor& c = m->cpus[i];
    c.started = true;
    std::string arg0 = c.program.name;
    char* argv[] = {arg0.data(), nullptr};
    int rc = c.program.entry(1, argv);
    // A program that returns simply stops its processor.
    c.run = RunState::Stopped;
    m->trace(static_cast<Cpu>(i), TraceKind::Call, "main returned " + std::to_string(rc));
    m->decide(i);
    for (;;) baton->sem[i].acquire();
}

}  // namespace

Machine::Impl::Impl(const MachineConfig& cfg) : config(cfg), wireless(std::make_unique<wifi::Wireless>()) {
    if (!config.tracePath.empty()) {
        traceFile = std::fopen(config.tracePath.c_str(), "w");
        if (!traceFile) hw::fatal("cannot write the trace file " + config.tracePath);
    }
}

Machine::Impl::~Impl() {
    // Both processors are parked for good by now, so the program's own free
    // can run on this thread.
    wifi::returnUnreadDatagrams(*wireless, cpu(Cpu::Main).program.ipFree);
    wireless.reset();
    if (traceFile) std::fclose(traceFile);
}

Machine::Machine(const MachineConfig& config) {
    if (gMachine) hw::fatal("a second handheld machine in one process");
    impl_ = std::make_unique<Impl>(config);
    gMachine = impl_.get();
}

Machine::~Machine() {
    gMachine = nullptr;
    impl_.reset();
}

void Machine::load(Cpu cpu, const ProgramImage& program) {
    if (impl_->poweredOn) hw::fatal("load() after powerOn()");
    if (!program.entry) hw::fatal("program " + program.name + " has no entry point");
    impl_->cpu(cpu).program = program;
}

void Machine::powerOn() {
    Impl& m = *impl_;
    if (m.poweredOn) hw::fatal("powerOn() twice");
    m.baton = new Baton;
    leakedBatons().push_back(m.baton);
    clearLibraryLocals();
    m.clock.powerOn(m.config);
    // The boot loader leaves the firmware's user settings in main memory.
    std::memcpy(reinterpret_cast<void*>(static_cast<uintptr_t>(vxshared::kBootUserSettings)),
                m.firmware.image() + Firmware::kUserSettings, Firmware::kUserSettingsSize);
    m.poweredOn = true;
    m.displayStatus.start([&m] {
        if (++m.frames >= m.targetFrames) m.stop = true;
    });
    if (m.config.realtime) {
        // Pacing points a millisecond apart keep both processors near the wall clock.
        constexpr uint64_t kMillisecond = kBusHz / 1000;
        m.pacer = m.sched.every(kMillisecond, kMillisecond,
                                [&m] { m.waitWall(m.sched.eventTime(), m.sched.eventTime(), false); });
    }
    m.cur = m.cpu(Cpu::Main).program.entry ? Cpu::Main : Cpu::Co;
    for (int i = 0; i < 2; ++i) {
        Processor& c = m.cpus[i];
        if (!c.program.entry) continue;
        c.run = RunState::Runnable;
        std::thread(cpuThreadMain, &m, m.baton, i).detach();
    }
}

void Machine::runFrames(uint64_t frames) {
    Impl& m = *impl_;
    if (!m.poweredOn) hw::fatal("runFrames() before powerOn()");
    if (tlsCpu != -1) hw::fatal("runFrames() called from a processor");
    if (frames == 0) return;
    m.targetFrames = m.frames + frames;
    m.stop = false;
    m.decide(kHostThread);
    if (m.traceFile) std::fflush(m.traceFile);
}

bool Machine::runUntil(const std::function<bool()>& pred, uint64_t maxFrames) {
    for (uint64_t i = 0; i < maxFrames; ++i) {
        if (pred()) return true;
        runFrames(1);
    }
    return pred();
}

uint64_t Machine::cycles() const { return impl_->horizon; }
uint64_t Machine::frameCount() const { return impl_->frames; }

void Machine::setKeys(uint32_t held) { impl_->keypad.setHeld(held); }

void Machine::setTouch(bool down, int rawX, int rawY, int z1, int z2) {
    auto n = [](int v) { return static_cast<int16_t>(v); };
    impl_->touchScreen.setTouch(down, TouchScreen::Position{n(rawX), n(rawY), n(z1), n(z2)});
}

// The inverse of the device's conversion to pixels; exact, as the
// calibration has a whole number of converter steps per pixel.
TouchRaw Machine::touchRawAt(int px, int py) const {
    const TouchCalibration c = impl_->firmware.calibration();
    auto raw = [](int pixel, int adc1, int adc2, int scr1, int scr2) {
        if (scr2 == scr1) return adc1;
        return std::clamp(adc1 + (pixel + 1 - scr1) * (adc2 - adc1) / (scr2 - scr1), 0, 0x0FFF);
    };
    return TouchRaw{raw(px, c.adcX1, c.adcX2, c.scrX1, c.scrX2), raw(py, c.adcY1, c.adcY2, c.scrY1, c.scrY2)};
}

void Machine::setBattery(uint16_t value) { impl_->touchScreen.setBattery(value); }
void Machine::setAux(uint16_t value) { impl_->touchScreen.setAux(value); }

void Machine::setTemperatureDiodes(uint16_t diode1, uint16_t diode2) { impl_->touchScreen.setDiodes(diode1, diode2); }

void Machine::setClock(const RtcTime& time, uint8_t statusByte) { impl_->clock.set(time, statusByte, impl_->horizon); }

std::vector<uint8_t> Machine::renderScreens() const { return vxsim::renderScreens(*impl_); }

// Where the sub engine's background 0 has its map, as the console writes it.
std::vector<std::string> Machine::consoleLines() const {
    using namespace vxshared;
    const BgCnt bg{static_cast<uint16_t>(impl_->bus.read(Cpu::Main, 0x04001008, 2, true))};
    const uint32_t mapAddress = kSubBackgrounds + bg.mapBase();
    std::vector<std::string> lines;
    if (!impl_->memory.mapped(mapAddress, kConsoleMapWidth * kConsoleRows * sizeof(uint16_t))) return lines;
    const volatile uint16_t* map = reinterpret_cast<const volatile uint16_t*>(static_cast<uintptr_t>(mapAddress));
    for (int r = 0; r < kConsoleRows; ++r) {
        std::string line;
        for (int c = 0; c < kConsoleColumns; ++c) {
            unsigned tile = map[r * kConsoleMapWidth + c] & kConsoleGlyphMask;
            line += tile < kFontGlyphs ? static_cast<char>(kConsoleFirstChar + tile) : '?';
        }
        line.erase(line.find_last_not_of(' ') + 1);
        lines.push_back(line);
    }
    return lines;
}

std::vector<TraceEntry> Machine::trace() const { return {impl_->traceLog.begin(), impl_->traceLog.end()}; }

uint32_t Machine::peekIo(Cpu cpu, uint32_t address, unsigned bytes) const {
    return impl_->bus.read(cpu, address, bytes, true);
}

bool Machine::readMemory(uint32_t address, void* out, size_t size) const {
    if (tlsCpu != -1) hw::fatal("readMemory() called from a processor");
    if (!impl_->memory.mapped(address, size)) return false;
    std::memcpy(out, reinterpret_cast<const void*>(static_cast<uintptr_t>(address)), size);
    return true;
}

bool Machine::writeMemory(uint32_t address, const void* data, size_t size) {
    if (tlsCpu != -1) hw::fatal("writeMemory() called from a processor");
    if (!impl_->memory.mapped(address, size)) return false;
    std::memcpy(reinterpret_cast<void*>(static_cast<uintptr_t>(address)), data, size);
    return true;
}

}  // namespace vxsim
