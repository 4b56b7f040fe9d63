#include "loopback_peer.h"

#include <sys/socket.h>

#include "udp_peer.h"

namespace vxtest {

ReplyPolicy echo(int count, std::vector<uint8_t> after) {
    return [count, after = std::move(after), echoed = 0](const std::vector<uint8_t>& caught) mutable {
        std::vector<std::vector<uint8_t>> out;
        if (echoed >= count) return out;
        out.push_back(caught);
        if (++echoed == count && !after.empty()) out.push_back(after);
        return out;
    };
}

ReplyPolicy answer(std::vector<uint8_t> request, std::vector<uint8_t> reply, int count) {
    return [request = std::move(request), reply = std::move(reply), count,
            answered = 0](const std::vector<uint8_t>& caught) mutable {
        std::vector<std::vector<uint8_t>> out;
        if (caught == request && answered < count) {
            ++answered;
            out.push_back(reply);
        }
        return out;
    };
}

struct LoopbackPeer::Sockets {
    std::unique_ptr<UdpPeer> listen;
    std::unique_ptr<UdpPeer> reply;
};

std::unique_ptr<LoopbackPeer> LoopbackPeer::start(PeerOptions options, std::string& error) {
    std::unique_ptr<LoopbackPeer> p(new LoopbackPeer);
    p->options_ = std::move(options);
    p->sockets_ = std::make_unique<Sockets>();
    p->sockets_->listen = UdpPeer::bind(p->options_.address, p->options_.port, &error);
    if (!p->sockets_->listen) return nullptr;
    // Room for a long burst of state records.
    int room = 1 << 20;
    setsockopt(p->sockets_->listen->fd(), SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
    if (!p->options_.replyAddress.empty()) {
        p->sockets_->reply = UdpPeer::bind(p->options_.replyAddress, 0, &error);
        if (!p->sockets_->reply) return nullptr;
    }
    LoopbackPeer* raw = p.get();
    p->thread_ = std::thread([raw] { raw->run(); });
    return p;
}

LoopbackPeer::~LoopbackPeer() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    if (thread_.joinable()) thread_.join();
}

uint16_t LoopbackPeer::port() const { return sockets_->listen->port(); }

uint16_t LoopbackPeer::replyPort() const { return sockets_->reply ? sockets_->reply->port() : port(); }

std::vector<PeerDatagram> LoopbackPeer::received() {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

bool LoopbackPeer::waitFor(size_t count, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (received_.size() >= count) return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

void LoopbackPeer::run() {
    UdpPeer& in = *sockets_->listen;
    UdpPeer& out = sockets_->reply ? *sockets_->reply : in;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stop_) return;
        }
        auto d = in.receive(std::chrono::milliseconds(20));
        if (!d) continue;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            received_.push_back(PeerDatagram{d->data, dotted(d->from), ntohs(d->from.sin_port), d->at});
        }
        if (!options_.reply) continue;
        auto replies = options_.reply(d->data);
        if (!replies.empty() && options_.replyDelay.count() > 0) std::this_thread::sleep_for(options_.replyDelay);
        for (const auto& r : replies) out.sendTo(d->from, r.data(), r.size());
    }
}

}  // namespace vxtest
