#include "peer.h"

#include <sys/socket.h>

#include <cstring>

#include "udp_peer.h"

namespace hhtest {

struct Peer::Sockets {
    std::unique_ptr<vxtest::UdpPeer> listen;
    std::unique_ptr<vxtest::UdpPeer> answer;
};

std::unique_ptr<Peer> Peer::start(const PeerOptions& options, std::string& error) {
    std::unique_ptr<Peer> p(new Peer);
    p->options_ = options;
    p->sockets_ = std::make_unique<Sockets>();
    p->sockets_->listen = vxtest::UdpPeer::bind(options.address, options.port, &error);
    if (!p->sockets_->listen) return nullptr;
    // Room for a long burst of state records.
    int room = 1 << 20;
    setsockopt(p->sockets_->listen->fd(), SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
    if (!options.ackFromAddress.empty()) {
        p->sockets_->answer = vxtest::UdpPeer::bind(options.ackFromAddress, 0, &error);
        if (!p->sockets_->answer) return nullptr;
    }
    Peer* raw = p.get();
    p->thread_ = std::thread([raw] { raw->run(); });
    return p;
}

Peer::~Peer() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    if (thread_.joinable()) thread_.join();
}

uint16_t Peer::port() const { return sockets_->listen->port(); }

uint16_t Peer::ackPort() const { return sockets_->answer ? sockets_->answer->port() : port(); }

std::vector<Caught> Peer::caught() {
    std::lock_guard<std::mutex> lock(mutex_);
    return caught_;
}

bool Peer::waitFor(size_t count, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (caught_.size() >= count) return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

void Peer::run() {
    vxtest::UdpPeer& in = *sockets_->listen;
    vxtest::UdpPeer& out = sockets_->answer ? *sockets_->answer : in;
    int answered = 0;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stop_) return;
        }
        auto d = in.receive(std::chrono::milliseconds(20));
        if (!d) continue;
        static const uint8_t kAddme[5] = {'A', 'D', 'D', 'M', 'E'};
        bool addme = d->data.size() == 5 && std::memcmp(d->data.data(), kAddme, 5) == 0;
        if (addme && answered < options_.acks) {
            ++answered;
            out.sendTo(d->from, options_.ack.data(), options_.ack.size());
        }
        Caught c{d->data, vxtest::dotted(d->from), ntohs(d->from.sin_port), d->at};
        std::lock_guard<std::mutex> lock(mutex_);
        caught_.push_back(std::move(c));
    }
}

std::vector<uint8_t> idBytes(int32_t id) {
    uint32_t v = static_cast<uint32_t>(id);
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

std::ostream& operator<<(std::ostream& os, const State& s) {
    return os << "{X=" << s.X << ", Y=" << s.Y << ", userID=" << s.userID << "}";
}

std::vector<State> states(const std::vector<Caught>& caught, int* bad) {
    std::vector<State> out;
    int wrong = 0;
    for (const Caught& c : caught) {
        if (c.data.size() != 12) {
            ++wrong;
            continue;
        }
        int32_t v[3];
        for (int i = 0; i < 3; ++i) {
            const uint8_t* p = c.data.data() + 4 * i;
            v[i] = static_cast<int32_t>(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                                        uint32_t(p[3]) << 24);
        }
        out.push_back(State{v[0], v[1], v[2]});
    }
    if (bad) *bad = wrong;
    return out;
}

}  // namespace hhtest
