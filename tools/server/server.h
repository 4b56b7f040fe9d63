// The local game server: registration on two ports, state records on a third.
#ifndef VX_SERVER_SERVER_H
#define VX_SERVER_SERVER_H

#include "options.h"
#include "vxProtocol.h"

#include <netinet/in.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>

namespace vxserver {

struct Counters {
    uint64_t registrations = 0;  // ADDME answered, repeats included
    uint64_t states = 0;         // valid state records, changed or not
    uint64_t ignored = 0;
};

class Server {
public:
    Server(const Options& options, std::FILE* out, std::FILE* err);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds every port it can; reports the others on `err`. Returns how many.
    int bindAll();

    // Serves until `stopFd` (a signalfd) becomes readable; returns the signal.
    int run(int stopFd);

    void printSummary(const char* reason);
    const Counters& counters() const { return counters_; }

private:
    enum Role { Desktop, Handheld, State, RoleCount };

    struct Player {
        int32_t id = 0;
        bool hasState = false;
        vxProtocol last{};
    };

    void drain(Role role);
    void onRegistration(Role role, const sockaddr_in& from, const unsigned char* data, size_t size);
    void onState(const sockaddr_in& from, const unsigned char* data, size_t size);
    Player* findSender(const sockaddr_in& from, bool& byPortOnly);
    void ignore(const std::string& why);
    void line(const char* format, ...) __attribute__((format(printf, 2, 3)));

    Options options_;
    std::FILE* out_;
    std::FILE* err_;
    int fds_[RoleCount] = {-1, -1, -1};
    std::map<uint64_t, Player> players_;  // keyed by registration source
    uint32_t nextId_;                     // unsigned so counting past INT32_MAX wraps, not overflows
    Counters counters_;
};

std::string formatAddress(const sockaddr_in& address);

}  // namespace vxserver

#endif
