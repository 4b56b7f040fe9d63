// What the library stand-ins keep between calls, per machine: the text
// console and the keypad library's last two samples.
#ifndef VXSIM_LIBRARY_STATE_H
#define VXSIM_LIBRARY_STATE_H

#include <cstdint>
#include <string>

namespace vxsim {

struct ConsoleState {
    bool ready = false;
    uint32_t mapAddress = 0;
    uint32_t tileAddress = 0;
    int row = 0, col = 0;
    std::string line;  // the line being written, for the trace
};

struct KeyScan {
    uint32_t now = 0, previous = 0;  // KEY_* bits held at the last two scans
};

}  // namespace vxsim

#endif
