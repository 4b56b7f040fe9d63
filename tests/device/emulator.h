// The ROM image in DeSmuME on a private X server: its window's pixels, its
// keys, and its debugger stubs through gdb-multiarch. Also the simulated
// handheld's screens for the same programs, to hold the emulator's against.
#pragma once

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "process.h"
#include "xsession.h"

namespace vxdevicetest {

constexpr int kWidth = 256, kScreenHeight = 192;

// One screen's lit (non-black) pixels, as (column, row) within that screen,
// and the colours they have.
struct Screen {
    std::set<std::pair<int, int>> lit;
    std::set<std::array<uint8_t, 3>> colours;
};
// Top screen: rows 0-191 of a 256x384 picture; bottom: rows 192-383.
Screen topScreen(const vxtest::Image& image);
Screen bottomScreen(const vxtest::Image& image);
// "n pixels lit only in a, m only in b, first at (x,y)", for failure messages.
std::string describeDifference(const Screen& a, const Screen& b);

// An emulator on a private X server of its own: the server, a connection to
// it, the emulator's process and its window.
struct EmulatorWindow {
    // Checks the ROM is built, starts the X server and `argv` on it (its
    // environment plus `env`), and waits for the emulator's window (`name`,
    // or any name, at width x height), which then has the keyboard focus.
    bool start(const std::string& rom, const std::vector<std::string>& argv, const std::vector<std::string>& env,
               const std::string& name, int width, int height, std::string& error);
    // Ends the emulator with `stopSignal` (SIGKILL once 10 s pass), then its X server.
    ~EmulatorWindow();

    int stopSignal = SIGTERM;
    std::unique_ptr<vxtest::Xvfb> xvfb;
    std::unique_ptr<vxtest::XClient> x;
    std::unique_ptr<vxtest::Process> process;
    vxtest::XWindowId window = 0;
};

class Emulator {
public:
    // Starts the emulator on the ROM, with the debugger stub of `stubCpu`
    // ("arm9", "arm7", or "" for none) on a free loopback port, and waits for
    // its 256x384 window, which it then gives the keyboard focus.
    static std::unique_ptr<Emulator> start(const std::string& stubCpu, std::string& error);

    const std::string& display() const { return emu_.xvfb->display(); }
    bool screenshot(vxtest::Image& image);
    // Takes screenshots until `done` accepts one or `timeout` passes; `last`
    // is the last one taken.
    bool waitForScreens(const std::function<bool(const vxtest::Image&)>& done, std::chrono::seconds timeout,
                        vxtest::Image& last);
    // Attaches gdb-multiarch to the stub with the symbols of `elf`, runs
    // `commands` and quits; the result holds what it printed.
    vxtest::ProcessResult debug(const std::string& elf, const std::vector<std::string>& commands,
                                std::chrono::seconds timeout);

private:
    Emulator() = default;
    EmulatorWindow emu_;
    std::string stubCpu_;
    int port_ = 0;
};

// A port nobody on this host listens on now. A stub binds it a moment
// later; the tests that use a stub never run side by side.
int freeLoopbackPort();
// A fresh path under /tmp ending in `suffix`; nothing is created there.
std::string temporaryPath(const std::string& suffix);

// A gdb-multiarch script under /tmp for the stub of `cpu` ("arm9" or "arm7")
// on loopback `port` with the symbols of `elf`: `commands`, then a detach
// where asked. Returns its path; the caller removes it.
std::string writeGdbScript(const std::string& cpu, const std::string& elf, int port,
                           const std::vector<std::string>& commands, bool detach);
// Runs such a script to its end (gdb with the debugger's environment, for
// the key helper a script may call) and removes it.
vxtest::ProcessResult runGdbScript(const std::string& path, std::chrono::seconds timeout);

// Screenshots by `take` until `done` accepts one, `timeout` passes or the
// emulator ends; `last` is the last one taken.
bool waitForScreens(const std::function<bool(vxtest::Image&)>& take, vxtest::Process& emulator,
                    const std::function<bool(const vxtest::Image&)>& done, std::chrono::seconds timeout,
                    vxtest::Image& last);

// The simulated handheld's screens after `frames` frames of the same
// programs, by default with no access point in reach.
bool simulatedScreens(int frames, vxtest::Image& image, std::string& error,
                      const std::vector<std::string>& options = {"--no-access-point"});

}  // namespace vxdevicetest
