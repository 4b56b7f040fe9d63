// Loopback stand-ins for the game server, each on a host thread of its own so
// that it answers while the simulated handheld runs. This header names no
// socket type: the test TUs that use it may also see the handheld's headers.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace hhtest {

struct Caught {
    std::vector<uint8_t> data;
    std::string fromAddress;
    uint16_t fromPort = 0;
    std::chrono::steady_clock::time_point at;
};

struct PeerOptions {
    std::string address = "127.0.0.1";
    uint16_t port = 0;  // 0: ephemeral
    // How many "ADDME" datagrams are answered, with `ack` as the payload.
    int acks = 0;
    std::vector<uint8_t> ack;
    // Answers go out from a socket of their own on this address (empty: from
    // the listening socket).
    std::string ackFromAddress;
};

class Peer {
public:
    // Null with a reason in `error` when a socket cannot be bound.
    static std::unique_ptr<Peer> start(const PeerOptions& options, std::string& error);
    ~Peer();
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    uint16_t port() const;
    uint16_t ackPort() const;  // where answers come from
    std::vector<Caught> caught();
    // Waits (wall clock) until at least `count` datagrams have arrived.
    bool waitFor(size_t count, std::chrono::milliseconds timeout);

private:
    Peer() = default;
    void run();
    struct Sockets;
    PeerOptions options_;
    std::unique_ptr<Sockets> sockets_;
    std::mutex mutex_;
    std::vector<Caught> caught_;
    bool stop_ = false;
    std::thread thread_;
};

// Little-endian bytes of an identifier, as the handheld expects them.
std::vector<uint8_t> idBytes(int32_t id);

struct State {
    int32_t X = 0, Y = 0, userID = 0;
    bool operator==(const State&) const = default;
};
std::ostream& operator<<(std::ostream& os, const State& s);
// The state records among `caught`, in arrival order; every datagram must be
// exactly 12 bytes, else `bad` counts it.
std::vector<State> states(const std::vector<Caught>& caught, int* bad = nullptr);

}  // namespace hhtest
