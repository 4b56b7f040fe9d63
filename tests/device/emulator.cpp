#include "emulator.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "png_image.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace vxdevicetest {

namespace {

Screen screenAt(const vxtest::Image& image, int firstRow) {
    Screen s;
    for (int y = 0; y < kScreenHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const auto p = image.pixel(x, firstRow + y);
            if (p[0] || p[1] || p[2]) {
                s.lit.insert({x, y});
                s.colours.insert(p);
            }
        }
    }
    return s;
}

}  // namespace

int freeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    int port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) == 0)
        port = ntohs(a.sin_port);
    if (fd >= 0) ::close(fd);
    return port;
}

std::string temporaryPath(const std::string& suffix) {
    char name[] = "/tmp/vx-device-XXXXXX";
    const int fd = mkstemp(name);
    if (fd >= 0) ::close(fd);
    fs::remove(name);
    return std::string(name) + suffix;
}

Screen topScreen(const vxtest::Image& image) { return screenAt(image, 0); }
Screen bottomScreen(const vxtest::Image& image) { return screenAt(image, kScreenHeight); }

std::string describeDifference(const Screen& a, const Screen& b) {
    std::vector<std::pair<int, int>> onlyA, onlyB;
    for (const auto& p : a.lit)
        if (!b.lit.count(p)) onlyA.push_back(p);
    for (const auto& p : b.lit)
        if (!a.lit.count(p)) onlyB.push_back(p);
    std::string text = std::to_string(onlyA.size()) + " pixels lit only in the first, " + std::to_string(onlyB.size()) +
                       " only in the second";
    const auto first = !onlyA.empty() ? onlyA.front() : !onlyB.empty() ? onlyB.front() : std::pair{-1, -1};
    if (first.first >= 0)
        text += ", first at column " + std::to_string(first.first) + " row " + std::to_string(first.second);
    return text;
}

bool EmulatorWindow::start(const std::string& rom, const std::vector<std::string>& argv,
                           const std::vector<std::string>& env, const std::string& name, int width, int height,
                           std::string& error) {
    if (!fs::exists(rom)) {
        error = "no ROM image at " + rom + "; build it with: cmake --preset device && cmake --build --preset device";
        return false;
    }
    xvfb = vxtest::Xvfb::start(15s, &error);
    if (!xvfb) return false;
    x = vxtest::XClient::open(xvfb->display(), &error);
    if (!x) return false;
    auto fullEnv = xvfb->clientEnv();
    fullEnv.insert(fullEnv.end(), env.begin(), env.end());
    process = vxtest::Process::start(argv, fullEnv, &error);
    if (!process) return false;
    window = x->findWindow(process->pid(), name, 60s, width, height);
    if (!window) {
        error = "no " + std::to_string(width) + "x" + std::to_string(height) + " window of " + argv.front() +
                " appeared; it printed: " + process->errSoFar() + process->outSoFar();
        return false;
    }
    if (!x->focus(window)) {
        error = "could not give the window of " + argv.front() + " the keyboard focus";
        return false;
    }
    return true;
}

EmulatorWindow::~EmulatorWindow() {
    if (process) {
        process->terminate(stopSignal);
        process->wait(10s);  // SIGKILL when the time runs out
        process.reset();
    }
    x.reset();
    xvfb.reset();
}

std::unique_ptr<Emulator> Emulator::start(const std::string& stubCpu, std::string& error) {
    std::unique_ptr<Emulator> e(new Emulator);
    std::vector<std::string> argv = {VX_DESMUME, "--disable-sound"};
    if (!stubCpu.empty()) {
        e->stubCpu_ = stubCpu;
        e->port_ = freeLoopbackPort();
        argv.push_back("--" + stubCpu + "gdb=" + std::to_string(e->port_));
    }
    argv.push_back(VX_DEVICE_ROM);
    // It ignores SIGTERM: it is ended outright.
    e->emu_.stopSignal = SIGKILL;
    if (!e->emu_.start(VX_DEVICE_ROM, argv, {}, "desmume-cli", kWidth, 2 * kScreenHeight, error)) return nullptr;
    return e;
}

bool Emulator::screenshot(vxtest::Image& image) { return emu_.x->screenshot(emu_.window, image); }

bool Emulator::waitForScreens(const std::function<bool(const vxtest::Image&)>& done, std::chrono::seconds timeout,
                              vxtest::Image& last) {
    return vxdevicetest::waitForScreens([this](vxtest::Image& i) { return screenshot(i); }, *emu_.process, done,
                                        timeout, last);
}

vxtest::ProcessResult Emulator::debug(const std::string& elf, const std::vector<std::string>& commands,
                                      std::chrono::seconds timeout) {
    return runGdbScript(writeGdbScript(stubCpu_, elf, port_, commands, false), timeout);
}

std::string writeGdbScript(const std::string& cpu, const std::string& elf, int port,
                           const std::vector<std::string>& commands, bool detach) {
    const std::string path = temporaryPath(".gdb");
    std::ofstream out(path);
    out << "set architecture " << (cpu == "arm9" ? "armv5te" : "armv4t") << "\n"
        << "set pagination off\n"
        << "set confirm off\n"
        << "file " << elf << "\n"
        << "target remote 127.0.0.1:" << port << "\n";
    for (const auto& c : commands) out << c << "\n";
    if (detach) out << "detach\n";
    return path;
}

vxtest::ProcessResult runGdbScript(const std::string& path, std::chrono::seconds timeout) {
    auto result = vxtest::runProcess({VX_GDB, "-batch", "-nx", "-x", path}, timeout, vxtest::sanitizerEnv(false));
    fs::remove(path);
    return result;
}

bool waitForScreens(const std::function<bool(vxtest::Image&)>& take, vxtest::Process& emulator,
                    const std::function<bool(const vxtest::Image&)>& done, std::chrono::seconds timeout,
                    vxtest::Image& last) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        if (take(last) && done(last)) return true;
        if (!emulator.running()) return false;
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

bool simulatedScreens(int frames, vxtest::Image& image, std::string& error, const std::vector<std::string>& options) {
    const std::string png = temporaryPath(".png");
    std::vector<std::string> argv = {
        vxtest::binaryPath("vx-handheld"), "--headless", "--frames", std::to_string(frames), "--screenshot", png};
    argv.insert(argv.end(), options.begin(), options.end());
    const auto r = vxtest::runProcess(argv, 60s, vxtest::sanitizerEnv(false));
    bool ok = r.exitCode == 0;
    if (!ok) error = "vx-handheld failed (" + std::to_string(r.exitCode) + "): " + r.err;
    if (ok && !vxpng::readPng(png, image.width, image.height, image.rgb, &error)) ok = false;
    fs::remove(png);
    return ok;
}

}  // namespace vxdevicetest
