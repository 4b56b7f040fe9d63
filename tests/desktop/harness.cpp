#include "harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ostream>
#include <thread>

namespace vxdesk {

FakeServer::FakeServer(const std::string& addr) : address(addr) {
    registration = UdpPeer::bind(address, 9779, &error);
    if (registration) state = UdpPeer::bind(address, 9780, &error);
}

std::string clientPath() { return vxtest::binaryPath("vxPCClient"); }

std::vector<std::string> clientEnv(const vxtest::Xvfb* x, std::vector<std::string> extra) {
    std::vector<std::string> env = vxtest::injectionEnv({"VX_NO_DNS=1"}, x != nullptr);
    if (x) {
        auto xenv = x->clientEnv();
        env.insert(env.end(), xenv.begin(), xenv.end());
    } else {
        // No X display, and no falling back to SDL's text-terminal drivers.
        env.push_back("DISPLAY");
        env.push_back("SDL_VIDEODRIVER=x11");
    }
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

void expectedCentre(int X, int Y, int width, int height, double& px, double& py) {
    const double pi = 3.14159265358979323846;
    double f = 1.0 / std::tan(138.0 / 2.0 * pi / 180.0);
    double aspect = double(width) / double(height ? height : 1);
    double ndcX = f / aspect * (2.0 * X - 256.0) / 100.0;
    double ndcY = f * (2.0 * Y - 256.0) / 100.0;
    px = (ndcX + 1.0) * width / 2.0;
    py = height - (ndcY + 1.0) * height / 2.0;
}

std::unique_ptr<Session> Session::open(const std::vector<uint8_t>& ack, std::string& error,
                                       const std::vector<std::string>& extraEnv, const std::string& ackFromAddress) {
    std::unique_ptr<Session> s(new Session);
    if (!s->server.ok()) {
        error = "fake server: " + s->server.error;
        return nullptr;
    }
    s->x = vxtest::Xvfb::start(kStartTimeout, &error);
    if (!s->x) return nullptr;
    s->xc = vxtest::XClient::open(s->x->display(), &error);
    if (!s->xc) return nullptr;
    s->client = Process::start({clientPath(), s->server.address}, clientEnv(s->x.get(), extraEnv), &error);
    if (!s->client) return nullptr;

    auto addme = s->server.registration->receive(kStartTimeout);
    if (!addme) {
        error = "no registration datagram; client output: " + s->client->outSoFar() + s->client->errSoFar();
        return nullptr;
    }
    if (std::string(addme->data.begin(), addme->data.end()) != "ADDME") {
        error = "registration datagram is not ADDME";
        return nullptr;
    }
    UdpPeer* from = s->server.registration.get();
    if (!ackFromAddress.empty()) {
        s->ackSender = UdpPeer::bind(ackFromAddress, 0, &error);
        if (!s->ackSender) return nullptr;
        from = s->ackSender.get();
    }
    if (!from->reply(*addme, ack.data(), ack.size())) {
        error = "cannot send the ACK";
        return nullptr;
    }
    s->window = s->xc->waitForDrawnWindow(s->client->pid(), "vxPCClient", 512, 512, kStartTimeout, &error);
    if (!s->window) {
        error += "; client output: " + s->client->outSoFar() + s->client->errSoFar();
        return nullptr;
    }
    return s;
}

std::optional<StateRecord> Session::nextState(std::chrono::milliseconds timeout) {
    auto d = server.state->receive(timeout);
    if (!d) return std::nullopt;
    return vxtest::decodeState(d->data);
}

std::optional<StateRecord> Session::press(vxtest::KeySymbol sym, std::chrono::milliseconds timeout) {
    xc->keyDown(sym);
    auto r = nextState(timeout);
    xc->keyUp(sym);
    // A release followed within a couple of milliseconds by a press of the
    // same key reads as auto-repeat to SDL; keep the presses apart.
    std::this_thread::sleep_for(5ms);
    return r;
}

bool Session::pressSendsNothing(vxtest::KeySymbol sym) {
    xc->holdKey(sym, 100ms);
    return !server.state->receive(300ms);
}

std::optional<StateRecord> Session::pressTimes(vxtest::KeySymbol sym, int n, std::string& error) {
    std::optional<StateRecord> last;
    for (int i = 0; i < n; ++i) {
        last = press(sym);
        if (!last) {
            error = "press " + std::to_string(i + 1) + " of " + std::to_string(n) + " sent no state record";
            return std::nullopt;
        }
    }
    return last;
}

Image Session::screenshotUntil(const std::function<bool(const Image&)>& good, std::chrono::milliseconds timeout) {
    Image img;
    xc->waitForPicture(window, timeout, good, img);
    return img;
}

Session::~Session() {
    if (client) {
        client->terminate(SIGKILL);
        client->wait(kExitTimeout);
    }
    xc.reset();
    if (x) x->stop();
}

std::unique_ptr<Session> openSession(int32_t userID, const std::vector<std::string>& env) {
    std::string error;
    auto s = Session::open(vxtest::encodeId(userID), error, env);
    EXPECT_TRUE(s) << error;
    return s;
}

}  // namespace vxdesk
