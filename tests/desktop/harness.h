// Drives the real vxPCClient: a loopback stand-in for the game server, a
// private X server, keys through XTest and screenshots of the window.
#pragma once

#include <X11/keysym.h>

#include <array>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "process.h"
#include "state_records.h"
#include "test_env.h"
#include "udp_peer.h"
#include "xsession.h"

namespace vxdesk {

using namespace std::chrono_literals;
using vxtest::Datagram;
using vxtest::Image;
using vxtest::Lit;
using vxtest::litPixels;
using vxtest::Process;
using vxtest::UdpPeer;

constexpr auto kStartTimeout = 30s;  // llvmpipe under the sanitizers is slow to start
constexpr auto kExitTimeout = 15s;
constexpr auto kPacketTimeout = 5s;

// A state record as the client sends it.
using StateRecord = vxProtocol;

// The game server's two ports on one loopback address.
struct FakeServer {
    explicit FakeServer(const std::string& address = vxtest::uniqueLoopbackAddress());
    std::string address, error;
    std::unique_ptr<UdpPeer> registration, state;
    bool ok() const { return registration && state; }
};

std::string clientPath();
// Environment for a client run: the display (if any), the software renderer
// and no DNS query ever leaving the host.
std::vector<std::string> clientEnv(const vxtest::Xvfb* x, std::vector<std::string> extra = {});

// Where the cross's centre lands, in window pixels from the top-left, for a
// tank at (X, Y) in a window of the given size: 138 degree field of view,
// aspect width/height, the tank 100 units away.
void expectedCentre(int X, int Y, int width, int height, double& px, double& py);

// A registered client with its window open and focused.
class Session {
public:
    // Starts Xvfb and the client, answers "ADDME" with `ack` and waits for the window.
    static std::unique_ptr<Session> open(const std::vector<uint8_t>& ack, std::string& error,
                                         const std::vector<std::string>& extraEnv = {},
                                         const std::string& ackFromAddress = {});

    // Holds the key until the client's state datagram arrives (or the timeout),
    // then releases it.
    std::optional<StateRecord> press(vxtest::KeySymbol sym, std::chrono::milliseconds timeout = kPacketTimeout);
    // Holds the key a few frames; true when no datagram at all arrives.
    bool pressSendsNothing(vxtest::KeySymbol sym);
    // Presses `sym` n times, expecting one datagram each; returns the last.
    std::optional<StateRecord> pressTimes(vxtest::KeySymbol sym, int n, std::string& error);
    std::optional<StateRecord> nextState(std::chrono::milliseconds timeout = kPacketTimeout);

    // Waits until the client's standard output is exactly `text`.
    bool waitForOutput(const std::string& text, std::chrono::milliseconds timeout = kPacketTimeout) {
        return vxtest::waitForOutput(*client, vxtest::exactly(text), timeout);
    }

    // Screenshots until `good` accepts one or the timeout passes; returns the last.
    Image screenshotUntil(const std::function<bool(const Image&)>& good, std::chrono::milliseconds timeout = 10s);

    vxtest::ProcessResult waitExit(std::chrono::milliseconds timeout = kExitTimeout) { return client->wait(timeout); }

    FakeServer server;
    std::unique_ptr<vxtest::Xvfb> x;
    std::unique_ptr<vxtest::XClient> xc;
    std::unique_ptr<Process> client;
    vxtest::XWindowId window = 0;
    std::unique_ptr<UdpPeer> ackSender;  // set when the ACK came from another address

    ~Session();

private:
    Session() = default;
};

// Session::open with `userID` in the ACK; a failure to open fails the test.
std::unique_ptr<Session> openSession(int32_t userID, const std::vector<std::string>& env = {});

}  // namespace vxdesk
