// A loopback UDP peer standing in for the game server: it catches what a
// client sends and answers from whatever address and port a test chooses.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vxtest {

struct Datagram {
    std::vector<uint8_t> data;
    sockaddr_in from{};
    std::chrono::steady_clock::time_point at;  // when it was taken off the socket
};

class UdpPeer {
public:
    // Binds without SO_REUSEADDR: a port already in use is an error.
    static std::unique_ptr<UdpPeer> bind(const std::string& address, uint16_t port /*0 = ephemeral*/,
                                         std::string* error = nullptr);
    uint16_t port() const { return port_; }
    std::string address() const { return address_; }
    int fd() const { return fd_; }
    std::optional<Datagram> receive(std::chrono::milliseconds timeout);
    bool sendTo(const sockaddr_in& to, const void* data, size_t size);
    bool reply(const Datagram& to, const void* data, size_t size);
    ~UdpPeer();

    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;

private:
    UdpPeer() = default;
    int fd_ = -1;
    uint16_t port_ = 0;
    std::string address_;
};

sockaddr_in makeAddress(const std::string& dotted, uint16_t port);

// 127.x.y.1, distinct per process (derived from the pid), so that parallel
// tests using the fixed ports 9779/9780 do not collide.
std::string uniqueLoopbackAddress();

// Dotted text of an address, "a.b.c.d".
std::string dotted(const sockaddr_in& address);

// A bound socket as /proc/net/udp shows it: what waits in its receive queue,
// in the kernel's accounting (several hundred bytes for the smallest
// datagram), and the datagrams dropped for want of room. Nothing if no
// socket is bound there.
struct UdpQueue {
    uint64_t bytes = 0;
    uint64_t drops = 0;
};
std::optional<UdpQueue> udpQueue(const sockaddr_in& bound);

// Bounded: true once the queue of `bound` holds at most `bytes`.
bool waitForUdpQueue(const sockaddr_in& bound, uint64_t bytes, std::chrono::milliseconds timeout);

}  // namespace vxtest
