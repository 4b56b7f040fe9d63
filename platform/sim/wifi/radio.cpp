// The simulated radio on real host UDP sockets.
#include "radio.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "hw.h"
#include "shared_block.h"

namespace vxsim::wifi {
namespace {

constexpr uint32_t kIrqWifi = 1u << 24;
// The chip looks at the air about once a millisecond of virtual time.
constexpr uint64_t kPollCycles = kBusHz / 1000;
// What the chip buffers before the co-processor collects it; beyond that
// datagrams are lost, as on a real receiver.
constexpr size_t kMaxQueued = 256;
constexpr int kMaxReadsPerPoll = 64;

std::string dotted(uint32_t addressNet, uint16_t portNet) {
    char text[INET_ADDRSTRLEN] = {};
    in_addr a{};
    a.s_addr = addressNet;
    inet_ntop(AF_INET, &a, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(portNet));
}

}  // namespace

Radio::~Radio() { closeAll(); }

void Radio::closeAll() {
    for (auto& [socket, fd] : fds_) {
        ::close(fd);
    }
    fds_.clear();
}

void Radio::pollHost() {
    for (auto& [socket, fd] : fds_) {
        for (int reads = 0; reads < kMaxReadsPerPoll; ++reads) {
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            ssize_t n = ::recvfrom(fd, buffer_.data(), buffer_.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from),
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
            if (n > kMaxDatagram) {
                hw::traceFor(Cpu::Co, TraceKind::NetDrop, what + " (larger than one frame)");
                continue;
            }
            if (received_.size() >= kMaxQueued) {
                hw::traceFor(Cpu::Co, TraceKind::NetDrop, what + " (receive queue full)");
                continue;
            }
            d.data.assign(buffer_.begin(), buffer_.begin() + n);
            received_.push_back(std::move(d));
            hw::traceFor(Cpu::Co, TraceKind::NetRecv, what);
            hw::requestIrq(Cpu::Co, kIrqWifi);
        }
    }
}

int Radio::openHostSocket(int socket) {
    auto it = fds_.find(socket);
    if (it != fds_.end()) {
        return it->second;
    }
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        hw::traceFor(Cpu::Co, TraceKind::NetError, std::string("host socket: ") + std::strerror(errno));
        return -1;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        hw::traceFor(Cpu::Co, TraceKind::NetError, std::string("host bind: ") + std::strerror(errno));
        ::close(fd);
        return -1;
    }
    socklen_t length = sizeof local;
    getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
    hw::traceFor(Cpu::Co, TraceKind::NetOpen,
                 "socket " + std::to_string(socket) + " on host port " + std::to_string(ntohs(local.sin_port)));
    fds_[socket] = fd;
    return fd;
}

void Radio::reset() {
    closeAll();
    received_.clear();
    timers_.clear();
    for (auto& [key, id] : timerEvents_) {
        hw::cancel(id);
    }
    timerEvents_.clear();
    poller_ = hw::every(hw::now() + kPollCycles, kPollCycles, [this] { pollHost(); });
    hw::setHostWait([this](std::chrono::steady_clock::time_point deadline) { waitForHost(deadline); });
}

// Until the deadline, or until one of the host sockets has something to read.
void Radio::waitForHost(std::chrono::steady_clock::time_point deadline) {
    using namespace std::chrono;
    std::vector<pollfd> fds;
    for (auto& [socket, fd] : fds_) {
        fds.push_back(pollfd{fd, POLLIN, 0});
    }
    auto left = duration_cast<nanoseconds>(deadline - steady_clock::now()).count();
    if (left <= 0) {
        return;
    }
    timespec ts{static_cast<time_t>(left / 1000000000), static_cast<long>(left % 1000000000)};
    ppoll(fds.data(), fds.size(), &ts, nullptr);
}

bool Radio::transmit(int socket, uint32_t address, uint16_t port, const uint8_t* data, size_t length) {
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
        hw::traceFor(Cpu::Co, TraceKind::NetError, what + " not sent: no host socket");
        return false;
    }
    ssize_t sent = ::sendto(fd, data, length, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&to), sizeof to);
    if (sent != static_cast<ssize_t>(length)) {
        hw::traceFor(Cpu::Co, TraceKind::NetError, what + " not sent: " + std::strerror(errno));
        return false;
    }
    hw::traceFor(Cpu::Co, TraceKind::NetSend, what);
    return true;
}

void Radio::close(int socket) {
    auto it = fds_.find(socket);
    if (it == fds_.end()) {
        return;
    }
    ::close(it->second);
    fds_.erase(it);
    // What had arrived for it is gone with it.
    for (auto d = received_.begin(); d != received_.end();) {
        d = d->socket == socket ? received_.erase(d) : d + 1;
    }
}

bool Radio::takeDatagram(Datagram& out) {
    if (received_.empty()) {
        return false;
    }
    out = std::move(received_.front());
    received_.pop_front();
    return true;
}

void Radio::startTimer(uint64_t delayCycles, uint32_t tag) {
    uint64_t key = nextTimer_++;
    timerEvents_[key] = hw::schedule(hw::now() + delayCycles, [this, key, tag] {
        timerEvents_.erase(key);
        timers_.push_back(tag);
        hw::requestIrq(Cpu::Co, kIrqWifi);
    });
}

bool Radio::takeTimer(uint32_t& tag) {
    if (timers_.empty()) {
        return false;
    }
    tag = timers_.front();
    timers_.pop_front();
    return true;
}

}  // namespace vxsim::wifi
