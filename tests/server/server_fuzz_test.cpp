// vx-server under a flood: a million datagrams of random sizes and contents,
// near-misses of the protocol, and valid registrations and state records among
// them, to all three ports from many source ports. The server must stay up,
// stop cleanly on SIGINT, account for every datagram it received, keep its
// player table and its log small, and never hand out an id twice. And floods
// from registered players, of changes and of registrations again, and of new
// players, none of which may fill the log.
#include "server_harness.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <numeric>
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

uint64_t recordsToFlood() {
    if (const char* n = std::getenv("VX_FLOOD_RECORDS"); n && *n) return std::strtoull(n, nullptr, 10);
    return VX_FLOOD_RECORDS;
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
    for (const char* role : {"desktop", "handheld", "state"})
        socketDropped += vxtest::udpQueue(server.at(role)).value_or(vxtest::UdpQueue{}).drops;
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

    // Bounded memory; every new player a new id, logged one by one or in a
    // range; the players kept add up.
    const uint64_t logLines = static_cast<uint64_t>(std::count(result.out.begin(), result.out.end(), '\n'));
    auto registered = tallyRegistrations(result.out);
    EXPECT_TRUE(registered.unreadable.empty()) << registered.unreadable.front();
    const uint64_t newPlayers = registered.newIds.size();
    EXPECT_EQ(std::unordered_set<int32_t>(registered.newIds.begin(), registered.newIds.end()).size(), newPlayers);
    EXPECT_LE(summary->players, static_cast<uint64_t>(kMaxPlayers));
    EXPECT_GT(summary->replaced, 0u);
    EXPECT_EQ(registered.replacing, summary->replaced);
    EXPECT_EQ(summary->players, newPlayers - summary->replaced);
    EXPECT_EQ(registered.againTimes + newPlayers, summary->registrations);

    // Every ignored datagram is in the log, in a few lines for each second
    // the server ran: at most 5 of its own and one "ignored N more" a second.
    auto ignored = tallyIgnored(result.out);
    EXPECT_TRUE(ignored.inconsistent.empty()) << ignored.inconsistent.front();
    EXPECT_EQ(ignored.single + ignored.moreTotal, summary->ignored);
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(ended - started).count();
    EXPECT_LE(ignored.single + ignored.moreLines, 6u * static_cast<uint64_t>(seconds + 1));

    // The whole log, however fast players come and go: per second each slot
    // has 25 + 1 state lines and 5 + 1 registrations again; new players 100
    // lines, each perhaps after 2 lines of the player it replaces, and one
    // count; the ignored datagrams 6. Besides them 3 listening lines, ready
    // and the summary.
    const uint64_t perSecond = kMaxPlayers * (26 + 6) + 100 * 3 + 1 + 6;
    EXPECT_LE(logLines, perSecond * static_cast<uint64_t>(seconds + 2) + 5);

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
    std::printf("fuzz: log: %" PRIu64 " lines, %zu bytes, %" PRIu64 " about ignored datagrams, %" PRIu64
                " about new players\n",
                logLines, result.out.size(), ignored.single + ignored.moreLines, registered.newLines);
    std::printf("fuzz: server peak memory:%s\n", peakMemory.c_str());
    std::printf("fuzz: elapsed: %.1f s\n", std::chrono::duration<double>(ended - started).count());
}

// One registered player sends changes as fast as the server takes them while
// another sends one a second. The second keeps every line; the first gets at
// most 25 lines and one "more changes" line a second, and every change and
// every datagram is still accounted for.
TEST(ServerFuzz, OnePlayersFloodOfChangesNeitherFillsTheLogNorHidesAnother) {
    constexpr int kPerCall = 64;
    // Each call waits until the state socket's queue holds at most this, a
    // quarter of the least buffer the server can get: the kernel drops none.
    constexpr uint64_t kQueueRoom = 96 << 10;
    const uint64_t wanted = recordsToFlood();
    std::printf("flood: %" PRIu64 " changes from one player (VX_FLOOD_RECORDS)\n", wanted);
    const auto started = std::chrono::steady_clock::now();
    RunningServer server({});
    ASSERT_TRUE(server.ready()) << server.out() << server.process().errSoFar();
    auto flooder = clientPeer();
    auto steady = clientPeer();
    ASSERT_TRUE(flooder && steady);
    ASSERT_TRUE(server.registerFrom(*flooder, "desktop"));
    ASSERT_TRUE(server.registerFrom(*steady, "handheld"));
    const sockaddr_in state = server.at("state");
    const std::string fromFlooder = "state id 1 from 127.0.0.1:" + std::to_string(flooder->port()) + ": ";
    const std::string fromSteady = "state id 2 from 127.0.0.1:" + std::to_string(steady->port()) + ": ";

    uint64_t flooded = 0;
    int32_t steadySent = 0;
    auto nextSteady = std::chrono::steady_clock::now();
    vxProtocol records[kPerCall];
    mmsghdr messages[kPerCall]{};
    iovec parts[kPerCall];
    for (int i = 0; i < kPerCall; ++i) {
        parts[i] = {&records[i], sizeof records[i]};
        messages[i].msg_hdr.msg_name = const_cast<sockaddr_in*>(&state);
        messages[i].msg_hdr.msg_namelen = sizeof state;
        messages[i].msg_hdr.msg_iov = &parts[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    while (flooded < wanted) {
        if (std::chrono::steady_clock::now() >= nextSteady) {
            ++steadySent;
            server.send(*steady, "state", vxtest::encodeState({steadySent, 7, 2}));
            nextSteady += 1s;
        }
        ASSERT_TRUE(vxtest::waitForUdpQueue(state, kQueueRoom, 30s))
            << "the server stopped taking records after " << flooded << "\n"
            << server.process().errSoFar();
        const int n = static_cast<int>(std::min<uint64_t>(kPerCall, wanted - flooded));
        for (int i = 0; i < n; ++i) {
            // x86 and the wire are both little-endian: the record goes as laid out.
            const auto x = static_cast<int32_t>(flooded + static_cast<uint64_t>(i));
            records[i] = {x, -x, 1};
        }
        const int sent = sendmmsg(flooder->fd(), messages, static_cast<unsigned>(n), 0);
        ASSERT_EQ(sent, n) << std::strerror(errno);
        flooded += static_cast<uint64_t>(sent);
    }
    ASSERT_TRUE(vxtest::waitForUdpQueue(state, 0, 30s));
    // Under its limit, the steady player's line is written at once.
    const std::string lastSteady = fromSteady + "X=" + std::to_string(steadySent) + " Y=7 userID=2\n";
    ASSERT_TRUE(server.waitFor(lastSteady, 10s)) << server.out().substr(0, 4000);
    const uint64_t drops = vxtest::udpQueue(state).value_or(vxtest::UdpQueue{}).drops;
    const std::string peakMemory = statusField(server.process().pid(), "VmHWM");
    auto result = server.stop(SIGINT, 30s);
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    ASSERT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err, "");
    auto summary = findSummary(result.out);
    ASSERT_TRUE(summary) << result.out.substr(result.out.size() > 2000 ? result.out.size() - 2000 : 0);

    // Every datagram is counted, the held-back changes among the state records.
    const uint64_t steadyRecords = static_cast<uint64_t>(steadySent);
    EXPECT_EQ(drops, 0u);
    EXPECT_EQ(summary->datagrams, 2 + wanted + steadyRecords);
    EXPECT_EQ(summary->registrations + summary->states + summary->ignored, summary->datagrams);
    EXPECT_EQ(summary->states, wanted + steadyRecords);

    for (int32_t x = 1; x <= steadySent; ++x)
        EXPECT_EQ(countExact(result.out, fromSteady + "X=" + std::to_string(x) + " Y=7 userID=2"), 1) << x;

    // Every change of the flooder is told, one by one or in a count, and the
    // last of its lines gives where it ended up.
    auto flood = tallyPlayerStates(result.out, fromFlooder);
    EXPECT_TRUE(flood.unreadable.empty()) << flood.unreadable.front();
    EXPECT_EQ(flood.changes, wanted);
    const auto lastX = static_cast<int32_t>(wanted - 1);
    EXPECT_EQ(flood.latest, (vxProtocol{lastX, -lastX, 1}));
    EXPECT_GT(flood.moreLines, 0u);

    // The bound: per second the run touched, 25 lines and one count for the
    // flooder; besides them the steady player's lines, 2 registrations,
    // 3 listening lines, ready and the summary.
    const auto seconds = static_cast<uint64_t>(elapsed) + 2;
    const uint64_t logLines = static_cast<uint64_t>(std::count(result.out.begin(), result.out.end(), '\n'));
    EXPECT_LE(flood.written + flood.moreLines, 26 * seconds);
    EXPECT_LE(logLines, 26 * seconds + steadyRecords + 7);

    std::printf("flood: %" PRIu64 " changes and %" PRIu64 " steady records in %.1f s (%.0f records/s)\n", wanted,
                steadyRecords, elapsed, static_cast<double>(wanted) / elapsed);
    std::printf("flood: log: %" PRIu64 " lines, %zu bytes; the flooder's: %" PRIu64 " written, %" PRIu64
                " 'more changes'\n",
                logLines, result.out.size(), flood.written, flood.moreLines);
    std::printf("flood: server peak memory:%s\n", peakMemory.c_str());
}

// One registered player sends ADDME over and over while another sends a
// record every 50 ms. Every ADDME is answered with the same id, as ever; the
// repeats get at most 5 lines and one count a second, the steady player every
// line, and every datagram is counted.
TEST(ServerFuzz, OnePlayersFloodOfRegistrationsNeitherFillsTheLogNorHidesAnother) {
    constexpr uint64_t kRepeats = 100000, kPerWait = 50;  // then the ACKs are awaited, so none is lost
    const auto started = std::chrono::steady_clock::now();
    RunningServer server({});
    ASSERT_TRUE(server.ready()) << server.out() << server.process().errSoFar();
    auto flooder = clientPeer(), steady = clientPeer();
    ASSERT_TRUE(flooder && steady && server.registerFrom(*flooder, "desktop") &&
                server.registerFrom(*steady, "handheld"));
    const std::string fromSteady = "state id 2 from 127.0.0.1:" + std::to_string(steady->port()) + ": ";
    int32_t steadySent = 0;
    auto nextSteady = std::chrono::steady_clock::now();
    for (uint64_t sent = 0; sent < kRepeats; sent += kPerWait) {
        if (std::chrono::steady_clock::now() >= nextSteady) {
            server.send(*steady, "state", vxtest::encodeState({++steadySent, 7, 2}));
            nextSteady += 50ms;
        }
        for (uint64_t i = 0; i < kPerWait; ++i) ASSERT_TRUE(flooder->sendTo(server.at("desktop"), "ADDME", 5));
        for (uint64_t i = 0; i < kPerWait; ++i) {
            auto ack = flooder->receive(kReply);
            ASSERT_TRUE(ack && ack->data == vxtest::encodeId(1)) << "ADDME " << sent + i;
        }
    }
    ASSERT_TRUE(server.waitFor(fromSteady + "X=" + std::to_string(steadySent) + " Y=7 userID=2\n", 10s));
    auto result = server.stop(SIGINT, 30s);
    const auto seconds =
        static_cast<uint64_t>(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() + 2);

    auto summary = findSummary(result.out);
    ASSERT_TRUE(summary && result.err.empty()) << result.err;
    const auto steadyRecords = static_cast<uint64_t>(steadySent);
    EXPECT_EQ(summary->datagrams, 2 + kRepeats + steadyRecords);
    EXPECT_EQ(summary->registrations, 2 + kRepeats);
    for (int32_t x = 1; x <= steadySent; ++x)
        EXPECT_EQ(countExact(result.out, fromSteady + "X=" + std::to_string(x) + " Y=7 userID=2"), 1) << x;
    auto registered = tallyRegistrations(result.out);
    EXPECT_TRUE(registered.unreadable.empty()) << registered.unreadable.front();
    EXPECT_EQ(registered.newIds, (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(registered.againTimes, kRepeats);
    // Per second the run touched, 5 lines and one count for the repeats;
    // besides them the steady lines, 2 registrations, 3 listening, ready, summary.
    const uint64_t logLines = static_cast<uint64_t>(std::count(result.out.begin(), result.out.end(), '\n'));
    EXPECT_LE(logLines, 6 * seconds + steadyRecords + 7);
    std::printf("repeats: %" PRIu64 " ADDME; log: %" PRIu64 " lines, %zu bytes\n", kRepeats, logLines,
                result.out.size());
}

// Thousands of new players register at once, each from its own loopback
// address: at most 100 lines and one count a second, and every id in the log once.
TEST(ServerFuzz, AFloodOfNewPlayersIsLoggedInAFewLinesWithEveryId) {
    constexpr int kNewPlayers = 4000;
    const auto started = std::chrono::steady_clock::now();
    RunningServer server({});
    ASSERT_TRUE(server.ready()) << server.out() << server.process().errSoFar();
    const sockaddr_in desktop = server.at("desktop");
    for (int i = 0; i < kNewPlayers; ++i) {
        // A quarter of the least receive buffer the server can get: the kernel drops none.
        if (i % 64 == 0) {
            ASSERT_TRUE(vxtest::waitForUdpQueue(desktop, 96 << 10, 30s));
        }
        // Closed at once: its ACK is not wanted, and no file limit is neared.
        auto source = clientPeer("127.4." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1));
        ASSERT_TRUE(source && source->sendTo(desktop, "ADDME", 5));
    }
    ASSERT_TRUE(vxtest::waitForUdpQueue(desktop, 0, 30s));
    auto result = server.stop(SIGINT, 30s);
    const auto seconds =
        static_cast<uint64_t>(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() + 2);

    auto summary = findSummary(result.out);
    ASSERT_TRUE(summary && result.err.empty()) << result.err;
    EXPECT_EQ(summary->datagrams, static_cast<uint64_t>(kNewPlayers));
    EXPECT_EQ(summary->replaced, static_cast<uint64_t>(kNewPlayers - 64));
    auto registered = tallyRegistrations(result.out);
    EXPECT_TRUE(registered.unreadable.empty()) << registered.unreadable.front();
    std::sort(registered.newIds.begin(), registered.newIds.end());
    std::vector<int32_t> everyId(kNewPlayers);
    std::iota(everyId.begin(), everyId.end(), 1);
    EXPECT_EQ(registered.newIds, everyId);
    EXPECT_EQ(registered.replacing, summary->replaced);
    // Per second the run touched, 100 lines and one count; 3 listening, ready, summary.
    const uint64_t logLines = static_cast<uint64_t>(std::count(result.out.begin(), result.out.end(), '\n'));
    EXPECT_LE(logLines, 101 * seconds + 5);
    std::printf("new players: %d; log: %" PRIu64 " lines, %zu bytes\n", kNewPlayers, logLines, result.out.size());
}
