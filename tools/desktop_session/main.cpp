// vx-desktop-session --client PATH --server ADDR --screenshot FILE [--keys up,up,right,...]
// Runs vxPCClient against a server on a private Xvfb, presses the keys,
// writes a PNG of the window, closes it, and says where the picture is.
#include <X11/keysym.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <thread>

#include "frame_counter.h"
#include "png_image.h"
#include "process.h"
#include "xsession.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

int fail(const std::string& why) {
    std::string line = why;
    for (char& c : line)
        if (c == '\n') c = ' ';
    while (!line.empty() && line.back() == ' ') line.pop_back();
    std::fprintf(stderr, "vx-desktop-session: %s\n", line.c_str());
    return 1;
}

bool keyFor(const std::string& name, vxtest::KeySymbol& sym) {
    if (name == "up") sym = XK_Up;
    else if (name == "down") sym = XK_Down;
    else if (name == "left") sym = XK_Left;
    else if (name == "right") sym = XK_Right;
    else return false;
    return true;
}

// Interrupted, the session takes its X server and client down with it.
volatile sig_atomic_t childPids[2] = {0, 0};
void onSignal(int sig) {
    for (auto pid : childPids)
        if (pid > 0) kill(pid, SIGKILL);
    signal(sig, SIG_DFL);
    raise(sig);
}

const char kUsage[] =
    "Usage: vx-desktop-session --client PATH --server ADDR --screenshot FILE [--keys up,down,left,right,...]";

}  // namespace

int main(int argc, char** argv) {
    std::string client, server, screenshot, keys;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help") {
            std::printf(
                "%s\n\n"
                "Runs the desktop client against the server on a private X server, presses\n"
                "the keys, writes a PNG of the window and closes it.\n"
                "  --help     this text\n"
                "  --version  the version\n",
                kUsage);
            return 0;
        }
        if (a == "--version") {
            std::puts("vx-desktop-session (vxtanks) " VX_VERSION);
            return 0;
        }
        auto value = [&](std::string& into) {
            if (i + 1 >= argc) return false;
            into = argv[++i];
            return true;
        };
        bool ok = (a == "--client" && value(client)) || (a == "--server" && value(server)) ||
                  (a == "--screenshot" && value(screenshot)) || (a == "--keys" && value(keys));
        if (!ok) return fail(kUsage);
    }
    if (client.empty() || server.empty() || screenshot.empty())
        return fail("--client, --server and --screenshot are required");
    if (access(client.c_str(), X_OK) != 0) return fail("client " + client + " is not an executable");

    std::vector<vxtest::KeySymbol> presses;
    std::stringstream list(keys);
    for (std::string name; std::getline(list, name, ',');) {
        if (name.empty()) continue;
        vxtest::KeySymbol sym;
        if (!keyFor(name, sym)) return fail("unknown key '" + name + "' (use up, down, left, right)");
        presses.push_back(sym);
    }

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGHUP, onSignal);

    std::string error;
    auto x = vxtest::Xvfb::start(30s, &error);
    if (!x) return fail(error);
    childPids[0] = x->pid();
    auto xc = vxtest::XClient::open(x->display(), &error);
    if (!xc) return fail(error);

    // A key is held until the client has drawn a few frames, so its loop sees it held.
    auto frames = vxtest::FrameCounter::create(&error);
    if (!frames) return fail("frame counter: " + error);
    auto env = frames->clientEnv();
    auto xenv = x->clientEnv();
    env.insert(env.end(), xenv.begin(), xenv.end());
    auto proc = vxtest::Process::start({client, server}, env, &error);
    if (!proc) return fail(error);
    childPids[1] = proc->pid();

    // The window opens once the server has answered the registration.
    vxtest::XWindowId window = 0;
    auto deadline = Clock::now() + 30s;
    while (!window && Clock::now() < deadline) {
        if (!proc->running()) {
            auto r = proc->wait(5s);
            return fail("client ended with status " + std::to_string(r.exitCode) + ": " + r.out + r.err);
        }
        window = xc->findWindow(proc->pid(), "vxPCClient", 200ms, 512, 512);
    }
    if (!window) return fail("no window within 30 s (does the server at " + server + " answer?)");
    // Focus and keys wait for drawn frames: a window still opening drops them.
    if (!frames->waitFrames(3, 10s)) return fail("the client draws no frames");
    if (!xc->focus(window)) return fail("cannot focus the client's window");

    for (auto sym : presses) {
        xc->keyDown(sym);
        bool seen = frames->waitFrames(3, 5s);
        xc->keyUp(sym);
        if (!seen) return fail("the client stopped drawing");
        std::this_thread::sleep_for(5ms);  // apart, or SDL reads a repeat
    }
    frames->waitFrames(3, 5s);

    vxtest::Image image;
    if (!xc->screenshot(window, image, &error)) return fail("screenshot: " + error);
    if (!vxpng::writePng(screenshot, image.width, image.height, image.rgb.data(), &error)) return fail(error);

    xc->closeWindow(window);
    auto r = proc->wait(10s);
    if (r.timedOut) return fail("client did not close its window");
    if (r.exitCode != 0) return fail("client ended with status " + std::to_string(r.exitCode) + ": " + r.err);
    std::fputs(r.out.c_str(), stdout);
    std::printf("screenshot: %s\n", screenshot.c_str());
    return 0;
}
