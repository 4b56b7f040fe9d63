// A simulated handheld running the wireless test programs.
#pragma once

#include <gtest/gtest.h>

#include "handheld_fixture.h"
#include "wifi_programs.h"

namespace wifitest {

using vxtest::Handheld;
using vxtest::TraceKind;

inline vxsim::ProgramImage mainImage() {
    vxsim::ProgramImage image = vxtest::programImage("wifi_main", mainProgram);
    image.ipMalloc = countingMalloc;
    image.ipFree = countingFree;
    return image;
}

// Both programs loaded and powered on; set the options before.
inline Handheld wirelessHandheld(const vxsim::MachineConfig& config = {},
                                 const vxsim::ProgramImage& main = mainImage()) {
    return Handheld(config, main, vxtest::programImage("wifi_co", coProgram));
}

inline bool runUntilReady(Handheld& h, uint64_t frames) {
    return h.machine.runUntil([] { return mainReport.ready.load(); }, frames);
}
inline bool runUntilSettled(Handheld& h, uint64_t frames) {
    return h.machine.runUntil([] { return mainReport.settled.load(); }, frames);
}
inline bool runUntilDone(Handheld& h, uint64_t frames) {
    return h.machine.runUntil([] { return mainReport.done.load(); }, frames);
}

constexpr uint64_t seconds(double s) { return static_cast<uint64_t>(s * vxsim::kBusHz); }

}  // namespace wifitest
