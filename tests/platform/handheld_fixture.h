// Running small programs on the simulated handheld from a test.
#ifndef VX_TESTS_PLATFORM_HANDHELD_FIXTURE_H
#define VX_TESTS_PLATFORM_HANDHELD_FIXTURE_H

#include <memory>
#include <string>
#include <vector>

#include "machine.h"

namespace vxtest {

using Program = int (*)(int, char**);

inline vxsim::MachineConfig fixedConfig() {
    vxsim::MachineConfig config;
    config.clock = vxsim::RtcTime{2026, 3, 14, 6, 23, 59, 58};
    return config;
}

// A powered-on handheld with one or two test programs (null: no program).
inline std::unique_ptr<vxsim::Machine> boot(Program main9, Program main7,
                                            const vxsim::MachineConfig& config = fixedConfig()) {
    auto m = std::make_unique<vxsim::Machine>(config);
    if (main9) m->load(vxsim::Cpu::Main, vxsim::ProgramImage{"test-arm9", main9});
    if (main7) m->load(vxsim::Cpu::Co, vxsim::ProgramImage{"test-arm7", main7});
    m->powerOn();
    return m;
}

inline std::vector<vxsim::TraceEntry> entries(const vxsim::Machine& m, const std::string& kind) {
    std::vector<vxsim::TraceEntry> out;
    for (const auto& e : m.trace()) {
        if (e.kind == kind) out.push_back(e);
    }
    return out;
}

inline std::vector<std::string> texts(const vxsim::Machine& m, const std::string& kind, vxsim::Cpu cpu) {
    std::vector<std::string> out;
    for (const auto& e : m.trace()) {
        if (e.kind == kind && e.cpu == cpu) out.push_back(e.text);
    }
    return out;
}

struct Pixel {
    int r, g, b;
    bool operator==(const Pixel&) const = default;
};

// Pixel of the 256x384 picture: screen 0 on top, 1 below.
inline Pixel pixel(const std::vector<uint8_t>& rgb, int screen, int x, int y) {
    size_t i = (static_cast<size_t>(screen * 192 + y) * 256 + static_cast<size_t>(x)) * 3;
    return {rgb[i], rgb[i + 1], rgb[i + 2]};
}

inline Pixel expand555(unsigned c) {
    auto e = [](unsigned v) { return static_cast<int>((v << 3) | (v >> 2)); };
    return {e(c & 31), e((c >> 5) & 31), e((c >> 10) & 31)};
}

}  // namespace vxtest

#endif
