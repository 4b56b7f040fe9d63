// A loopback UDP peer for the wireless tests, on a host thread of its own so
// that it answers while the simulated handheld runs. Kept apart from the
// handheld's socket layer: this header names no socket type.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace wifitest {

struct PeerDatagram {
    std::vector<uint8_t> data;
    std::string fromAddress;
    uint16_t fromPort = 0;
};

struct PeerOptions {
    std::string listenAddress = "127.0.0.1";
    // Replies go out from a second socket on this address (empty: from the
    // listening socket itself).
    std::string replyAddress;
    bool echo = true;
    int delayMs = 0;                    // wall-clock pause before each reply
    int echoes = 4;                     // how many datagrams are echoed
    std::vector<uint8_t> afterEchoes;   // one more datagram after the last echo
};

class LoopbackPeer {
public:
    explicit LoopbackPeer(PeerOptions options);
    ~LoopbackPeer();
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }
    uint16_t port() const;       // where it listens
    uint16_t replyPort() const;  // where its replies come from
    std::vector<PeerDatagram> received();

private:
    void run();
    struct Sockets;
    PeerOptions options_;
    std::unique_ptr<Sockets> sockets_;
    bool ok_ = false;
    std::string error_;
    std::mutex mutex_;
    std::vector<PeerDatagram> received_;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace wifitest
