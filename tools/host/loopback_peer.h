// A UDP peer on loopback with a thread of its own, so that it answers while
// a simulated handheld runs: it keeps every datagram it catches and answers
// as its reply policy says. This header names no socket type, so test code
// that sees the handheld's own headers can use it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vxtest {

struct PeerDatagram {
    std::vector<uint8_t> data;
    std::string fromAddress;
    uint16_t fromPort = 0;
    std::chrono::steady_clock::time_point at;  // when it was taken off the socket
};

// The datagrams to send back for one caught datagram (none: no answer).
// Called on the peer's thread, for each datagram in turn.
using ReplyPolicy = std::function<std::vector<std::vector<uint8_t>>(const std::vector<uint8_t>& caught)>;

// The first `count` datagrams come back as they were; `after` follows the last.
ReplyPolicy echo(int count, std::vector<uint8_t> after = {});
// The first `count` datagrams that are exactly `request` get `reply`.
ReplyPolicy answer(std::vector<uint8_t> request, std::vector<uint8_t> reply, int count);

struct PeerOptions {
    std::string address = "127.0.0.1";
    uint16_t port = 0;  // 0: ephemeral
    // Replies go out from a socket of their own on this address (empty: from
    // the listening socket).
    std::string replyAddress;
    std::chrono::milliseconds replyDelay{0};  // wall-clock pause before each reply
    ReplyPolicy reply;                        // null: never answers
};

class LoopbackPeer {
public:
    // Null with a reason in `error` when a socket cannot be bound.
    static std::unique_ptr<LoopbackPeer> start(PeerOptions options, std::string& error);
    ~LoopbackPeer();
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    uint16_t port() const;       // where it listens
    uint16_t replyPort() const;  // where its replies come from
    std::vector<PeerDatagram> received();
    // Waits (wall clock) until at least `count` datagrams have arrived.
    bool waitFor(size_t count, std::chrono::milliseconds timeout);

private:
    LoopbackPeer() = default;
    void run();
    struct Sockets;
    PeerOptions options_;
    std::unique_ptr<Sockets> sockets_;
    std::mutex mutex_;
    std::vector<PeerDatagram> received_;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace vxtest
