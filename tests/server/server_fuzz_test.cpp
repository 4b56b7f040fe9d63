// vx-server under a flood: a million datagrams of random sizes and contents,
// near-misses of the protocol, and valid registrations and state records among
// them, to all three ports from many source ports. The server must stay up,
// stop cleanly on SIGINT, account for every datagram it received, keep its
// player table and its log small, and never hand out an id twice.
#include "server_harness.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <unordered_set>

using namespace servertest;
using vxtest::UdpPeer;

namespace {

constexpr int kMaxPlayers = 16;
constexpr int kSources = 96;        // on 127.0.0.1, each its own port
constexpr int kTwins = 16;          // on 127.0.0.3, on the ports of the first sources
constexpr int kPerCall = 16;        // datagrams per sendmmsg, all from one source
constexpr int kPerWindow = 256;     // datagrams between two answered registrations
constexpr auto kFloodLimit = 120s;  // a bound, not an expectation: a normal run takes seconds

uint64_t datagramsToSend() {
    if (const char* n = std::getenv("VX_FUZZ_DATAGRAMS"); n && *n) return std::strtoull(n, nullptr, 10);
    return VX_FUZZ_DATAGRAMS;
}

uint64_t seed() {
    if (const char* s = std::getenv("VX_FUZZ_SEED"); s && *s) return std::strtoull(s, nullptr, 10);
    return std::random_device{}();
}

// Datagrams the kernel dropped for want of receive-buffer room, on the whole
// host: Udp RcvbufErrors in /proc/net/snmp.
std::optional<uint64_t> hostReceiveBufferDrops() {
    std::ifstream in("/proc/net/snmp");
    for (std::string names, values; std::getline(in, names);) {
        if (names.rfind("Udp: ", 0) != 0 || !std::getline(in, values)) continue;
        std::istringstream n(names), v(values);
        for (std::string name, value; n >> name && v >> value;)
            if (name == "RcvbufErrors") return std::stoull(value);
    }
    return std::nullopt;
}

// Drops on one bound socket: the last column of its line in /proc/net/udp.
uint64_t socketDrops(const sockaddr_in& bound) {
    char local[32];
    std::snprintf(local, sizeof local, "%08X:%04X", bound.sin_addr.s_addr, ntohs(bound.sin_port));
    std::ifstream in("/proc/net/udp");
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string slot, address, last;
        fields >> slot >> address;
        if (address != local) continue;
        for (std::string field; fields >> field;) last = field;
        return std::stoull(last);
    }
    return 0;
}

std::string statusField(pid_t pid, const std::string& name) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(name + ":", 0) == 0) return line.substr(name.size() + 1);
    return "?";
}

struct Source {
    int fd = -1;
    sockaddr_in at{};
};

class Flood {
public:
    Flood(RunningServer& server, uint64_t seed) : random_(seed), noise_(1 << 16) {
        for (auto& b : noise_) b = static_cast<uint8_t>(random_());
        ports_[0] = server.at("desktop");
        ports_[1] = server.at("handheld");
        ports_[2] = server.at("state");
    }
    ~Flood() {
        for (auto& s : sources_) close(s.fd);
    }

    bool openSources(std::string& error) {
        for (int i = 0; i < kSources + kTwins; ++i) {
            const bool twin = i >= kSources;
            const uint16_t port = twin ? ntohs(sources_[i - kSources].at.sin_port) : 0;
            Source s;
            s.fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            s.at = vxtest::makeAddress(twin ? "127.0.0.3" : "127.0.0.1", port);
            if (s.fd < 0 || bind(s.fd, reinterpret_cast<sockaddr*>(&s.at), sizeof s.at) != 0) {
                if (s.fd >= 0) close(s.fd);
                if (twin) continue;  // that port is taken on the other address; fewer twins then
                error = std::string("source socket: ") + std::strerror(errno);
                return false;
            }
            socklen_t length = sizeof s.at;
            getsockname(s.fd, reinterpret_cast<sockaddr*>(&s.at), &length);
            sources_.push_back(s);
        }
        return true;
    }

    // Sends one call's worth from a random source; returns how many went out.
    uint64_t sendSome() {
        const Source& from = sources_[random_() % sources_.size()];
        mmsghdr messages[kPerCall]{};
        iovec parts[kPerCall];
        for (int i = 0; i < kPerCall; ++i) {
            auto [port, data, size] = pick();
            parts[i] = {const_cast<uint8_t*>(data), size};
            messages[i].msg_hdr.msg_name = &ports_[port];
            messages[i].msg_hdr.msg_namelen = sizeof(sockaddr_in);
            messages[i].msg_hdr.msg_iov = &parts[i];
            messages[i].msg_hdr.msg_iovlen = 1;
        }
        uint64_t sent = 0;
        for (int i = 0; i < kPerCall;) {
            int n = sendmmsg(from.fd, messages + i, kPerCall - i, 0);
            if (n <= 0) {
                ++failedSends_;
                ++i;
            } else {
                sent += static_cast<uint64_t>(n);
                i += n;
            }
        }
        return sent;
    }

    // Reads the ACKs that came back to the sources, so their buffers never fill.
    void collectAnswers() {
        char buffer[16];
        for (auto& s : sources_)
            while (recv(s.fd, buffer, sizeof buffer, MSG_DONTWAIT) >= 0) ++answers_;
    }

    uint64_t answers() const { return answers_; }
    uint64_t failedSends() const { return failedSends_; }

private:
    struct Shot {
        int port;  // 0 desktop, 1 handheld, 2 state
        const uint8_t* data;
        size_t size;
    };

    const uint8_t* noise(size_t size) { return noise_.data() + random_() % (noise_.size() - size); }

    Shot pick() {
        static const std::vector<std::pair<std::string, int>> nearMisses = {
            {"ADDM", 0},       {std::string("ADDME\0", 6), 1},
            {"ADDMEADDME", 0}, {"addme", 1},
            {"ADDMF", 0},      {" ADDME", 1},
            {"ADDME", 2},      {"", 2},
            {"ADDME\n", 0},
        };
        const int port = static_cast<int>(random_() % 3);
        const unsigned kind = random_() % 1000;
        if (kind < 500) {  // anything up to a full Ethernet payload
            size_t size = random_() % 1501;
            return {port, noise(size), size};
        }
        if (kind < 650) {  // small, around the sizes that matter
            size_t size = random_() % 17;
            return {port, noise(size), size};
        }
        if (kind < 750) {  // records one byte short or long, or on a registration port
            static const size_t sizes[] = {11, 13, 12};
            size_t which = random_() % 3;
            return {which == 2 ? static_cast<int>(random_() % 2) : 2, noise(sizes[which]), sizes[which]};
        }
        if (kind < 850) {
            const auto& [text, to] = nearMisses[random_() % nearMisses.size()];
            return {to, reinterpret_cast<const uint8_t*>(text.data()), text.size()};
        }
        if (kind < 880) return {static_cast<int>(random_() % 2), reinterpret_cast<const uint8_t*>("ADDME"), 5};
        return {2, noise(12), 12};  // a valid record; the sender may or may not be a player
    }

    std::mt19937_64 random_;
    std::vector<uint8_t> noise_;
    sockaddr_in ports_[3];
    std::vector<Source> sources_;
    uint64_t answers_ = 0, failedSends_ = 0;
};

}  // namespace

TEST(ServerFuzz, FloodOfMixedDatagramsIsSurvivedAndAccountedFor) {
    const uint64_t wanted = datagramsToSend();
    const uint64_t randomSeed = seed();
    std::printf("fuzz: %" PRIu64 " datagrams, seed %" PRIu64 " (VX_FUZZ_DATAGRAMS, VX_FUZZ_SEED)\n", wanted,
                randomSeed);
    const auto hostDropsBefore = hostReceiveBufferDrops();
    const auto started = std::chrono::steady_clock::now();
    RunningServer server({"--max-players", std::to_string(kMaxPlayers)});
    ASSERT_TRUE(server.ready()) << server.out() << server.process().errSoFar();

    Flood flood(server, randomSeed);
    std::string error;
    ASSERT_TRUE(flood.openSources(error)) << error;
    auto probe = clientPeer();
    ASSERT_TRUE(probe);

    // Between windows, one registration must be answered: the server is up
    // and has caught up, so its receive buffers are not simply overrun.
    uint64_t sent = 0, probes = 0, probeAnswers = 0;
    const auto floodDeadline = std::chrono::steady_clock::now() + kFloodLimit;
    for (uint64_t window = 0; sent < wanted; ++window) {
        for (int n = 0; n < kPerWindow && sent < wanted; n += kPerCall) sent += flood.sendSome();
        bool answered = false;
        while (!answered) {
            ASSERT_TRUE(server.process().running()) << "server died after " << sent << " datagrams\n"
                                                    << server.process().errSoFar();
            ASSERT_LT(std::chrono::steady_clock::now(), floodDeadline)
                << "only " << sent << " of " << wanted << " datagrams sent in " << kFloodLimit.count() << " s";
            ASSERT_TRUE(probe->sendTo(server.at(window % 2 ? "handheld" : "desktop"), "ADDME", 5));
            ++probes;
            answered = probe->receive(1s).has_value();
        }
        ++probeAnswers;
        while (probe->receive(0ms)) ++probeAnswers;  // late answers to earlier tries
        if (window % 16 == 0) flood.collectAnswers();
    }
    flood.collectAnswers();

    uint64_t socketDropped = 0;
    for (const char* role : {"desktop", "handheld", "state"}) socketDropped += socketDrops(server.at(role));
    const std::string peakMemory = statusField(server.process().pid(), "VmHWM");
    auto result = server.stop(SIGINT, 30s);
    const auto ended = std::chrono::steady_clock::now();
    const auto hostDropsAfter = hostReceiveBufferDrops();

    ASSERT_FALSE(result.timedOut);
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err, "");
    auto summary = findSummary(result.out);
    ASSERT_TRUE(summary) << result.out.substr(result.out.size() > 2000 ? result.out.size() - 2000 : 0);
    EXPECT_EQ(summary->stoppedBy, "SIGINT");
    const size_t summaryAt = result.out.rfind("\nsummary: ");
    ASSERT_NE(summaryAt, std::string::npos);
    EXPECT_EQ(result.out.find('\n', summaryAt + 1), result.out.size() - 1) << "lines after the summary";

    // Every datagram the server took off its sockets is in exactly one count,
    // and it cannot have taken more than there were.
    const uint64_t accounted = summary->registrations + summary->states + summary->ignored;
    EXPECT_EQ(accounted, summary->datagrams);
    EXPECT_LE(summary->datagrams + socketDropped, sent + probes);
    EXPECT_GE(summary->registrations, flood.answers() + probeAnswers);

    // Bounded memory; every new player a new id; the players kept add up.
    uint64_t newPlayers = 0, logLines = 0;
    std::unordered_set<int32_t> ids;
    bool idTwice = false;
    std::istringstream lines(result.out);
    for (std::string line; std::getline(lines, line);) {
        ++logLines;
        if (line.rfind("register ", 0) != 0 || line.find("(again)") != std::string::npos) continue;
        ++newPlayers;
        const size_t at = line.find(" -> id ");
        ASSERT_NE(at, std::string::npos) << line;
        idTwice |= !ids.insert(static_cast<int32_t>(std::stol(line.substr(at + 7)))).second;
    }
    EXPECT_FALSE(idTwice);
    EXPECT_LE(summary->players, static_cast<uint64_t>(kMaxPlayers));
    EXPECT_GT(summary->replaced, 0u);
    EXPECT_EQ(summary->players, newPlayers - summary->replaced);

    // Every ignored datagram is in the log, in a few lines for each second
    // the server ran: at most 5 of its own and one "ignored N more" a second.
    auto ignored = tallyIgnored(result.out);
    EXPECT_TRUE(ignored.inconsistent.empty()) << ignored.inconsistent.front();
    EXPECT_EQ(ignored.single + ignored.moreTotal, summary->ignored);
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(ended - started).count();
    EXPECT_LE(ignored.single + ignored.moreLines, 6u * static_cast<uint64_t>(seconds + 1));

    std::printf("fuzz: sent: %" PRIu64 " datagrams (%" PRIu64 " more as %" PRIu64
                " answered registrations"
                " between windows; %" PRIu64 " sends failed)\n",
                sent, probes, probeAnswers, flood.failedSends());
    std::printf("fuzz: received: %" PRIu64 " datagrams\n", summary->datagrams);
    std::printf("fuzz: accounted for: %" PRIu64 " datagrams (%" PRIu64 " registrations, %" PRIu64
                " state records, %" PRIu64 " ignored)\n",
                accounted, summary->registrations, summary->states, summary->ignored);
    std::printf("fuzz: kernel drops on the server's sockets: %" PRIu64 " datagrams\n", socketDropped);
    if (hostDropsBefore && hostDropsAfter)
        std::printf("fuzz: kernel receive-buffer drops, whole host: %" PRIu64 " datagrams\n",
                    *hostDropsAfter - *hostDropsBefore);
    std::printf("fuzz: players: %" PRIu64 " kept, %" PRIu64 " new, %" PRIu64 " replaced\n", summary->players,
                newPlayers, summary->replaced);
    std::printf("fuzz: log: %" PRIu64 " lines, %" PRIu64 " about ignored datagrams\n", logLines,
                ignored.single + ignored.moreLines);
    std::printf("fuzz: server peak memory:%s\n", peakMemory.c_str());
    std::printf("fuzz: elapsed: %.1f s\n", std::chrono::duration<double>(ended - started).count());
}
