#include "udp_socket.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vxserver {

namespace {
// The kernel caps the request at net.core.rmem_max; a flood then waits in the
// buffer instead of being dropped while the server is not scheduled.
constexpr int kWantedReceiveBuffer = 4 << 20;
}  // namespace

int openUdpSocket(in_addr address, uint16_t port, const char*& failedCall, std::string& error) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        failedCall = "socket";
        error = std::strerror(errno);
        return -1;
    }
    int wanted = kWantedReceiveBuffer;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &wanted, sizeof wanted);  // best effort
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr = address;
    at.sin_port = htons(port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
        failedCall = "bind";
        error = std::strerror(errno);
        close(fd);
        return -1;
    }
    return fd;
}

ReceiveBatch::ReceiveBatch() {
    std::memset(messages_, 0, sizeof messages_);
    for (int i = 0; i < kCount; ++i) {
        parts_[i] = {data_[i], kBytes};
        messages_[i].msg_hdr.msg_iov = &parts_[i];
        messages_[i].msg_hdr.msg_iovlen = 1;
        messages_[i].msg_hdr.msg_name = &from_[i];
    }
}

int ReceiveBatch::receive(int fd) {
    for (auto& m : messages_) m.msg_hdr.msg_namelen = sizeof(sockaddr_in);
    // MSG_TRUNC: the length reported is the datagram's, not what was kept.
    int n = recvmmsg(fd, messages_, kCount, MSG_DONTWAIT | MSG_TRUNC, nullptr);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return 0;
    return n;
}

}  // namespace vxserver
