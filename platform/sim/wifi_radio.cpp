// The simulated radio on real host UDP sockets.
#include "wifi_radio.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <string>

#include "hw.h"
#include "wifi_shared.h"

namespace vxsim::wifiradio {
namespace {

constexpr uint32_t kIrqWifi = 1u << 24;
// The chip looks at the air about once a millisecond of virtual time.
constexpr uint64_t kPollCycles = kBusHz / 1000;
// What the chip buffers before the co-processor collects it; beyond that
// datagrams are lost, as on a real receiver.
constexpr size_t kMaxQueued = 256;
constexpr int kMaxReadsPerPoll = 64;

struct Radio {
    std::map<int, int> fds;  // handheld socket -> host descriptor
    std::deque<Datagram> received;
    std::deque<uint32_t> timers;
    uint64_t generation = 0;  // bumped by reset(); older pollers and timers fall silent
};

Radio& radio() {
    static Radio instance;
    return instance;
}

std::string dotted(uint32_t addressNet, uint16_t portNet) {
    char text[INET_ADDRSTRLEN] = {};
    in_addr a{};
    a.s_addr = addressNet;
    inet_ntop(AF_INET, &a, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(portNet));
}

void pollHost() {
    Radio& r = radio();
    if (r.fds.empty()) {
        return;
    }
    static uint8_t buffer[65536];
    for (auto& [socket, fd] : r.fds) {
        for (int reads = 0; reads < kMaxReadsPerPoll; ++reads) {
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            ssize_t n = ::recvfrom(fd, buffer, sizeof buffer, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from),
                                   &fromLength);
            if (n < 0) {
                break;  // EAGAIN, or an error report (e.g. ICMP unreachable) that carries no datagram
            }
            Datagram d;
            d.socket = socket;
            d.address = from.sin_addr.s_addr;
            d.port = from.sin_port;
            // A forwarded server answers as the port the handheld addressed.
            for (const PortForward& f : hw::config().forwards) {
                if (ntohl(from.sin_addr.s_addr) == f.hostAddress && ntohs(from.sin_port) == f.hostPort) {
                    d.port = htons(f.port);
                    break;
                }
            }
            std::string what = dotted(d.address, d.port) + " " + std::to_string(n) + " bytes";
            if (n > wifi::kMaxDatagram) {
                hw::traceFor(Cpu::Co, "net-drop", what + " (larger than one frame)");
                continue;
            }
            if (r.received.size() >= kMaxQueued) {
                hw::traceFor(Cpu::Co, "net-drop", what + " (receive queue full)");
                continue;
            }
            d.data.assign(buffer, buffer + n);
            r.received.push_back(std::move(d));
            hw::traceFor(Cpu::Co, "net-recv", what);
            hw::requestIrq(Cpu::Co, kIrqWifi);
        }
    }
}

int openHostSocket(int socket) {
    Radio& r = radio();
    auto it = r.fds.find(socket);
    if (it != r.fds.end()) {
        return it->second;
    }
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        hw::traceFor(Cpu::Co, "net-error", std::string("host socket: ") + std::strerror(errno));
        return -1;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        hw::traceFor(Cpu::Co, "net-error", std::string("host bind: ") + std::strerror(errno));
        ::close(fd);
        return -1;
    }
    socklen_t length = sizeof local;
    getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
    hw::traceFor(Cpu::Co, "net-open",
                 "socket " + std::to_string(socket) + " on host port " + std::to_string(ntohs(local.sin_port)));
    r.fds[socket] = fd;
    return fd;
}

}  // namespace

void reset() {
    Radio& r = radio();
    for (auto& [socket, fd] : r.fds) {
        ::close(fd);
    }
    r.fds.clear();
    r.received.clear();
    r.timers.clear();
    uint64_t generation = ++r.generation;
    hw::addPoller(kPollCycles, [generation] {
        if (radio().generation == generation) {
            pollHost();
        }
    });
}

bool transmit(int socket, uint32_t address, uint16_t port, const uint8_t* data, size_t length) {
    std::string what = dotted(address, port) + " " + std::to_string(length) + " bytes";
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = address;
    to.sin_port = port;
    for (const PortForward& f : hw::config().forwards) {
        if (f.port == ntohs(port)) {
            to.sin_addr.s_addr = htonl(f.hostAddress);
            to.sin_port = htons(f.hostPort);
            what += " (to " + dotted(to.sin_addr.s_addr, to.sin_port) + ")";
            break;
        }
    }
    int fd = openHostSocket(socket);
    if (fd < 0) {
        hw::traceFor(Cpu::Co, "net-error", what + " not sent: no host socket");
        return false;
    }
    ssize_t sent = ::sendto(fd, data, length, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&to), sizeof to);
    if (sent != static_cast<ssize_t>(length)) {
        hw::traceFor(Cpu::Co, "net-error", what + " not sent: " + std::strerror(errno));
        return false;
    }
    hw::traceFor(Cpu::Co, "net-send", what);
    return true;
}

void close(int socket) {
    Radio& r = radio();
    auto it = r.fds.find(socket);
    if (it == r.fds.end()) {
        return;
    }
    ::close(it->second);
    r.fds.erase(it);
    // What had arrived for it is gone with it.
    for (auto d = r.received.begin(); d != r.received.end();) {
        d = d->socket == socket ? r.received.erase(d) : d + 1;
    }
}

int hostFd(int socket) {
    auto it = radio().fds.find(socket);
    return it == radio().fds.end() ? -1 : it->second;
}

bool takeDatagram(Datagram& out) {
    Radio& r = radio();
    if (r.received.empty()) {
        return false;
    }
    out = std::move(r.received.front());
    r.received.pop_front();
    return true;
}

void returnDatagram(Datagram&& datagram) {
    radio().received.push_front(std::move(datagram));
}

void startTimer(uint64_t delayCycles, uint32_t tag) {
    uint64_t generation = radio().generation;
    hw::schedule(hw::now() + delayCycles, [tag, generation] {
        if (radio().generation != generation) {
            return;
        }
        radio().timers.push_back(tag);
        hw::requestIrq(Cpu::Co, kIrqWifi);
    });
}

bool takeTimer(uint32_t& tag) {
    Radio& r = radio();
    if (r.timers.empty()) {
        return false;
    }
    tag = r.timers.front();
    r.timers.pop_front();
    return true;
}

}  // namespace vxsim::wifiradio
