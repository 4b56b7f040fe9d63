// The real vx-server on loopback for tests: started on free ports, spoken to
// by UDP peers, and its log read back into figures.
#pragma once

#include "process.h"
#include "state_records.h"
#include "udp_peer.h"

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace servertest {

using namespace std::chrono_literals;

constexpr auto kReply = 2000ms;  // generous: the sanitizer build is slow

std::string endpoint(const sockaddr_in& a);
int countLines(const std::string& text, const std::string& prefix);
int countExact(const std::string& text, const std::string& wanted);
std::unique_ptr<vxtest::UdpPeer> clientPeer(const std::string& address = "127.0.0.1", uint16_t port = 0);

// One running server. Ports default to 0 so the kernel picks free ones; the
// "listening" lines tell which it got.
class RunningServer {
public:
    explicit RunningServer(std::vector<std::string> args, bool allPortsZero = true);
    ~RunningServer();

    bool ready() const { return ready_; }
    bool serves(const std::string& role) const { return ports_.count(role) != 0; }
    sockaddr_in at(const std::string& role) const { return ports_.at(role); }
    vxtest::Process& process() { return *process_; }
    std::string out() { return process_->outSoFar(); }

    // Bounded: the output either shows `text` within the time or it does not.
    bool waitFor(const std::string& text, std::chrono::milliseconds timeout = kReply);

    // Sends ADDME from `peer` to `role` and returns the reply, if any.
    std::optional<vxtest::Datagram> registerFrom(vxtest::UdpPeer& peer, const std::string& role);
    void send(vxtest::UdpPeer& peer, const std::string& role, const std::vector<uint8_t>& bytes);

    // Stops the server and returns how it ended, with all its output.
    vxtest::ProcessResult stop(int sig = SIGTERM, std::chrono::milliseconds timeout = 5s);

private:
    std::unique_ptr<vxtest::Process> process_;
    std::map<std::string, sockaddr_in> ports_;
    bool ready_ = false;
};

// The summary line's figures.
struct Summary {
    uint64_t registrations = 0, players = 0, states = 0, ignored = 0, datagrams = 0, replaced = 0;
    std::string stoppedBy;
};
std::optional<Summary> findSummary(const std::string& out);

// The "ignored" lines of a log: those written one per datagram, and the
// "ignored N more (REASON: count, ...)" lines with what they add up to.
struct IgnoredLines {
    uint64_t single = 0;                       // "ignored: REASON: ..." lines
    uint64_t moreLines = 0;                    // "ignored N more (...)" lines
    uint64_t moreTotal = 0;                    // the Ns added up
    std::map<std::string, uint64_t> byReason;  // single lines and counts in the more-lines
    std::vector<std::string> inconsistent;     // more-lines whose parts do not add up to N, or unreadable
};
IgnoredLines tallyIgnored(const std::string& out);

// One player's "state id" lines: "PREFIX X=x Y=y userID=u" for each change
// written, "PREFIX M more changes, last X=x Y=y userID=u" for those held back.
// `prefix` is "state id N from ADDR:PORT: ".
struct PlayerStateLines {
    uint64_t written = 0;               // lines of one change each
    uint64_t moreLines = 0;             // "more changes" lines
    uint64_t changes = 0;               // every change told: written + the Ms
    std::optional<vxProtocol> latest;   // the position the last of its lines gives
    size_t lastAt = std::string::npos;  // where that line starts in the log
    std::vector<std::string> unreadable;
};
PlayerStateLines tallyPlayerStates(const std::string& out, const std::string& prefix);

// The "register" lines of a log. New players: "register ADDR:PORT (ROLE) -> id N
// [(replaces ...)]" one each, and "registered N more players, ids A to B[, K of
// them replacing others]" for those held back. Registrations again:
// "... -> id N (again)" one each, "register id N from ADDR:PORT: M more times
// (again)" for those held back. What players replaced by new ones held back
// is told with the new ones when they are held back too.
struct RegisterLines {
    uint64_t newLines = 0;        // about new players
    std::vector<int32_t> newIds;  // every new player's id, written or in a range
    uint64_t replacing = 0;       // new players told as replacing another
    uint64_t againTimes = 0;      // registrations again, written or counted
    std::vector<std::string> unreadable;
};
RegisterLines tallyRegistrations(const std::string& out);

}  // namespace servertest
