#include "udp_peer.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace vxtest {

sockaddr_in makeAddress(const std::string& dottedText, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, dottedText.c_str(), &a.sin_addr);
    return a;
}

std::string dotted(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return text;
}

std::string uniqueLoopbackAddress() {
    unsigned pid = static_cast<unsigned>(getpid());
    // Second octet 10..249 keeps clear of 127.0.0.x, which fixed-address
    // tests (127.0.0.1, 127.0.0.2) use.
    unsigned x = 10 + (pid >> 8) % 240;
    unsigned y = pid & 0xff;
    return "127." + std::to_string(x) + "." + std::to_string(y) + ".1";
}

std::optional<UdpQueue> udpQueue(const sockaddr_in& bound) {
    // The address as the kernel prints it: the raw 32-bit word, then the port.
    char local[32];
    std::snprintf(local, sizeof local, "%08X:%04X", bound.sin_addr.s_addr, ntohs(bound.sin_port));
    std::ifstream in("/proc/net/udp");
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string slot, address, remote, state, queues, last;
        fields >> slot >> address >> remote >> state >> queues;
        if (address != local) continue;
        for (std::string field; fields >> field;) last = field;
        UdpQueue q;
        q.bytes = std::strtoull(queues.substr(queues.find(':') + 1).c_str(), nullptr, 16);
        q.drops = std::strtoull(last.c_str(), nullptr, 10);
        return q;
    }
    return std::nullopt;
}

bool waitForUdpQueue(const sockaddr_in& bound, uint64_t bytes, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        auto q = udpQueue(bound);
        if (q && q->bytes <= bytes) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
}

std::unique_ptr<UdpPeer> UdpPeer::bind(const std::string& address, uint16_t port, std::string* error) {
    auto fail = [&](const std::string& why) -> std::unique_ptr<UdpPeer> {
        if (error) *error = why;
        return nullptr;
    };
    sockaddr_in a = makeAddress(address, port);
    if (a.sin_addr.s_addr == 0 && address != "0.0.0.0") return fail("bad address " + address);
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return fail(std::string("socket: ") + std::strerror(errno));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        int e = errno;
        ::close(fd);
        return fail("bind " + address + ":" + std::to_string(port) + ": " + std::strerror(e));
    }
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    std::unique_ptr<UdpPeer> p(new UdpPeer);
    p->fd_ = fd;
    p->port_ = ntohs(a.sin_port);
    p->address_ = address;
    return p;
}

std::optional<Datagram> UdpPeer::receive(std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() < 0) left = std::chrono::milliseconds(0);
        pollfd pfd{fd_, POLLIN, 0};
        int r = poll(&pfd, 1, static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return std::nullopt;
        Datagram d;
        d.data.resize(65536);
        socklen_t len = sizeof d.from;
        ssize_t n =
            recvfrom(fd_, d.data.data(), d.data.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&d.from), &len);
        d.at = std::chrono::steady_clock::now();
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return std::nullopt;
        }
        d.data.resize(static_cast<size_t>(n));
        return d;
    }
}

bool UdpPeer::sendTo(const sockaddr_in& to, const void* data, size_t size) {
    ssize_t n = ::sendto(fd_, data, size, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    return n == static_cast<ssize_t>(size);
}

bool UdpPeer::reply(const Datagram& to, const void* data, size_t size) { return sendTo(to.from, data, size); }

UdpPeer::~UdpPeer() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace vxtest
