// vx-handheld: runs a pair of handheld programs on one simulated handheld,
// in a window or headless, and writes what the screens and console show.
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "machine.h"
#include "options.h"
#include "png_image.h"
#include "window.h"

namespace fs = std::filesystem;
using namespace vxhandheld;

namespace {

constexpr int kUsageError = 2;
constexpr int kRunError = 1;

[[noreturn]] void fail(int status, const std::string& message) {
    std::cerr << "vx-handheld: " << message << "\n";
    std::exit(status);
}

fs::path ownDirectory() {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::current_path() : self.parent_path();
}

bool isModule(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

// Where the default programs live: beside the launcher in the build tree, or
// in the private folder of an installed launcher (VX_INSTALLED_PROGRAM_DIR,
// relative to its bin/, set by the install rules).
std::vector<fs::path> programDirectories() {
    const fs::path dir = ownDirectory();
    return {dir, (dir / VX_INSTALLED_PROGRAM_DIR).lexically_normal()};
}

// The game's pair, both from one folder, once it is built; else the
// platform's demo pair. Each processor can be given its own program.
void choosePrograms(Options& options) {
    const auto dirs = programDirectories();
    std::optional<fs::path> gameDir;
    for (const auto& dir : dirs) {
        if (isModule(dir / "arm9_vxVer1.0") && isModule(dir / "arm7_vxVer1.0")) {
            gameDir = dir;
            break;
        }
    }
    const auto pick = [&](std::string& path, const char* game, const char* demo, const char* cpu) {
        if (!path.empty()) return;
        if (gameDir) {
            path = (*gameDir / game).string();
            return;
        }
        for (const auto& dir : dirs) {
            if (isModule(dir / demo)) {
                path = (dir / demo).string();
                return;
            }
        }
        fail(kUsageError, std::string("no ") + cpu + " program beside " + dirs[0].string() + " or in " +
                              dirs[1].string() + " (neither " + game + " nor " + demo + "); name one with --" + cpu);
    };
    pick(options.arm9Path, "arm9_vxVer1.0", "demo_arm9", "arm9");
    pick(options.arm7Path, "arm7_vxVer1.0", "demo_arm7", "arm7");
}

vxsim::ProgramImage loadProgram(const std::string& path, const char* cpu) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) fail(kUsageError, std::string("no ") + cpu + " program at '" + path + "'");
    vxsim::ProgramImage image;
    std::string error;
    // An absolute path, so the loader never searches its library path instead.
    if (!vxsim::loadProgramModule(fs::absolute(path).string(), image, error))
        fail(kUsageError, std::string(cpu) + ": " + error);
    if (image.name.empty()) image.name = fs::path(path).stem().string();
    return image;
}

// SIGINT and SIGTERM stay blocked in every thread (the machine's processor
// threads inherit the mask) and are collected between frames, so a stop
// always lands on a frame boundary with the files still to write.
sigset_t stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

bool stopRequested(const sigset_t& set) {
    const timespec zero{0, 0};
    return sigtimedwait(&set, nullptr, &zero) > 0;
}

// The window's pen as the touch controller measures it: raw values that the
// firmware's calibration turns back into the pixel under the pointer, and
// pressure readings of a moderate press.
void touch(vxsim::Machine& machine, const Window::Pen& pen) {
    if (!pen.down) {
        machine.setTouch(false);
        return;
    }
    constexpr int kZ1 = 0x0200, kZ2 = 0x0A00;
    const vxsim::TouchRaw raw = machine.touchRawAt(pen.x, pen.y);
    machine.setTouch(true, raw.x, raw.y, kZ1, kZ2);
}

void writeOutputs(const Options& options, const vxsim::Machine& machine) {
    if (!options.screenshotPath.empty()) {
        const auto rgb = machine.renderScreens();
        std::string error;
        if (!vxpng::writePng(options.screenshotPath, vxsim::kScreenWidth, 2 * vxsim::kScreenHeight, rgb.data(), &error))
            fail(kRunError, "cannot write screenshot '" + options.screenshotPath + "': " + error);
    }
    if (!options.consolePath.empty()) {
        std::ofstream out(options.consolePath, std::ios::binary | std::ios::trunc);
        for (const auto& line : machine.consoleLines()) out << line << "\n";
        out.flush();
        if (!out) fail(kRunError, "cannot write console text '" + options.consolePath + "'");
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    auto parsed = parseOptions(argc, argv, error);
    if (!parsed) fail(kUsageError, error);
    Options options = *parsed;
    if (options.help) {
        std::cout << kUsage;
        return 0;
    }
    if (options.version) {
        std::cout << "vx-handheld (vxtanks) " VX_VERSION "\n";
        return 0;
    }

    const char* display = std::getenv("DISPLAY");
    const bool windowed = !options.headless && display && *display;

    choosePrograms(options);
    const auto arm9 = loadProgram(options.arm9Path, "arm9");
    const auto arm7 = loadProgram(options.arm7Path, "arm7");

    if (!options.tracePath.empty()) {
        // The machine streams into it; find out now rather than mid-run.
        std::ofstream probe(options.tracePath, std::ios::trunc);
        if (!probe) fail(kUsageError, "cannot write trace file '" + options.tracePath + "'");
    }

    const sigset_t stops = stopSignals();
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);

    vxsim::MachineConfig config;
    config.storedSettings = options.storedSettings;
    config.matchingAccessPoint = options.matchingAccessPoint;
    config.forwards = options.forwards;
    config.realtime = options.realtime.value_or(windowed);
    config.tracePath = options.tracePath;

    Window window;
    if (windowed && !window.open(options.scale, "vx-handheld: " + arm9.name + " + " + arm7.name, error))
        fail(kRunError, error + " (use --headless to run without a window)");

    vxsim::Machine machine(config);
    machine.load(vxsim::Cpu::Main, arm9);
    machine.load(vxsim::Cpu::Co, arm7);
    machine.powerOn();

    // Frame k runs from the vertical blank that starts it (power-on for
    // frame 0) to the next one; its keys are set just before it runs.
    for (uint64_t frame = 0; !options.frames || frame < *options.frames; ++frame) {
        if (stopRequested(stops)) break;
        if (windowed && !window.poll()) break;
        machine.setKeys(heldAt(options.holds, frame) | (windowed ? window.keysHeld() : 0));
        if (windowed) touch(machine, window.pen());
        machine.runFrames(1);
        if (windowed) window.present(machine.renderScreens());
    }

    writeOutputs(options, machine);
    return 0;
}
