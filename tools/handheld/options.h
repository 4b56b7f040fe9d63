// Command line of vx-handheld.
#ifndef VX_HANDHELD_OPTIONS_H
#define VX_HANDHELD_OPTIONS_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "machine.h"

namespace vxhandheld {

// Keys held over an inclusive range of frames.
struct Hold {
    uint32_t keys = 0;  // KEY_* bits
    uint64_t first = 0;
    uint64_t last = 0;
};

struct Options {
    std::string arm9Path;  // empty: the default pair
    std::string arm7Path;
    bool headless = false;
    std::optional<bool> realtime;  // unset: real time in the window, fast headless
    std::optional<uint64_t> frames;
    int scale = 2;
    std::vector<Hold> holds;
    std::string screenshotPath;
    std::string consolePath;
    std::string tracePath;
    bool matchingAccessPoint = true;
    bool storedSettings = true;
    std::vector<vxsim::PortForward> forwards;
    bool help = false;
    bool version = false;
};

// Parses argv[1..]. On a bad argument returns nullopt with a one-line reason.
std::optional<Options> parseOptions(int argc, char** argv, std::string& error);

// KEY_* bits of a comma-separated list of key names, or nullopt with a reason.
std::optional<uint32_t> parseKeyList(const std::string& list, std::string& error);

// Keys that the --hold options hold during frame `frame`.
uint32_t heldAt(const std::vector<Hold>& holds, uint64_t frame);

extern const char* const kUsage;

}  // namespace vxhandheld

#endif
