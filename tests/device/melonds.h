// The ROM image in melonDS, the emulator with a radio, an access point of its
// own and a NAT to the host, on a private X server with a private
// configuration folder: its window's two screens, its keys, and its debugger
// stubs through gdb-multiarch.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "emulator.h"
#include "process.h"
#include "temp_dir.h"
#include "xsession.h"

namespace vxdevicetest {

// Where the emulator is looked for ($VX_MELONDS, else the shared tools
// folder beside the project), and whether it is there.
const char* melonDsPath();
bool melonDsPresent();

class MelonDs {
public:
    struct Options {
        std::string rom;
        bool stubs = false;     // debugger stubs on free loopback ports
        bool holdMain = false;  // with stubs: the main processor waits for its debugger
        bool limitFps = true;
    };
    // Starts the emulator on the ROM and waits for its window, which then
    // has the keyboard focus.
    static std::unique_ptr<MelonDs> start(const Options& options, std::string& error);

    const std::string& display() const { return emu_.xvfb->display(); }
    vxtest::XClient& x() { return *emu_.x; }
    vxtest::Process& process() { return *emu_.process; }
    // Both screens, 256x384 like the other emulator's window: the menu bar
    // left out.
    bool screens(vxtest::Image& image);
    bool waitForScreens(const std::function<bool(const vxtest::Image&)>& done, std::chrono::seconds timeout,
                        vxtest::Image& last);
    bool keyDown(unsigned long keysym);
    bool keyUp(unsigned long keysym);
    // gdb-multiarch on one processor's stub ("arm9" or "arm7") with the
    // symbols of `elf`: runs `commands`, detaches (a stub left without a
    // detach keeps the emulator halted) and returns what it printed.
    vxtest::ProcessResult debug(const std::string& cpu, const std::string& elf,
                                const std::vector<std::string>& commands, std::chrono::seconds timeout);
    // The same, left running: SIGINT stops a `continue` in it, and the
    // script goes on. A stub takes one session per run of the emulator (a
    // second one gets no answer), so a session that must look twice stays.
    std::unique_ptr<vxtest::Process> debugSession(const std::string& cpu, const std::string& elf,
                                                  const std::vector<std::string>& commands, std::string& error);

private:
    MelonDs() = default;
    std::unique_ptr<vxtest::TempDir> home_;
    EmulatorWindow emu_;  // after home_: the emulator ends before its folder goes
    std::string script(const std::string& cpu, const std::string& elf, const std::vector<std::string>& commands);
    int arm9Port_ = 0, arm7Port_ = 0;
};

}  // namespace vxdevicetest
