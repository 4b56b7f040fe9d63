#include "handheld_fixture.h"

#include <cstdlib>

namespace vxtest {

vxsim::ProgramImage programImage(const std::string& name, Program entry) {
    vxsim::ProgramImage image;
    image.name = name;
    image.entry = entry;
    return image;
}

vxsim::MachineConfig fixedConfig() {
    vxsim::MachineConfig config;
    config.clock = vxsim::RtcTime{2026, 3, 14, 6, 23, 59, 58};
    return config;
}

vxsim::MachineConfig withTraceFile(vxsim::MachineConfig config) {
    const char* path = std::getenv("VX_TEST_TRACE");
    if (path && config.tracePath.empty()) config.tracePath = path;
    return config;
}

bool matches(const TraceEntry& e, TraceKind kind, std::optional<Cpu> cpu, const std::string& text) {
    return e.kind == kind && (!cpu || e.cpu == *cpu) && e.text.find(text) != std::string::npos;
}

int findFrom(const std::vector<TraceEntry>& entries, size_t from, TraceKind kind, const std::string& text,
             std::optional<Cpu> cpu) {
    for (size_t i = from; i < entries.size(); ++i) {
        if (matches(entries[i], kind, cpu, text)) return static_cast<int>(i);
    }
    return -1;
}

Handheld::Handheld(const vxsim::MachineConfig& config, const vxsim::ProgramImage& main, const vxsim::ProgramImage& co,
                   bool powerOn)
    : machine(withTraceFile(config)) {
    if (main.entry) machine.load(Cpu::Main, main);
    if (co.entry) machine.load(Cpu::Co, co);
    if (powerOn) machine.powerOn();
}

std::unique_ptr<Handheld> Handheld::boot(Program main, Program co, const vxsim::MachineConfig& config) {
    return std::make_unique<Handheld>(config, main ? programImage("test-arm9", main) : vxsim::ProgramImage{},
                                      co ? programImage("test-arm7", co) : vxsim::ProgramImage{});
}

void runOneFrame(Program main, Program co) { Handheld::boot(main, co)->machine.runFrames(1); }

std::vector<TraceEntry> Handheld::select(std::optional<Cpu> cpu, TraceKind kind, const std::string& text) const {
    std::vector<TraceEntry> out;
    for (const TraceEntry& e : machine.trace()) {
        if (matches(e, kind, cpu, text)) out.push_back(e);
    }
    return out;
}

std::vector<TraceEntry> Handheld::entries(TraceKind kind, const std::string& text) const {
    return select(std::nullopt, kind, text);
}

std::vector<TraceEntry> Handheld::entries(Cpu cpu, TraceKind kind, const std::string& text) const {
    return select(cpu, kind, text);
}

std::vector<std::string> Handheld::texts(Cpu cpu, TraceKind kind) const {
    std::vector<std::string> out;
    for (const TraceEntry& e : select(cpu, kind, "")) out.push_back(e.text);
    return out;
}

int Handheld::count(TraceKind kind, const std::string& text) const {
    return static_cast<int>(select(std::nullopt, kind, text).size());
}

int Handheld::count(Cpu cpu, TraceKind kind, const std::string& text) const {
    return static_cast<int>(select(cpu, kind, text).size());
}

std::optional<TraceEntry> Handheld::find(TraceKind kind, const std::string& text) const {
    for (const TraceEntry& e : machine.trace()) {
        if (matches(e, kind, std::nullopt, text)) return e;
    }
    return std::nullopt;
}

std::string Handheld::consoleText() const {
    std::string out;
    for (const std::string& row : machine.consoleLines()) out += row + "\n";
    return out;
}

Pixel pixel(const std::vector<uint8_t>& rgb, int screen, int x, int y) {
    size_t i = (static_cast<size_t>(screen * 192 + y) * 256 + static_cast<size_t>(x)) * 3;
    return {rgb[i], rgb[i + 1], rgb[i + 2]};
}

Pixel expand555(unsigned colour) {
    auto e = [](unsigned v) { return static_cast<int>((v << 3) | (v >> 2)); };
    return {e(colour & 31), e((colour >> 5) & 31), e((colour >> 10) & 31)};
}

}  // namespace vxtest
