#include "server_harness.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <algorithm>
#include <regex>
#include <sstream>

using vxtest::Datagram;
using vxtest::Process;
using vxtest::UdpPeer;

namespace servertest {

std::string endpoint(const sockaddr_in& a) { return vxtest::dotted(a) + ":" + std::to_string(ntohs(a.sin_port)); }

namespace {

// The lines of the server's output that begin with `prefix`.
std::vector<std::string> linesStartingWith(const std::string& text, const std::string& prefix) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(prefix, 0) == 0) lines.push_back(std::move(line));
    return lines;
}

}  // namespace

int countLines(const std::string& text, const std::string& prefix) {
    return static_cast<int>(linesStartingWith(text, prefix).size());
}

int countExact(const std::string& text, const std::string& wanted) {
    const auto lines = linesStartingWith(text, wanted);
    return static_cast<int>(std::count(lines.begin(), lines.end(), wanted));
}

std::unique_ptr<UdpPeer> clientPeer(const std::string& address, uint16_t port) {
    std::string error;
    auto peer = UdpPeer::bind(address, port, &error);
    EXPECT_TRUE(peer) << error;
    return peer;
}

RunningServer::RunningServer(std::vector<std::string> args, bool allPortsZero) {
    std::vector<std::string> argv{vxtest::binaryPath("vx-server")};
    if (allPortsZero)
        for (const char* option : {"--desktop-port", "--handheld-port", "--state-port"})
            if (std::find(args.begin(), args.end(), option) == args.end()) {
                argv.push_back(option);
                argv.push_back("0");
            }
    argv.insert(argv.end(), args.begin(), args.end());
    std::string error;
    process_ = Process::start(argv, {}, &error);
    EXPECT_TRUE(process_) << error;
    if (!process_) return;
    ready_ = waitFor("ready\n");
    std::string out = process_->outSoFar();
    std::regex listening("listening (desktop|handheld|state) ([0-9.]+):([0-9]+)");
    for (auto it = std::sregex_iterator(out.begin(), out.end(), listening); it != std::sregex_iterator(); ++it)
        ports_[(*it)[1]] = vxtest::makeAddress((*it)[2], static_cast<uint16_t>(std::stoi((*it)[3])));
}

RunningServer::~RunningServer() {
    if (process_ && process_->running()) {
        process_->terminate(SIGKILL);
        process_->wait(2s);
    }
}

bool RunningServer::waitFor(const std::string& text, std::chrono::milliseconds timeout) {
    return vxtest::waitForOutput(*process_, vxtest::containing(text), timeout);
}

std::optional<Datagram> RunningServer::registerFrom(UdpPeer& peer, const std::string& role) {
    EXPECT_TRUE(peer.sendTo(at(role), "ADDME", 5));
    return peer.receive(kReply);
}

void RunningServer::send(UdpPeer& peer, const std::string& role, const std::vector<uint8_t>& bytes) {
    EXPECT_TRUE(peer.sendTo(at(role), bytes.data(), bytes.size()));
}

vxtest::ProcessResult RunningServer::stop(int sig, std::chrono::milliseconds timeout) {
    process_->terminate(sig);
    return process_->wait(timeout);
}

std::optional<Summary> findSummary(const std::string& out) {
    static const std::regex pattern(
        "summary: ([0-9]+) registrations, ([0-9]+) players, ([0-9]+) state records, ([0-9]+) ignored, "
        "([0-9]+) datagrams, ([0-9]+) players replaced \\(([A-Z]+)\\)");
    // The log can be megabytes: find the line first, then read it.
    size_t at = out.rfind("summary: ");
    if (at == std::string::npos || (at > 0 && out[at - 1] != '\n')) return std::nullopt;
    size_t end = out.find('\n', at);
    if (end == std::string::npos) return std::nullopt;
    const std::string line = out.substr(at, end - at);
    std::smatch m;
    if (!std::regex_match(line, m, pattern)) return std::nullopt;
    Summary s;
    s.registrations = std::stoull(m[1]);
    s.players = std::stoull(m[2]);
    s.states = std::stoull(m[3]);
    s.ignored = std::stoull(m[4]);
    s.datagrams = std::stoull(m[5]);
    s.replaced = std::stoull(m[6]);
    s.stoppedBy = m[7];
    return s;
}

IgnoredLines tallyIgnored(const std::string& out) {
    static const std::regex single("ignored: ([a-z ]+): .*");
    static const std::regex more("ignored ([0-9]+) more \\((.*)\\)");
    static const std::regex part("([a-z ]+): ([0-9]+)");
    IgnoredLines t;
    std::smatch m;
    for (const std::string& line : linesStartingWith(out, "ignored")) {
        if (std::regex_match(line, m, single)) {
            ++t.single;
            ++t.byReason[m[1]];
        } else if (std::regex_match(line, m, more)) {
            ++t.moreLines;
            const uint64_t n = std::stoull(m[1]);
            t.moreTotal += n;
            uint64_t parts = 0;
            std::stringstream list(m[2].str());
            for (std::string item; std::getline(list, item, ',');) {
                item.erase(0, item.find_first_not_of(' '));
                std::smatch p;
                if (!std::regex_match(item, p, part)) {
                    parts = n + 1;  // unreadable: cannot add up
                    break;
                }
                parts += std::stoull(p[2]);
                t.byReason[p[1]] += std::stoull(p[2]);
            }
            if (parts != n) t.inconsistent.push_back(line);
        } else {
            t.inconsistent.push_back(line);
        }
    }
    return t;
}

PlayerStateLines tallyPlayerStates(const std::string& out, const std::string& prefix) {
    static const std::regex written("X=(-?[0-9]+) Y=(-?[0-9]+) userID=(-?[0-9]+)( \\(matched by port\\))?");
    static const std::regex more(
        "([0-9]+) more changes?, last X=(-?[0-9]+) Y=(-?[0-9]+) userID=(-?[0-9]+)"
        "( \\(matched by port\\))?");
    PlayerStateLines t;
    std::smatch m;
    for (size_t at = 0; at < out.size();) {
        size_t end = out.find('\n', at);
        if (end == std::string::npos) end = out.size();
        if (out.compare(at, prefix.size(), prefix) == 0) {
            const std::string rest = out.substr(at + prefix.size(), end - at - prefix.size());
            size_t firstNumber = 0;
            if (std::regex_match(rest, m, written)) {
                ++t.written;
                ++t.changes;
                firstNumber = 1;
            } else if (std::regex_match(rest, m, more)) {
                ++t.moreLines;
                t.changes += std::stoull(m[1]);
                firstNumber = 2;
            } else {
                t.unreadable.push_back(rest);
            }
            if (firstNumber != 0) {
                t.latest =
                    vxProtocol{std::stoi(m[firstNumber]), std::stoi(m[firstNumber + 1]), std::stoi(m[firstNumber + 2])};
                t.lastAt = at;
            }
        }
        at = end + 1;
    }
    return t;
}

RegisterLines tallyRegistrations(const std::string& out) {
    static const std::regex single(
        "register [0-9.]+:[0-9]+ \\((desktop|handheld)\\) -> id (-?[0-9]+)( \\(again\\)| \\(replaces id .*\\))?");
    static const std::regex moreAgain("register id -?[0-9]+ from [0-9.]+:[0-9]+: ([0-9]+) more times? \\(again\\)");
    static const std::regex moreNew(
        "registered ([0-9]+) more players?, ids? (-?[0-9]+)(?: to (-?[0-9]+))?(?:, ([0-9]+) of them replacing "
        "others)?(?:; those replaced had ([0-9]+) more changes, ([0-9]+) more times \\(again\\))?");
    RegisterLines t;
    std::smatch m;
    for (const std::string& line : linesStartingWith(out, "register")) {
        if (std::regex_match(line, m, single)) {
            const std::string tail = m[3];
            if (tail == " (again)") {
                ++t.againTimes;
                continue;
            }
            ++t.newLines;
            t.newIds.push_back(static_cast<int32_t>(std::stol(m[2])));
            if (!tail.empty()) ++t.replacing;
        } else if (std::regex_match(line, m, moreAgain)) {
            t.againTimes += std::stoull(m[1]);
        } else if (std::regex_match(line, m, moreNew)) {
            ++t.newLines;
            const uint64_t n = std::stoull(m[1]);
            // Ids count up and wrap as 32-bit numbers do.
            auto id = static_cast<uint32_t>(std::stol(m[2]));
            for (uint64_t i = 0; i < n; ++i) t.newIds.push_back(static_cast<int32_t>(id++));
            const bool lastMatches = m[3].matched ? static_cast<int32_t>(id - 1) == std::stol(m[3]) : n == 1;
            if (!lastMatches) t.unreadable.push_back(line);
            if (m[4].matched) t.replacing += std::stoull(m[4]);
            if (m[6].matched) t.againTimes += std::stoull(m[6]);
        } else {
            t.unreadable.push_back(line);
        }
    }
    return t;
}

}  // namespace servertest
