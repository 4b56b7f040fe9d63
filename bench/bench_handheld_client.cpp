// The handheld client as a player meets it, in fast mode: wall time from
// power-on to its first state datagram (Right held from the start, stamped
// at a loopback stand-in for the server), and how many frames of virtual
// time pass per wall-clock second while the tank moves.
#include <chrono>
#include <cstdio>
#include <limits>
#include <optional>
#include <thread>
#include <vector>

#include "loopback_peer.h"
#include "machine.h"
#include "state_records.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The state records caught so far, in order of arrival.
std::vector<vxtest::PeerDatagram> states(vxtest::LoopbackPeer& state) {
    std::vector<vxtest::PeerDatagram> out;
    for (auto& d : state.received())
        if (d.data.size() == sizeof(vxProtocol)) out.push_back(std::move(d));
    return out;
}

std::optional<Clock::time_point> firstState(vxtest::LoopbackPeer& state) {
    auto caught = states(state);
    if (caught.empty()) return std::nullopt;
    return caught.front().at;
}

}  // namespace

int main() {
    // The stand-in server: "ADDME" answered with identifier 1, state records kept.
    std::string error;
    vxtest::PeerOptions asRegistration;
    asRegistration.reply =
        vxtest::answer({'A', 'D', 'D', 'M', 'E'}, vxtest::encodeId(1), std::numeric_limits<int>::max());
    auto registration = vxtest::LoopbackPeer::start(asRegistration, error);
    auto state = registration ? vxtest::LoopbackPeer::start({}, error) : nullptr;
    if (!state) {
        std::fprintf(stderr, "bench_handheld_client: %s\n", error.c_str());
        return 1;
    }
    vxsim::ProgramImage main, co;
    if (!vxsim::loadProgramModule(VX_ARM9_MODULE, main, error) ||
        !vxsim::loadProgramModule(VX_ARM7_MODULE, co, error)) {
        std::fprintf(stderr, "bench_handheld_client: %s\n", error.c_str());
        return 1;
    }
    vxsim::MachineConfig config;
    config.forwards.push_back({80, 0x7F000001, registration->port()});
    config.forwards.push_back({9780, 0x7F000001, state->port()});
    vxsim::Machine machine(config);
    machine.load(vxsim::Cpu::Main, main);
    machine.load(vxsim::Cpu::Co, co);
    machine.setKeys(1u << 4);  // Right, from the start

    const Clock::time_point powerOn = Clock::now();
    machine.powerOn();
    const Clock::time_point giveUp = powerOn + 30s;
    while (!firstState(*state) && Clock::now() < giveUp) {
        // The datagram leaves the host inside runFrames; the reader stamps it.
        machine.runFrames(1);
    }
    auto first = firstState(*state);
    if (!first) {
        // One last look: the datagram may still be on its way to the reader.
        std::this_thread::sleep_for(100ms);
        first = firstState(*state);
    }
    if (!first) {
        std::fprintf(stderr, "bench_handheld_client: no state datagram within 30 s\n");
        return 1;
    }
    const double startMs = std::chrono::duration<double, std::milli>(*first - powerOn).count();
    const uint64_t startFrames = machine.frameCount();

    const uint64_t frames = 1800;  // 30 s of virtual time, Right still held
    const size_t before = states(*state).size();
    const Clock::time_point t0 = Clock::now();
    machine.runFrames(frames);
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    std::this_thread::sleep_for(50ms);
    const size_t sent = states(*state).size() - before;

    std::printf("power-on to first state: %.1f ms\n", startMs);
    std::printf("virtual frames to first state: %llu frames\n", static_cast<unsigned long long>(startFrames));
    std::printf("virtual frames per second while moving: %.0f\n", frames / seconds);
    std::printf("state records per wall second while moving: %.0f\n", sent / seconds);
    std::printf("target power-on to play: 500 ms (%s)\n", startMs <= 500.0 ? "met" : "missed");
    return 0;
}
