#include "melonds.h"

#include <X11/keysym.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace vxdevicetest {

namespace {

constexpr int kMenuBar = 19;  // rows above the main engine's screen
constexpr int kWindowHeight = kMenuBar + 2 * kScreenHeight;

// Its settings, every parent table written out (a lone [Instance0.Gdb]
// aborts its start). Keys are Qt key codes: X is A, as in the simulated
// handheld's window; the access point and NAT are the built-in ones.
std::string settings(const MelonDs::Options& o, int arm9Port, int arm7Port) {
    std::string s = std::string("LimitFPS = ") + (o.limitFps ? "true" : "false") +
                    "\n"
                    "[LAN]\nDirectMode = false\n"
                    "[Instance0]\n"
                    "[Instance0.Keyboard]\n"
                    "A = 88\nB = 90\nX = 81\nY = 87\nL = 65\nR = 83\n"
                    "Start = 16777220\nSelect = 16777219\n"
                    "Right = 16777236\nLeft = 16777234\nUp = 16777235\nDown = 16777237\n"
                    "[Instance0.Gdb]\n";
    s += std::string("Enabled = ") + (o.stubs ? "true" : "false") + "\n";
    s += "[Instance0.Gdb.ARM9]\nPort = " + std::to_string(arm9Port) + "\n";
    s += std::string("BreakOnStartup = ") + (o.holdMain ? "true" : "false") + "\n";
    s += "[Instance0.Gdb.ARM7]\nPort = " + std::to_string(arm7Port) + "\n";
    return s;
}

}  // namespace

// VX_MELONDS in the environment overrides the folder beside the project, as
// for scripts/melonds.sh.
const char* melonDsPath() {
    const char* path = std::getenv("VX_MELONDS");
    return path != nullptr && *path != '\0' ? path : VX_MELONDS;
}
bool melonDsPresent() { return fs::exists(melonDsPath()); }

std::unique_ptr<MelonDs> MelonDs::start(const Options& options, std::string& error) {
    std::unique_ptr<MelonDs> m(new MelonDs);
    m->home_ = std::make_unique<vxtest::TempDir>("vx-melonds");
    if (!m->home_->ok()) {
        error = "no temporary folder";
        return nullptr;
    }
    // A private configuration folder (without melonDS/ in it a modal dialog
    // blocks the start) and a private runtime folder.
    const fs::path config = m->home_->path() / "config", runtime = m->home_->path() / "runtime";
    fs::create_directories(config / "melonDS");
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
    if (options.stubs) {
        m->arm9Port_ = freeLoopbackPort();
        m->arm7Port_ = freeLoopbackPort();
    }
    std::ofstream(config / "melonDS" / "melonDS.toml") << settings(options, m->arm9Port_, m->arm7Port_);

    const std::vector<std::string> env = {"XDG_CONFIG_HOME=" + config.string(), "XDG_RUNTIME_DIR=" + runtime.string(),
                                          "QT_QPA_PLATFORM=xcb"};
    if (!m->emu_.start(options.rom, {melonDsPath(), options.rom}, env, "", kWidth, kWindowHeight, error))
        return nullptr;
    return m;
}

bool MelonDs::screens(vxtest::Image& image) {
    vxtest::Image window;
    if (!emu_.x->screenshot(emu_.window, window) || window.width != kWidth || window.height < kWindowHeight)
        return false;
    image.width = kWidth;
    image.height = 2 * kScreenHeight;
    image.rgb.assign(window.rgb.begin() + kMenuBar * window.width * 3,
                     window.rgb.begin() + kWindowHeight * window.width * 3);
    return true;
}

bool MelonDs::waitForScreens(const std::function<bool(const vxtest::Image&)>& done, std::chrono::seconds timeout,
                             vxtest::Image& last) {
    return vxdevicetest::waitForScreens([this](vxtest::Image& i) { return screens(i); }, *emu_.process, done, timeout,
                                        last);
}

bool MelonDs::keyDown(unsigned long keysym) { return emu_.x->keyDown(keysym); }
bool MelonDs::keyUp(unsigned long keysym) { return emu_.x->keyUp(keysym); }

std::string MelonDs::script(const std::string& cpu, const std::string& elf, const std::vector<std::string>& commands) {
    return writeGdbScript(cpu, elf, cpu == "arm9" ? arm9Port_ : arm7Port_, commands, true);
}

vxtest::ProcessResult MelonDs::debug(const std::string& cpu, const std::string& elf,
                                     const std::vector<std::string>& commands, std::chrono::seconds timeout) {
    return runGdbScript(script(cpu, elf, commands), timeout);
}

std::unique_ptr<vxtest::Process> MelonDs::debugSession(const std::string& cpu, const std::string& elf,
                                                       const std::vector<std::string>& commands, std::string& error) {
    // Once gdb prints its first line it has the script open; the file may go.
    const std::string path = script(cpu, elf, commands);
    auto gdb = vxtest::Process::start({VX_GDB, "-batch", "-nx", "-x", path}, vxtest::sanitizerEnv(false), &error);
    if (gdb) vxtest::waitForOutput(*gdb, vxtest::containing("\n"), std::chrono::seconds(30));
    fs::remove(path);
    return gdb;
}

}  // namespace vxdevicetest
