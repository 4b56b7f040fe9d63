// The handheld client as a player meets it, in fast mode: wall time from
// power-on to its first state datagram (Right held from the start, stamped
// at a loopback stand-in for the server), and how many frames of virtual
// time pass per wall-clock second while the tank moves.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

#include "machine.h"
#include "udp_peer.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Answers "ADDME" and notes when the first state record arrives.
struct Server {
    std::unique_ptr<vxtest::UdpPeer> registration, state;
    std::atomic<bool> stop{false};
    std::atomic<long> states{0};
    std::mutex mutex;
    std::optional<Clock::time_point> firstState;
    std::thread registrar, stateReader;

    bool start(std::string& error) {
        registration = vxtest::UdpPeer::bind("127.0.0.1", 0, &error);
        if (registration) state = vxtest::UdpPeer::bind("127.0.0.1", 0, &error);
        if (!state) return false;
        registrar = std::thread([this] {
            while (!stop) {
                auto d = registration->receive(10ms);
                if (d && d->data.size() == 5 && std::memcmp(d->data.data(), "ADDME", 5) == 0) {
                    const uint8_t id[4] = {1, 0, 0, 0};
                    registration->reply(*d, id, sizeof id);
                }
            }
        });
        stateReader = std::thread([this] {
            while (!stop) {
                auto d = state->receive(10ms);
                if (!d || d->data.size() != 12) continue;
                if (states++ == 0) {
                    std::lock_guard<std::mutex> lock(mutex);
                    firstState = d->at;
                }
            }
        });
        return true;
    }
    std::optional<Clock::time_point> first() {
        std::lock_guard<std::mutex> lock(mutex);
        return firstState;
    }
    ~Server() {
        stop = true;
        if (registrar.joinable()) registrar.join();
        if (stateReader.joinable()) stateReader.join();
    }
};

}  // namespace

int main() {
    Server server;
    std::string error;
    if (!server.start(error)) {
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
    config.forwards.push_back({80, 0x7F000001, server.registration->port()});
    config.forwards.push_back({9780, 0x7F000001, server.state->port()});
    vxsim::Machine machine(config);
    machine.load(vxsim::Cpu::Main, main);
    machine.load(vxsim::Cpu::Co, co);
    machine.setKeys(1u << 4);  // Right, from the start

    const Clock::time_point powerOn = Clock::now();
    machine.powerOn();
    const Clock::time_point giveUp = powerOn + 30s;
    while (!server.first() && Clock::now() < giveUp) {
        // The datagram leaves the host inside runFrames; the reader stamps it.
        machine.runFrames(1);
    }
    auto first = server.first();
    if (!first) {
        // One last look: the datagram may still be on its way to the reader.
        std::this_thread::sleep_for(100ms);
        first = server.first();
    }
    if (!first) {
        std::fprintf(stderr, "bench_handheld_client: no state datagram within 30 s\n");
        return 1;
    }
    const double startMs = std::chrono::duration<double, std::milli>(*first - powerOn).count();
    const uint64_t startFrames = machine.frameCount();

    const uint64_t frames = 1800;  // 30 s of virtual time, Right still held
    const long before = server.states;
    const Clock::time_point t0 = Clock::now();
    machine.runFrames(frames);
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    std::this_thread::sleep_for(50ms);
    const long sent = server.states - before;

    std::printf("power-on to first state: %.1f ms\n", startMs);
    std::printf("virtual frames to first state: %llu frames\n", static_cast<unsigned long long>(startFrames));
    std::printf("virtual frames per second while moving: %.0f\n", frames / seconds);
    std::printf("state records per wall second while moving: %.0f\n", sent / seconds);
    std::printf("target power-on to play: 500 ms (%s)\n", startMs <= 500.0 ? "met" : "missed");
    return 0;
}
