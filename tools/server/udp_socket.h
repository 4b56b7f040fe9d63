// The server's UDP sockets and how it reads them, shared with the benchmark
// so that its bare receive loop measures the very same set-up.
#ifndef VX_SERVER_UDP_SOCKET_H
#define VX_SERVER_UDP_SOCKET_H

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace vxserver {

// A non-blocking IPv4 datagram socket bound to `address`:`port` (0 = any free
// port), with as large a receive buffer as the system allows. Returns -1 on
// failure, with the call that failed ("socket" or "bind") and why.
int openUdpSocket(in_addr address, uint16_t port, const char*& failedCall, std::string& error);

// Up to kCount datagrams per system call. Only the first kBytes of each are
// kept, which is all the protocol needs; size() still gives the real length.
class ReceiveBatch {
public:
    static constexpr int kCount = 64;
    static constexpr size_t kBytes = 64;

    ReceiveBatch();
    ReceiveBatch(const ReceiveBatch&) = delete;
    ReceiveBatch& operator=(const ReceiveBatch&) = delete;

    // Takes what is waiting on `fd` without blocking: the number of datagrams
    // (0 when none), or -1 with errno set on an error other than "none waiting".
    int receive(int fd);

    const unsigned char* data(int i) const { return data_[i]; }
    size_t size(int i) const { return messages_[i].msg_len; }
    const sockaddr_in& from(int i) const { return from_[i]; }

private:
    unsigned char data_[kCount][kBytes];
    sockaddr_in from_[kCount];
    iovec parts_[kCount];
    mmsghdr messages_[kCount];
};

}  // namespace vxserver

#endif
