// The desktop client under Xvfb with Mesa's llvmpipe: how long a key press
// takes to become a state datagram, and how fast the loop presents frames.
//   bench_desktop [--presses N] [--client PATH]
#include <X11/keysym.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "frame_counter.h"
#include "process.h"
#include "udp_peer.h"
#include "xsession.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

static int fail(const std::string& why) {
    std::fprintf(stderr, "bench_desktop: %s\n", why.c_str());
    return 1;
}

int main(int argc, char** argv) {
    int presses = 300;
    std::string client = vxtest::binaryPath("vxPCClient");
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--presses") && i + 1 < argc) presses = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--client") && i + 1 < argc) client = argv[++i];
        else return fail("usage: bench_desktop [--presses N] [--client PATH]");
    }

    std::string error;
    std::string address = vxtest::uniqueLoopbackAddress();
    auto registration = vxtest::UdpPeer::bind(address, 9779, &error);
    if (!registration) return fail(error);
    auto state = vxtest::UdpPeer::bind(address, 9780, &error);
    if (!state) return fail(error);

    auto x = vxtest::Xvfb::start(30s, &error);
    if (!x) return fail(error);
    auto xc = vxtest::XClient::open(x->display(), &error);
    if (!xc) return fail(error);

    auto frames = vxtest::FrameCounter::create(&error);
    if (!frames) return fail(error);
    auto env = frames->clientEnv();
    auto xenv = x->clientEnv();
    env.insert(env.end(), xenv.begin(), xenv.end());
    auto proc = vxtest::Process::start({client, address}, env, &error);
    if (!proc) return fail(error);

    auto addme = registration->receive(30s);
    frames->removeFile();
    if (!addme) return fail("no registration from the client");
    const uint8_t ack[4] = {1, 0, 0, 0};
    registration->reply(*addme, ack, sizeof ack);
    auto window = xc->findWindow(proc->pid(), "vxPCClient", 30s, 512, 512);
    if (!window) return fail("no window");
    // Keys wait for drawn frames: a window still opening drops them.
    if (!frames->waitFrames(3, 30s)) return fail("the client draws no frames");
    if (!xc->focus(window)) return fail("cannot focus the window");

    // Frame rate of the idle loop.
    uint64_t before = frames->count();
    auto t0 = Clock::now();
    std::this_thread::sleep_for(3s);
    uint64_t after = frames->count();
    double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    double fps = double(after - before) / seconds;

    // Key press to datagram, alternating Up and Down so the tank moves.
    std::vector<double> latencies;
    for (int i = 0; i < presses; ++i) {
        vxtest::KeySymbol sym = (i % 2) ? XK_Down : XK_Up;
        auto start = Clock::now();
        xc->keyDown(sym);
        auto d = state->receive(5s);
        xc->keyUp(sym);
        if (!d) return fail("no datagram for press " + std::to_string(i + 1));
        latencies.push_back(std::chrono::duration<double, std::milli>(d->at - start).count());
        std::this_thread::sleep_for(5ms);  // apart, or SDL reads a repeat
    }
    std::sort(latencies.begin(), latencies.end());
    auto at = [&](double q) {
        size_t k = static_cast<size_t>(q * double(latencies.size() - 1) + 0.5);
        return latencies[std::min(k, latencies.size() - 1)];
    };

    xc->closeWindow(window);
    auto r = proc->wait(10s);

    std::printf("presses: %zu\n", latencies.size());
    std::printf("median latency: %.3f ms\n", at(0.5));
    std::printf("p99 latency: %.3f ms\n", at(0.99));
    std::printf("frames per second: %.1f fps\n", fps);
    if (r.exitCode != 0) return fail("client ended with status " + std::to_string(r.exitCode) + ": " + r.err);
    return 0;
}
