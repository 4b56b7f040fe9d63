// The local game server: registration on two ports, state records on a third.
#ifndef VX_SERVER_SERVER_H
#define VX_SERVER_SERVER_H

#include "ignore_limit.h"
#include "options.h"
#include "players.h"
#include "register_limit.h"
#include "state_limit.h"
#include "udp_socket.h"

#include <netinet/in.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vxserver {

struct Counters {
    uint64_t datagrams = 0;      // every one received; = registrations + states + ignored
    uint64_t registrations = 0;  // ADDME answered, repeats included
    uint64_t states = 0;         // valid state records, changed or not, written or held back
    uint64_t ignored = 0;
    std::array<uint64_t, kIgnoreReasons> ignoredFor{};
    uint64_t replaced = 0;  // players dropped to make room for a new one
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

    using Clock = std::chrono::steady_clock;

    void drain(Role role);
    void onRegistration(Role role, const sockaddr_in& from, const unsigned char* data, size_t size,
                        Clock::time_point now);
    void onState(const sockaddr_in& from, const unsigned char* data, size_t size, Clock::time_point now);
    // Counts the datagram; its line, built by `details` only when written, may be held back.
    template <typename Details>
    void ignore(IgnoreReason reason, Details details);
    void tellHeldBack(IgnoreLineLimit::Clock::time_point now, bool evenIfNotOver = false);
    // Everything held back from the players' lines in a second that has ended.
    void tellPlayersHeldBack(Clock::time_point now, bool evenIfNotOver = false);
    void tellHeldBackOf(Player& player);
    void tellStatesHeldBack(const HeldBackStates& held);
    void tellRepeatsHeldBack(const HeldBackRepeats& held);
    void line(const char* format, ...) __attribute__((format(printf, 2, 3)));

    Options options_;
    std::FILE* out_;
    std::FILE* err_;
    int fds_[RoleCount] = {-1, -1, -1};
    PlayerTable players_;
    uint32_t nextId_;   // unsigned so counting past INT32_MAX wraps, not overflows
    uint64_t idsLeft_;  // ids not handed out yet, of the 2^32 there are
    Counters counters_;
    IgnoreLineLimit ignoreLines_;
    StateLineLimit stateLines_;
    RepeatLineLimit repeatLines_;
    NewPlayerLineLimit newPlayerLines_;
    std::vector<HeldBackStates> statesToTell_;  // kept to reuse its room
    std::vector<HeldBackRepeats> repeatsToTell_;
    ReceiveBatch batch_;
};

std::string formatAddress(const sockaddr_in& address);

}  // namespace vxserver

#endif
