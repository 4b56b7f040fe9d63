// Command line of vx-server.
#ifndef VX_SERVER_OPTIONS_H
#define VX_SERVER_OPTIONS_H

#include <netinet/in.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vxserver {

struct Options {
    std::string bindText = "127.0.0.1";
    in_addr bindAddress{};  // filled by parseOptions
    uint16_t desktopPort = 9779;
    uint16_t handheldPort = 80;
    uint16_t statePort = 9780;
    int32_t firstId = 1;
    int maxPlayers = 64;
    bool help = false;
    bool version = false;
};

// Returns false with a one-line reason in `error` on a bad command line.
constexpr int kMaxPlayersLimit = 100000;

bool parseOptions(const std::vector<std::string>& args, Options& out, std::string& error);

const char* usageLine();
std::string helpText();

}  // namespace vxserver

#endif
