// vx-server's throughput on loopback: the datagrams a second it handles of
// two kinds of traffic, valid state records from 8 players and junk, next to
// what a bare receive loop on the same sockets handles of the same traffic in
// the same run. The bare loop is the practical limit of this machine. Then
// the size of its log after one player's DATAGRAMS changes.
//
//   bench_server [DATAGRAMS [OTHER]]
//
// DATAGRAMS per kind and receiver (default 1000000). OTHER is another
// vx-server binary, an earlier build say, measured the same way in the same
// run; its lines start "other server".
//
// Each throughput phase sends DATAGRAMS as fast as one sending thread can and
// times until the receiver has emptied its sockets; what the kernel dropped
// for want of buffer room is not handled, so it is not counted. The log phase
// sends only while the server's queue has room, so that nothing is dropped.
#include "process.h"
#include "udp_peer.h"
#include "udp_socket.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kPlayers = 8;
constexpr int kPerCall = 64;

[[noreturn]] void fail(const std::string& why) {
    std::fprintf(stderr, "bench_server: %s\n", why.c_str());
    std::exit(1);
}

// Waits (bounded) until the receiver has taken everything off its sockets.
Clock::time_point drained(const std::vector<sockaddr_in>& sockets) {
    const auto deadline = Clock::now() + 30s;
    for (;;) {
        uint64_t queued = 0;
        for (const auto& s : sockets) queued += vxtest::udpQueue(s).value_or(vxtest::UdpQueue{}).bytes;
        if (queued == 0 || Clock::now() > deadline) return Clock::now();
        std::this_thread::sleep_for(1ms);
    }
}

// The sending side: 8 players' sockets and a few for junk, sendmmsg in batches.
class Sender {
public:
    Sender() : random_(12345) {
        for (int i = 0; i < kPlayers + 4; ++i) {
            std::string error;
            auto peer = vxtest::UdpPeer::bind("127.0.0.1", 0, &error);
            if (!peer) fail(error);
            peers_.push_back(std::move(peer));
        }
        // A fixed set of junk: random sizes up to an Ethernet payload, random
        // bytes, near-misses of the protocol; cycled through.
        noise_.resize(1 << 16);
        for (auto& b : noise_) b = static_cast<uint8_t>(random_());
        for (int i = 0; i < 4096; ++i) {
            size_t size = i % 4 == 0 ? random_() % 17 : random_() % 1501;
            if (i % 16 == 1) size = 11;
            if (i % 16 == 2) size = 13;
            junk_.push_back({static_cast<int>(random_() % 3), random_() % (noise_.size() - size), size});
        }
    }

    vxtest::UdpPeer& player(int i) { return *peers_[i]; }

    // `count` state records, the players in turn, each a step from its last.
    uint64_t sendStates(const std::vector<sockaddr_in>& to, uint64_t count) {
        uint8_t records[kPerCall][12];
        uint64_t sent = 0;
        for (uint64_t call = 0; sent < count; ++call) {
            const int p = static_cast<int>(call % kPlayers);
            const int n = static_cast<int>(std::min<uint64_t>(kPerCall, count - sent));
            for (int i = 0; i < n; ++i) {
                int32_t step[3] = {static_cast<int32_t>(++x_[p]), p, p + 1};
                std::memcpy(records[i], step, sizeof step);
            }
            sent += sendBatch(
                *peers_[p], n,
                [&](int i) {
                    return Shot{2, records[i], 12};
                },
                to);
        }
        return sent;
    }

    // `count` changes from player 0 alone, each call only once the state
    // socket's queue has room for it (a quarter of the least buffer the
    // server can get), so the kernel drops none.
    uint64_t sendStatesPaced(const std::vector<sockaddr_in>& to, uint64_t count) {
        constexpr uint64_t kQueueRoom = 96 << 10;
        uint8_t records[kPerCall][12];
        uint64_t sent = 0;
        while (sent < count) {
            if (!vxtest::waitForUdpQueue(to[2], kQueueRoom, 30s)) fail("the server stopped taking records");
            const int n = static_cast<int>(std::min<uint64_t>(kPerCall, count - sent));
            for (int i = 0; i < n; ++i) {
                int32_t step[3] = {static_cast<int32_t>(++x_[0]), 0, 1};
                std::memcpy(records[i], step, sizeof step);
            }
            sent += sendBatch(
                *peers_[0], n,
                [&](int i) {
                    return Shot{2, records[i], 12};
                },
                to);
        }
        return sent;
    }

    uint64_t sendJunk(const std::vector<sockaddr_in>& to, uint64_t count) {
        uint64_t sent = 0;
        for (uint64_t call = 0; sent < count; ++call) {
            const int n = static_cast<int>(std::min<uint64_t>(kPerCall, count - sent));
            auto& from = *peers_[kPlayers + call % 4];
            sent += sendBatch(
                from, n,
                [&](int) {
                    const Junk& j = junk_[next_++ % junk_.size()];
                    return Shot{j.port, noise_.data() + j.offset, j.size};
                },
                to);
        }
        return sent;
    }

private:
    struct Shot {
        int port;
        const uint8_t* data;
        size_t size;
    };
    struct Junk {
        int port;
        size_t offset, size;
    };

    template <typename Make>
    uint64_t sendBatch(vxtest::UdpPeer& from, int n, Make make, const std::vector<sockaddr_in>& to) {
        mmsghdr messages[kPerCall]{};
        iovec parts[kPerCall];
        for (int i = 0; i < n; ++i) {
            Shot s = make(i);
            parts[i] = {const_cast<uint8_t*>(s.data), s.size};
            messages[i].msg_hdr.msg_name = const_cast<sockaddr_in*>(&to[s.port]);
            messages[i].msg_hdr.msg_namelen = sizeof(sockaddr_in);
            messages[i].msg_hdr.msg_iov = &parts[i];
            messages[i].msg_hdr.msg_iovlen = 1;
        }
        uint64_t sent = 0;
        for (int i = 0; i < n;) {
            int r = sendmmsg(from.fd(), messages + i, n - i, 0);
            if (r <= 0) {
                ++i;  // that one is lost; the count stays honest
                continue;
            }
            sent += static_cast<uint64_t>(r);
            i += r;
        }
        return sent;
    }

    std::mt19937_64 random_;
    std::vector<std::unique_ptr<vxtest::UdpPeer>> peers_;
    std::vector<uint8_t> noise_;
    std::vector<Junk> junk_;
    size_t next_ = 0;
    int64_t x_[kPlayers] = {};
};

// The bare loop: the server's sockets and wake-up pattern, and nothing else.
class BareLoop {
public:
    BareLoop() {
        in_addr loopback{htonl(INADDR_LOOPBACK)};
        for (int i = 0; i < 3; ++i) {
            const char* call = "";
            std::string error;
            fds_[i] = vxserver::openUdpSocket(loopback, 0, call, error);
            if (fds_[i] < 0) fail(std::string("bare loop: ") + call + ": " + error);
            sockaddr_in at{};
            socklen_t length = sizeof at;
            getsockname(fds_[i], reinterpret_cast<sockaddr*>(&at), &length);
            ports_.push_back(at);
        }
        stop_ = eventfd(0, EFD_CLOEXEC);
        thread_ = std::thread([this] { loop(); });
    }
    ~BareLoop() {
        uint64_t one = 1;
        if (write(stop_, &one, sizeof one) < 0) std::perror("bench_server: eventfd");
        thread_.join();
        for (int fd : fds_) close(fd);
        close(stop_);
    }
    const std::vector<sockaddr_in>& ports() const { return ports_; }
    uint64_t received() const { return received_.load(); }

private:
    void loop() {
        vxserver::ReceiveBatch batch;
        for (;;) {
            pollfd polls[4] = {{stop_, POLLIN, 0}, {fds_[0], POLLIN, 0}, {fds_[1], POLLIN, 0}, {fds_[2], POLLIN, 0}};
            if (poll(polls, 4, -1) < 0) continue;
            for (int i = 1; i < 4; ++i)
                if (polls[i].revents & POLLIN) {
                    int n = batch.receive(fds_[i - 1]);
                    if (n > 0) received_.fetch_add(static_cast<uint64_t>(n), std::memory_order_relaxed);
                }
            if (polls[0].revents & POLLIN) return;
        }
    }

    int fds_[3] = {-1, -1, -1};
    int stop_ = -1;
    std::vector<sockaddr_in> ports_;
    std::atomic<uint64_t> received_{0};
    std::thread thread_;
};

// The real server, its log in a file as it would be in use.
class ServerRun {
public:
    explicit ServerRun(const std::string& binary) {
        char path[] = "/tmp/vx-bench-server-XXXXXX";
        int fd = mkstemp(path);
        if (fd < 0) fail(std::string("mkstemp: ") + std::strerror(errno));
        close(fd);
        log_ = path;
        std::string error;
        process_ = vxtest::Process::start({"/bin/sh", "-c", "exec \"$0\" \"$@\" >\"$VX_SERVER_LOG\"", binary,
                                           "--desktop-port", "0", "--handheld-port", "0", "--state-port", "0"},
                                          {"VX_SERVER_LOG=" + log_}, &error);
        if (!process_) fail(error);
        const auto deadline = Clock::now() + 10s;
        while (readLog().find("ready\n") == std::string::npos) {
            if (Clock::now() > deadline || !process_->running())
                fail("vx-server did not start: " + readLog() + process_->errSoFar());
            std::this_thread::sleep_for(5ms);
        }
        std::string text = readLog();
        for (const char* role : {"desktop", "handheld", "state"}) {
            std::smatch m;
            if (!std::regex_search(text, m, std::regex(std::string("listening ") + role + " ([0-9.]+):([0-9]+)")))
                fail(std::string("no ") + role + " port in the log");
            ports_.push_back(vxtest::makeAddress(m[1], static_cast<uint16_t>(std::stoi(m[2]))));
        }
    }
    ~ServerRun() { std::remove(log_.c_str()); }

    const std::vector<sockaddr_in>& ports() const { return ports_; }

    // Processor time it has used so far, user and system.
    double cpuSeconds() const {
        std::ifstream in("/proc/" + std::to_string(process_->pid()) + "/stat");
        std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::istringstream fields(stat.substr(stat.rfind(')') + 2));
        std::string field;
        uint64_t ticks = 0;
        // After the name: state is field 3, utime 14 and stime 15.
        for (int n = 3; n <= 15 && fields >> field; ++n)
            if (n >= 14) ticks += std::stoull(field);
        return static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }

    // Stops it; returns its log.
    std::string stop() {
        process_->terminate(SIGINT);
        auto result = process_->wait(30s);
        if (result.timedOut || result.exitCode != 0) fail("vx-server did not stop cleanly: " + result.err);
        return readLog();
    }

private:
    std::string readLog() const {
        std::ifstream in(log_);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    std::string log_;
    std::unique_ptr<vxtest::Process> process_;
    std::vector<sockaddr_in> ports_;
};

uint64_t summaryField(const std::string& log, const char* name) {
    size_t at = log.rfind("summary: ");
    if (at == std::string::npos) fail("no summary in the server's log");
    std::smatch m;
    std::string line = log.substr(at, log.find('\n', at) - at);
    if (!std::regex_search(line, m, std::regex(std::string("([0-9]+) ") + name))) fail(std::string("no ") + name);
    return std::stoull(m[1]);
}

uint64_t countLines(const std::string& log) { return static_cast<uint64_t>(std::count(log.begin(), log.end(), '\n')); }

double perSecond(uint64_t n, Clock::time_point from, Clock::time_point to) {
    return static_cast<double>(n) / std::chrono::duration<double>(to - from).count();
}

struct Figures {
    double rate = 0;
    uint64_t sent = 0, handled = 0;
};

void registerPlayers(Sender& sender, const ServerRun& server, int players) {
    for (int p = 0; p < players; ++p) {
        sender.player(p).sendTo(server.ports()[0], "ADDME", 5);
        if (!sender.player(p).receive(5s)) fail("no answer to a registration");
    }
}

// One kind of traffic through the real server.
Figures serverPhase(const std::string& binary, Sender& sender, bool states, uint64_t count, uint64_t* junkLogLines) {
    ServerRun server(binary);
    if (states) registerPlayers(sender, server, kPlayers);
    Figures f;
    const auto start = Clock::now();
    f.sent = states ? sender.sendStates(server.ports(), count) : sender.sendJunk(server.ports(), count);
    const auto end = drained(server.ports());
    const std::string log = server.stop();
    f.handled = summaryField(log, states ? "state records" : "ignored");
    f.rate = perSecond(f.handled, start, end);
    // Not the "listening" lines, "ready" and the summary.
    if (junkLogLines) *junkLogLines = countLines(log) - 5;
    return f;
}

Figures barePhase(Sender& sender, bool states, uint64_t count) {
    BareLoop loop;
    Figures f;
    const auto start = Clock::now();
    f.sent = states ? sender.sendStates(loop.ports(), count) : sender.sendJunk(loop.ports(), count);
    const auto end = drained(loop.ports());
    f.handled = loop.received();
    f.rate = perSecond(f.handled, start, end);
    return f;
}

struct LogFigures {
    uint64_t handled = 0, lines = 0, bytes = 0;
    double cpuSeconds = 0;
};

// One player's changes, none dropped: how much log they make, and the
// processor time they cost the server (a figure a busy machine disturbs less
// than a rate).
LogFigures logPhase(const std::string& binary, Sender& sender, uint64_t count) {
    ServerRun server(binary);
    registerPlayers(sender, server, 1);
    const double cpuBefore = server.cpuSeconds();
    sender.sendStatesPaced(server.ports(), count);
    drained(server.ports());
    const double cpu = server.cpuSeconds() - cpuBefore;
    const std::string log = server.stop();
    return {summaryField(log, "state records"), countLines(log), log.size(), cpu};
}

struct ServerFigures {
    Figures states, junk;
    uint64_t junkLines = 0;
    LogFigures log;
};

void print(const char* name, const ServerFigures& s, const Figures& bareStates, const Figures& bareJunk,
           uint64_t count) {
    std::printf("%s state records: %.0f datagrams/s\n", name, s.states.rate);
    std::printf("%s state records ratio: %.2f server/bare\n", name, s.states.rate / bareStates.rate);
    std::printf("%s junk: %.0f datagrams/s\n", name, s.junk.rate);
    std::printf("%s junk ratio: %.2f server/bare\n", name, s.junk.rate / bareJunk.rate);
    std::printf("%s log lines for %" PRIu64 " junk datagrams sent: %" PRIu64 " lines\n", name, s.junk.sent,
                s.junkLines);
    std::printf("%s log for one player's %" PRIu64 " changes (%" PRIu64 " handled): %" PRIu64 " lines\n", name, count,
                s.log.handled, s.log.lines);
    std::printf("%s log bytes for one player's %" PRIu64 " changes: %" PRIu64 " bytes\n", name, count, s.log.bytes);
    std::printf("%s processor time for one player's %" PRIu64 " changes: %.2f s\n", name, count, s.log.cpuSeconds);
    // What the kernel dropped for want of buffer room was not handled.
    std::printf("dropped, %s state records: %" PRIu64 " datagrams\n", name, s.states.sent - s.states.handled);
    std::printf("dropped, %s junk: %" PRIu64 " datagrams\n", name, s.junk.sent - s.junk.handled);
}

}  // namespace

int main(int argc, char** argv) {
    const uint64_t count = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
    if (count == 0 || argc > 3) fail("usage: bench_server [DATAGRAMS [OTHER]]");
    std::vector<std::pair<const char*, std::string>> servers = {{"server", vxtest::binaryPath("vx-server")}};
    if (argc > 2) servers.push_back({"other server", argv[2]});
    Sender sender;

    // Each server's phase of a kind beside the bare loop's, one kind after the other.
    std::vector<ServerFigures> figures(servers.size());
    for (size_t i = 0; i < servers.size(); ++i)
        figures[i].states = serverPhase(servers[i].second, sender, true, count, nullptr);
    const Figures bareStates = barePhase(sender, true, count);
    for (size_t i = 0; i < servers.size(); ++i)
        figures[i].junk = serverPhase(servers[i].second, sender, false, count, &figures[i].junkLines);
    const Figures bareJunk = barePhase(sender, false, count);
    for (size_t i = 0; i < servers.size(); ++i) figures[i].log = logPhase(servers[i].second, sender, count);

    std::printf("bare loop state records: %.0f datagrams/s\n", bareStates.rate);
    std::printf("bare loop junk: %.0f datagrams/s\n", bareJunk.rate);
    std::printf("dropped, bare loop state records: %" PRIu64 " datagrams\n", bareStates.sent - bareStates.handled);
    std::printf("dropped, bare loop junk: %" PRIu64 " datagrams\n", bareJunk.sent - bareJunk.handled);
    for (size_t i = 0; i < servers.size(); ++i) print(servers[i].first, figures[i], bareStates, bareJunk, count);
    std::fflush(stdout);
    return 0;
}
