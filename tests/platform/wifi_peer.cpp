#include "wifi_peer.h"

#include <chrono>

#include "udp_peer.h"

namespace wifitest {

struct LoopbackPeer::Sockets {
    std::unique_ptr<vxtest::UdpPeer> listen;
    std::unique_ptr<vxtest::UdpPeer> reply;
};

LoopbackPeer::LoopbackPeer(PeerOptions options) : options_(std::move(options)), sockets_(new Sockets) {
    sockets_->listen = vxtest::UdpPeer::bind(options_.listenAddress, 0, &error_);
    if (sockets_->listen && !options_.replyAddress.empty()) {
        sockets_->reply = vxtest::UdpPeer::bind(options_.replyAddress, 0, &error_);
    }
    ok_ = sockets_->listen && (options_.replyAddress.empty() || sockets_->reply);
    if (ok_) {
        thread_ = std::thread([this] { run(); });
    }
}

LoopbackPeer::~LoopbackPeer() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    if (thread_.joinable()) {
        thread_.join();
    }
}

uint16_t LoopbackPeer::port() const { return sockets_->listen ? sockets_->listen->port() : 0; }

uint16_t LoopbackPeer::replyPort() const {
    return sockets_->reply ? sockets_->reply->port() : port();
}

std::vector<PeerDatagram> LoopbackPeer::received() {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

void LoopbackPeer::run() {
    vxtest::UdpPeer& in = *sockets_->listen;
    vxtest::UdpPeer& out = sockets_->reply ? *sockets_->reply : in;
    int echoed = 0;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stop_) {
                return;
            }
        }
        auto d = in.receive(std::chrono::milliseconds(50));
        if (!d) {
            continue;
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            received_.push_back(PeerDatagram{d->data, vxtest::dotted(d->from), ntohs(d->from.sin_port)});
        }
        if (!options_.echo || echoed >= options_.echoes) {
            continue;
        }
        if (options_.delayMs > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(options_.delayMs));
        }
        out.sendTo(d->from, d->data.data(), d->data.size());
        if (++echoed == options_.echoes && !options_.afterEchoes.empty()) {
            out.sendTo(d->from, options_.afterEchoes.data(), options_.afterEchoes.size());
        }
    }
}

}  // namespace wifitest
