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

int32_t readLE32(const unsigned char* p) {
    uint32_t v = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
                 static_cast<uint32_t>(p[3]) << 24;
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
    : options_(options), out_(out), err_(err), players_(static_cast<size_t>(options.maxPlayers)),
      nextId_(static_cast<uint32_t>(options.firstId)), idsLeft_(uint64_t{1} << 32), stateLines_(Clock::now()),
      repeatLines_(Clock::now()), newPlayerLines_(Clock::now()) {}

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

        const char* failedCall = "";
        std::string why;
        int fd = openUdpSocket(options_.bindAddress, ports[role], failedCall, why);
        if (fd < 0) {
            if (std::strcmp(failedCall, "bind") == 0)
                std::fprintf(err_, "vx-server: cannot bind %s port %s: %s\n", kRoleName[role], where.c_str(),
                             why.c_str());
            else
                std::fprintf(err_, "vx-server: %s port %s: %s: %s\n", kRoleName[role], where.c_str(), failedCall,
                             why.c_str());
            std::fflush(err_);
            continue;
        }
        sockaddr_in actual{};
        socklen_t length = sizeof actual;
        getsockname(fd, reinterpret_cast<sockaddr*>(&actual), &length);
        fds_[role] = fd;
        ++bound;
        line("listening %s %s", kRoleName[role], formatAddress(actual).c_str());
    }
    std::fflush(out_);
    return bound;
}

int Server::run(int stopFd) {
    line("ready");
    for (;;) {
        // Lines go out once per wake-up rather than one write each: under a
        // flood that is the difference between keeping up and not.
        std::fflush(out_);
        pollfd polls[RoleCount + 1];
        Role roles[RoleCount];
        nfds_t count = 0;
        polls[count++] = {stopFd, POLLIN, 0};
        for (int role = 0; role < RoleCount; ++role) {
            if (fds_[role] < 0) continue;
            roles[count - 1] = static_cast<Role>(role);
            polls[count++] = {fds_[role], POLLIN, 0};
        }
        // Held-back lines are told when their second is over, even if nothing
        // arrives after it.
        std::optional<Clock::time_point> due = ignoreLines_.due();
        for (auto other : {stateLines_.due(), repeatLines_.due(), newPlayerLines_.due()})
            if (other && (!due || *other < *due)) due = other;
        int timeoutMs = -1;
        if (due) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(*due - Clock::now());
            timeoutMs = static_cast<int>(std::max<int64_t>(0, left.count()));
        }
        if (poll(polls, count, timeoutMs) < 0) {
            if (errno == EINTR) continue;
            std::fprintf(err_, "vx-server: poll: %s\n", std::strerror(errno));
            return 0;
        }
        // One batch per socket and wake-up, so a flood on one port cannot starve the others.
        for (nfds_t i = 1; i < count; ++i)
            if (polls[i].revents & (POLLIN | POLLERR)) drain(roles[i - 1]);
        const auto now = Clock::now();
        tellPlayersHeldBack(now);
        tellHeldBack(now);
        if (polls[0].revents & POLLIN) {
            signalfd_siginfo info{};
            if (read(stopFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
                return static_cast<int>(info.ssi_signo);
            return 0;
        }
    }
}

void Server::drain(Role role) {
    int n = batch_.receive(fds_[role]);
    if (n < 0) {
        std::fprintf(err_, "vx-server: receive on %s port: %s\n", kRoleName[role], std::strerror(errno));
        return;
    }
    // One time for the batch: it was all waiting at once. What a second
    // that has ended held back is told before any line of this one.
    const auto now = Clock::now();
    tellPlayersHeldBack(now);
    for (int i = 0; i < n; ++i) {
        ++counters_.datagrams;
        if (role == State) onState(batch_.from(i), batch_.data(i), batch_.size(i), now);
        else onRegistration(role, batch_.from(i), batch_.data(i), batch_.size(i), now);
    }
}

void Server::tellHeldBack(IgnoreLineLimit::Clock::time_point now, bool evenIfNotOver) {
    std::string held = ignoreLines_.takeHeldBack(now, evenIfNotOver);
    if (!held.empty()) line("%s", held.c_str());
}

void Server::tellPlayersHeldBack(Clock::time_point now, bool evenIfNotOver) {
    // New players first: the lines after may name their ids.
    if (auto held = newPlayerLines_.takeHeldBack(now, evenIfNotOver)) {
        std::string text = "registered " + std::to_string(held->players);
        if (held->players == 1) text += " more player, id " + std::to_string(held->firstId);
        else text += " more players, ids " + std::to_string(held->firstId) + " to " + std::to_string(held->lastId);
        if (held->replacing > 0) text += ", " + std::to_string(held->replacing) + " of them replacing others";
        if (held->replacedChanges > 0 || held->replacedRepeats > 0)
            text += "; those replaced had " + std::to_string(held->replacedChanges) + " more changes, " +
                    std::to_string(held->replacedRepeats) + " more times (again)";
        line("%s", text.c_str());
    }
    repeatsToTell_.clear();
    repeatLines_.takeHeldBack(now, evenIfNotOver, repeatsToTell_);
    for (const HeldBackRepeats& held : repeatsToTell_) tellRepeatsHeldBack(held);
    statesToTell_.clear();
    stateLines_.takeHeldBack(now, evenIfNotOver, statesToTell_);
    for (const HeldBackStates& held : statesToTell_) tellStatesHeldBack(held);
}

void Server::tellHeldBackOf(Player& player) {
    if (auto held = repeatLines_.takeHeldBack(player)) tellRepeatsHeldBack(*held);
    if (auto held = stateLines_.takeHeldBack(player)) tellStatesHeldBack(*held);
}

void Server::tellRepeatsHeldBack(const HeldBackRepeats& held) {
    line("register id %d from %s: %llu more time%s (again)", held.id, formatAddress(held.from).c_str(),
         static_cast<unsigned long long>(held.times), held.times == 1 ? "" : "s");
}

void Server::tellStatesHeldBack(const HeldBackStates& held) {
    line("state id %d from %s: %llu more change%s, last X=%d Y=%d userID=%d%s", held.id,
         formatAddress(held.from).c_str(), static_cast<unsigned long long>(held.changes), held.changes == 1 ? "" : "s",
         held.last.X, held.last.Y, held.last.userID, held.byPortOnly ? " (matched by port)" : "");
}

template <typename Details>
void Server::ignore(IgnoreReason reason, Details details) {
    ++counters_.ignored;
    ++counters_.ignoredFor[static_cast<size_t>(reason)];
    const auto now = IgnoreLineLimit::Clock::now();
    tellHeldBack(now);
    if (ignoreLines_.admit(reason, now)) line("ignored: %s: %s", reasonName(reason), details().c_str());
}

void Server::onRegistration(Role role, const sockaddr_in& from, const unsigned char* data, size_t size,
                            Clock::time_point now) {
    if (size != 5) {
        ignore(IgnoreReason::WrongSize, [&] {
            return std::to_string(size) + "-byte datagram from " + formatAddress(from) + " on " + kRoleName[role] +
                   " port (expected \"ADDME\")";
        });
        return;
    }
    if (std::memcmp(data, "ADDME", 5) != 0) {
        ignore(IgnoreReason::WrongPayload, [&] {
            return "5 bytes from " + formatAddress(from) + " on " + kRoleName[role] + " port, not \"ADDME\"";
        });
        return;
    }
    Player* player = players_.heardFromSource(from);
    const bool isNew = player == nullptr;
    Player replaced;
    bool didReplace = false;
    bool logged = true;
    if (isNew) {
        if (idsLeft_ == 0) {
            ignore(IgnoreReason::IdsUsedUp, [&] { return "registration from " + formatAddress(from); });
            return;
        }
        --idsLeft_;
        const auto id = static_cast<int32_t>(nextId_++);
        Player* going = players_.toBeReplaced();
        didReplace = going != nullptr;
        logged = newPlayerLines_.admit(id, didReplace, now);
        // What the player going held back is told before the line that says
        // it is gone, or counted with that line when it is held back too.
        if (going && logged) {
            tellHeldBackOf(*going);
        } else if (going) {
            auto states = stateLines_.takeHeldBack(*going);
            auto repeats = repeatLines_.takeHeldBack(*going);
            newPlayerLines_.addReplaced(states ? states->changes : 0, repeats ? repeats->times : 0);
        }
        player = &players_.add(from, id, &replaced);
        if (didReplace) ++counters_.replaced;
    }
    unsigned char ack[4];
    writeLE32(ack, player->id);
    ++counters_.registrations;
    const std::string who = formatAddress(from);
    if (!isNew) {
        if (repeatLines_.admit(*player, now))
            line("register %s (%s) -> id %d (again)", who.c_str(), kRoleName[role], player->id);
    } else if (logged) {
        if (didReplace)
            line("register %s (%s) -> id %d (replaces id %d of %s)", who.c_str(), kRoleName[role], player->id,
                 replaced.id, formatAddress(replaced.from).c_str());
        else line("register %s (%s) -> id %d", who.c_str(), kRoleName[role], player->id);
    }
    std::fflush(out_);  // whoever has the ACK finds the line written
    ssize_t sent = sendto(fds_[role], ack, sizeof ack, 0, reinterpret_cast<const sockaddr*>(&from), sizeof from);
    if (sent != static_cast<ssize_t>(sizeof ack))
        std::fprintf(err_, "vx-server: ACK to %s failed: %s\n", who.c_str(),
                     sent < 0 ? std::strerror(errno) : "short send");
}

void Server::onState(const sockaddr_in& from, const unsigned char* data, size_t size, Clock::time_point now) {
    if (size != sizeof(vxProtocol)) {
        ignore(IgnoreReason::WrongSize, [&] {
            return std::to_string(size) + "-byte datagram from " + formatAddress(from) + " on state port (expected 12)";
        });
        return;
    }
    bool byPortOnly = false;
    Player* player = players_.heardFromSender(from, byPortOnly);
    if (player == nullptr) {
        ignore(IgnoreReason::UnknownPlayer, [&] { return "state record from " + formatAddress(from); });
        return;
    }
    vxProtocol record{readLE32(data), readLE32(data + 4), readLE32(data + 8)};
    ++counters_.states;
    bool changed = !player->hasState || record.X != player->last.X || record.Y != player->last.Y ||
                   record.userID != player->last.userID;
    player->hasState = true;
    player->last = record;
    if (changed && stateLines_.admit(*player, from, byPortOnly, now))
        line("state id %d from %s: X=%d Y=%d userID=%d%s", player->id, formatAddress(from).c_str(), record.X, record.Y,
             record.userID, byPortOnly ? " (matched by port)" : "");
}

void Server::printSummary(const char* reason) {
    tellPlayersHeldBack(Clock::now(), /*evenIfNotOver=*/true);
    tellHeldBack(IgnoreLineLimit::Clock::now(), /*evenIfNotOver=*/true);
    line(
        "summary: %llu registrations, %zu players, %llu state records, %llu ignored, %llu datagrams, "
        "%llu players replaced (%s)",
        static_cast<unsigned long long>(counters_.registrations), players_.size(),
        static_cast<unsigned long long>(counters_.states), static_cast<unsigned long long>(counters_.ignored),
        static_cast<unsigned long long>(counters_.datagrams), static_cast<unsigned long long>(counters_.replaced),
        reason);
    std::fflush(out_);
}

}  // namespace vxserver
