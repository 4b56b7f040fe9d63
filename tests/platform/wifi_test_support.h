// A simulated handheld running the wireless test programs, and trace look-ups.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "machine.h"
#include "wifi_programs.h"

namespace wifitest {

inline vxsim::ProgramImage mainImage() {
    vxsim::ProgramImage image;
    image.name = "wifi_main";
    image.entry = mainProgram;
    image.ipMalloc = countingMalloc;
    image.ipFree = countingFree;
    return image;
}

inline vxsim::ProgramImage coImage() {
    vxsim::ProgramImage image;
    image.name = "wifi_co";
    image.entry = coProgram;
    return image;
}

// VX_TEST_TRACE=path streams the run's trace to a file, for a failing case.
inline vxsim::MachineConfig withTraceFile(vxsim::MachineConfig config) {
    if (const char* path = std::getenv("VX_TEST_TRACE")) {
        config.tracePath = path;
    }
    return config;
}

// Both programs loaded and powered on; set the options before constructing.
struct Handheld {
    explicit Handheld(const vxsim::MachineConfig& config = {}, const vxsim::ProgramImage& main = mainImage())
        : machine(withTraceFile(config)) {
        machine.load(vxsim::Cpu::Main, main);
        machine.load(vxsim::Cpu::Co, coImage());
        machine.powerOn();
    }
    bool runUntilReady(uint64_t frames) {
        return machine.runUntil([] { return mainReport.ready.load(); }, frames);
    }
    bool runUntilSettled(uint64_t frames) {
        return machine.runUntil([] { return mainReport.settled.load(); }, frames);
    }
    bool runUntilDone(uint64_t frames) {
        return machine.runUntil([] { return mainReport.done.load(); }, frames);
    }

    // First trace entry of `kind` whose text contains `text`.
    std::optional<vxsim::TraceEntry> find(const std::string& kind, const std::string& text) const {
        for (const vxsim::TraceEntry& e : machine.trace()) {
            if (e.kind == kind && e.text.find(text) != std::string::npos) {
                return e;
            }
        }
        return std::nullopt;
    }
    int count(const std::string& kind, const std::string& text) const {
        int n = 0;
        for (const vxsim::TraceEntry& e : machine.trace()) {
            n += e.kind == kind && e.text.find(text) != std::string::npos;
        }
        return n;
    }

    vxsim::Machine machine;
};

constexpr uint64_t seconds(double s) { return static_cast<uint64_t>(s * vxsim::kBusHz); }

}  // namespace wifitest
