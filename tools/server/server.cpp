#include "server.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>

namespace vxserver {
namespace {

const char* const kRoleName[] = {"desktop", "handheld", "state"};

// Enough to tell an oversized datagram from a valid one; MSG_TRUNC gives the real size.
constexpr size_t kReceiveBuffer = 64;
// Per wake-up and socket, so a flood on one port cannot starve the others.
constexpr int kBatch = 64;

uint64_t keyOf(const sockaddr_in& a) {
    return (static_cast<uint64_t>(ntohl(a.sin_addr.s_addr)) << 16) | ntohs(a.sin_port);
}

int32_t readLE32(const unsigned char* p) {
    uint32_t v = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                 static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
    return static_cast<int32_t>(v);
}

void writeLE32(unsigned char* p, int32_t value) {
    uint32_t v = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

}  // namespace

std::string formatAddress(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

Server::Server(const Options& options, std::FILE* out, std::FILE* err)
    : options_(options), out_(out), err_(err), nextId_(static_cast<uint32_t>(options.firstId)) {}

Server::~Server() {
    for (int fd : fds_)
        if (fd >= 0) close(fd);
}

void Server::line(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(out_, format, args);
    va_end(args);
    std::fputc('\n', out_);
    std::fflush(out_);
}

int Server::bindAll() {
    const uint16_t ports[RoleCount] = {options_.desktopPort, options_.handheldPort, options_.statePort};
    int bound = 0;
    for (int role = 0; role < RoleCount; ++role) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr = options_.bindAddress;
        address.sin_port = htons(ports[role]);
        const std::string where = formatAddress(address);

        int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            std::fprintf(err_, "vx-server: %s port %s: socket: %s\n", kRoleName[role], where.c_str(),
                         std::strerror(errno));
            continue;
        }
        if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            std::fprintf(err_, "vx-server: cannot bind %s port %s: %s\n", kRoleName[role], where.c_str(),
                         std::strerror(errno));
            std::fflush(err_);
            close(fd);
            continue;
        }
        sockaddr_in actual{};
        socklen_t length = sizeof actual;
        getsockname(fd, reinterpret_cast<sockaddr*>(&actual), &length);
        fds_[role] = fd;
        ++bound;
        line("listening %s %s", kRoleName[role], formatAddress(actual).c_str());
    }
    return bound;
}

int Server::run(int stopFd) {
    line("ready");
    for (;;) {
        pollfd polls[RoleCount + 1];
        Role roles[RoleCount];
        nfds_t count = 0;
        polls[count++] = {stopFd, POLLIN, 0};
        for (int role = 0; role < RoleCount; ++role) {
            if (fds_[role] < 0) continue;
            roles[count - 1] = static_cast<Role>(role);
            polls[count++] = {fds_[role], POLLIN, 0};
        }
        if (poll(polls, count, -1) < 0) {
            if (errno == EINTR) continue;
            std::fprintf(err_, "vx-server: poll: %s\n", std::strerror(errno));
            return 0;
        }
        for (nfds_t i = 1; i < count; ++i)
            if (polls[i].revents & (POLLIN | POLLERR)) drain(roles[i - 1]);
        if (polls[0].revents & POLLIN) {
            signalfd_siginfo info{};
            if (read(stopFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
                return static_cast<int>(info.ssi_signo);
            return 0;
        }
    }
}

void Server::drain(Role role) {
    for (int n = 0; n < kBatch; ++n) {
        unsigned char buffer[kReceiveBuffer];
        sockaddr_in from{};
        socklen_t length = sizeof from;
        ssize_t size = recvfrom(fds_[role], buffer, sizeof buffer, MSG_TRUNC,
                                reinterpret_cast<sockaddr*>(&from), &length);
        if (size < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                std::fprintf(err_, "vx-server: receive on %s port: %s\n", kRoleName[role], std::strerror(errno));
            return;
        }
        if (role == State)
            onState(from, buffer, static_cast<size_t>(size));
        else
            onRegistration(role, from, buffer, static_cast<size_t>(size));
    }
}

void Server::ignore(const std::string& why) {
    ++counters_.ignored;
    line("ignored: %s", why.c_str());
}

void Server::onRegistration(Role role, const sockaddr_in& from, const unsigned char* data, size_t size) {
    const std::string who = formatAddress(from);
    if (size != 5) {
        ignore(std::to_string(size) + "-byte datagram from " + who + " on " + kRoleName[role] +
               " port (expected \"ADDME\")");
        return;
    }
    if (std::memcmp(data, "ADDME", 5) != 0) {
        ignore("wrong payload from " + who + " on " + kRoleName[role] + " port (5 bytes, not \"ADDME\")");
        return;
    }
    auto [it, isNew] = players_.try_emplace(keyOf(from));
    if (isNew) it->second.id = static_cast<int32_t>(nextId_++);
    unsigned char ack[4];
    writeLE32(ack, it->second.id);
    ++counters_.registrations;
    line("register %s (%s) -> id %d%s", who.c_str(), kRoleName[role], it->second.id, isNew ? "" : " (again)");
    ssize_t sent = sendto(fds_[role], ack, sizeof ack, 0, reinterpret_cast<const sockaddr*>(&from), sizeof from);
    if (sent != static_cast<ssize_t>(sizeof ack))
        std::fprintf(err_, "vx-server: ACK to %s failed: %s\n", who.c_str(),
                     sent < 0 ? std::strerror(errno) : "short send");
}

Server::Player* Server::findSender(const sockaddr_in& from, bool& byPortOnly) {
    byPortOnly = false;
    if (auto it = players_.find(keyOf(from)); it != players_.end()) return &it->second;
    // A client that sends to another address than it registered with keeps its
    // socket, hence its port; accept that only when the port is unambiguous.
    Player* match = nullptr;
    for (auto& [key, player] : players_) {
        if ((key & 0xFFFF) != ntohs(from.sin_port)) continue;
        if (match != nullptr) return nullptr;
        match = &player;
    }
    byPortOnly = match != nullptr;
    return match;
}

void Server::onState(const sockaddr_in& from, const unsigned char* data, size_t size) {
    const std::string who = formatAddress(from);
    if (size != sizeof(vxProtocol)) {
        ignore(std::to_string(size) + "-byte datagram from " + who + " on state port (expected 12)");
        return;
    }
    bool byPortOnly = false;
    Player* player = findSender(from, byPortOnly);
    if (player == nullptr) {
        ignore("state from unknown sender " + who);
        return;
    }
    vxProtocol record{readLE32(data), readLE32(data + 4), readLE32(data + 8)};
    ++counters_.states;
    bool changed = !player->hasState || record.X != player->last.X || record.Y != player->last.Y ||
                   record.userID != player->last.userID;
    player->hasState = true;
    player->last = record;
    if (changed)
        line("state id %d from %s: X=%d Y=%d userID=%d%s", player->id, who.c_str(), record.X, record.Y,
             record.userID, byPortOnly ? " (matched by port)" : "");
}

void Server::printSummary(const char* reason) {
    line("summary: %llu registrations, %zu players, %llu state records, %llu ignored (%s)",
         static_cast<unsigned long long>(counters_.registrations), players_.size(),
         static_cast<unsigned long long>(counters_.states), static_cast<unsigned long long>(counters_.ignored),
         reason);
}

}  // namespace vxserver
