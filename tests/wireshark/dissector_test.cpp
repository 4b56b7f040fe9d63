// The vx dissector in tshark, on traffic captured live on loopback: a real
// session of the bundled server with both clients, and malformed datagrams.
// Each case captures only UDP to or from its own loopback address.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "capture.h"
#include "process.h"
#include "temp_dir.h"
#include "test_env.h"
#include "udp_peer.h"
#include "xsession.h"

// After gtest: Xlib's macros clash with its names.
#include <X11/keysym.h>

namespace {

using namespace std::chrono_literals;
using vxshark::VxRow;
using vxtest::Process;

constexpr auto kPatience = vxtest::patience(40s, 120s);

// Skips the case where this process may not capture on lo or serve port 80.
#define SKIP_UNLESS_ROOT()                                                                                             \
    if (geteuid() != 0) {                                                                                              \
        GTEST_SKIP() << "capturing on lo and serving port 80 need root";                                               \
    }

// Starts the capture, or skips the case when even root may not capture here.
#define START_CAPTURE(capture, address)                                                                                \
    std::string capture##Error;                                                                                        \
    bool capture##Denied = false;                                                                                      \
    auto capture = vxshark::Capture::start(address, capture##Error, capture##Denied);                                  \
    if (!capture && capture##Denied) {                                                                                 \
        GTEST_SKIP() << "cannot capture on lo: " << capture##Error;                                                    \
    }                                                                                                                  \
    ASSERT_TRUE(capture) << capture##Error

std::string describe(const std::vector<VxRow>& rows) {
    std::string text;
    for (const auto& r : rows) {
        text += r.source + " -> " + r.destination + " " + r.kind;
        if (r.userID) text += " userID=" + std::to_string(*r.userID);
        if (r.x) text += " X=" + std::to_string(*r.x);
        if (r.y) text += " Y=" + std::to_string(*r.y);
        if (!r.expertText.empty()) text += " [" + r.expertText + "]";
        text += "\n";
    }
    return text;
}

// What the server logged and counted, by client address.
struct ServerLog {
    std::map<std::string, std::vector<int32_t>> idsByClient;         // one per registration, in order
    std::map<std::string, std::vector<std::string>> statesByClient;  // "X=.. Y=.. userID=.." as logged
    unsigned registrations = 0, states = 0, ignored = 0;
};

ServerLog parseServerLog(const std::string& out) {
    ServerLog log;
    const std::regex registration(R"(register ([0-9.]+:[0-9]+) \((desktop|handheld)\) -> id (-?[0-9]+))");
    const std::regex state(R"(state id -?[0-9]+ from ([0-9.]+:[0-9]+): (X=-?[0-9]+ Y=-?[0-9]+ userID=-?[0-9]+))");
    const std::regex summary(
        R"(summary: ([0-9]+) registrations, [0-9]+ players, ([0-9]+) state records, ([0-9]+) ignored)");
    std::istringstream lines(out);
    std::string line;
    std::smatch m;
    while (std::getline(lines, line)) {
        if (std::regex_search(line, m, registration)) log.idsByClient[m[1]].push_back(std::stoi(m[3]));
        if (std::regex_search(line, m, state)) log.statesByClient[m[1]].push_back(m[2]);
        if (std::regex_search(line, m, summary)) {
            log.registrations = std::stoul(m[1]);
            log.states = std::stoul(m[2]);
            log.ignored = std::stoul(m[3]);
        }
    }
    return log;
}

// The server logs a player's state only when it changes; the capture has
// every record, so repeats are folded the same way before comparing.
ServerLog foldCapture(const std::vector<VxRow>& rows) {
    ServerLog log;
    for (const auto& r : rows) {
        if (r.kind == "registration") {
            ++log.registrations;
        } else if (r.kind == "ack") {
            log.idsByClient[r.destination].push_back(r.userID.value_or(-1));
        } else if (r.kind == "state") {
            ++log.states;
            const std::string text = "X=" + std::to_string(r.x.value_or(-1)) +
                                     " Y=" + std::to_string(r.y.value_or(-1)) +
                                     " userID=" + std::to_string(r.userID.value_or(-1));
            auto& states = log.statesByClient[r.source];
            if (states.empty() || states.back() != text) states.push_back(text);
        }
    }
    return log;
}

TEST(Dissector, RealSessionListsWhatTheServerLogged) {
    const std::string address = vxtest::uniqueLoopbackAddress();
    SKIP_UNLESS_ROOT();
    vxtest::TempDir dir("vx-wireshark");
    ASSERT_TRUE(dir.ok());
    START_CAPTURE(capture, address);

    // The default ports, as the clients use them: 9779 for the desktop's
    // registration, 80 for the handheld's, 9780 for state records.
    std::string error;
    auto server =
        Process::start({vxtest::binaryPath("vx-server"), "--bind", address}, vxtest::sanitizerEnv(false), &error);
    ASSERT_TRUE(server) << error;
    ASSERT_TRUE(waitForOutput(*server, std::regex("(^|\n)ready\n"), 10s)) << server->outSoFar() << server->errSoFar();

    auto x = vxtest::Xvfb::start(30s, &error);
    ASSERT_TRUE(x) << error;
    auto xc = vxtest::XClient::open(x->display(), &error);
    ASSERT_TRUE(xc) << error;
    auto desktopEnv = x->clientEnv();
    for (auto& entry : vxtest::sanitizerEnv(true)) desktopEnv.push_back(entry);
    auto desktop = Process::start({vxtest::binaryPath("vxPCClient"), address}, desktopEnv, &error);
    ASSERT_TRUE(desktop) << error;

    // The handheld steps right, then down.
    auto handheld =
        Process::start({vxtest::binaryPath("vx-handheld"), "--headless", "--fast", "--frames", "400", "--forward",
                        "80=" + address + ":80", "--hold", "right@300-314", "--hold", "down@330-344"},
                       vxtest::sanitizerEnv(false), &error);
    ASSERT_TRUE(handheld) << error;

    auto window = xc->waitForDrawnWindow(desktop->pid(), "vxPCClient", 512, 512, kPatience, &error);
    ASSERT_NE(window, 0u) << error << "; the desktop client printed: " << desktop->outSoFar() << desktop->errSoFar();
    // Right, Up, Right: the desktop tank ends at X=4 Y=2. The client steps by
    // the keys held when it reads a press, so each is held until its step.
    const std::pair<vxtest::KeySymbol, const char*> steps[] = {
        {XK_Right, "X=2 Y=0 userID="}, {XK_Up, "X=2 Y=2 userID="}, {XK_Right, "X=4 Y=2 userID="}};
    for (const auto& [key, step] : steps) {
        ASSERT_TRUE(xc->keyDown(key));
        ASSERT_TRUE(waitForOutput(*server, std::regex(step), kPatience)) << server->outSoFar();
        ASSERT_TRUE(xc->keyUp(key));
    }
    desktop->terminate(SIGTERM);
    desktop->wait(10s);
    const auto handheldEnd = handheld->wait(kPatience);
    ASSERT_EQ(handheldEnd.exitCode, 0) << handheldEnd.err;

    const std::string file = dir.file("session.pcapng");
    ASSERT_TRUE(capture->finish(file, captureError)) << captureError;
    auto rows = vxshark::readVx(file, {}, error);
    ASSERT_TRUE(rows) << error;
    std::cout << vxshark::summaryListing(file);

    // Each client's last datagram is a change the server logs; once its log
    // has caught up with the capture, it has read everything captured.
    const ServerLog seen = foldCapture(*rows);
    vxtest::waitForOutput(
        *server,
        [&](const std::string& out) {
            const ServerLog sofar = parseServerLog(out);
            return sofar.idsByClient == seen.idsByClient && sofar.statesByClient == seen.statesByClient;
        },
        10s);
    server->terminate(SIGTERM);
    const auto serverEnd = server->wait(10s);
    ASSERT_EQ(serverEnd.exitCode, 0) << serverEnd.err;
    const ServerLog logged = parseServerLog(serverEnd.out);

    ASSERT_EQ(logged.idsByClient.size(), 2u) << serverEnd.out;  // both clients took part
    EXPECT_EQ(logged.statesByClient.size(), 2u) << serverEnd.out;
    EXPECT_EQ(logged.ignored, 0u) << serverEnd.out;
    EXPECT_EQ(seen.registrations, logged.registrations) << describe(*rows) << serverEnd.out;
    EXPECT_EQ(seen.idsByClient, logged.idsByClient) << describe(*rows) << serverEnd.out;
    EXPECT_EQ(seen.states, logged.states) << describe(*rows) << serverEnd.out;
    EXPECT_EQ(seen.statesByClient, logged.statesByClient) << describe(*rows) << serverEnd.out;
    for (const auto& row : *rows) {
        EXPECT_EQ(row.expertText, "") << "well-formed traffic flagged: " << row.source << " -> " << row.destination;
        if (row.kind == "registration") {
            EXPECT_EQ(row.length, 5u);
        }
    }
}

// What a faulty peer might send; each mistake is named and the datagram is
// still dissected as far as it goes.
TEST(Dissector, MalformedDatagramsAreNamedAndStillDissected) {
    const std::string address = vxtest::uniqueLoopbackAddress();
    SKIP_UNLESS_ROOT();
    vxtest::TempDir dir("vx-wireshark");
    ASSERT_TRUE(dir.ok());
    std::string error;
    std::unique_ptr<vxtest::UdpPeer> peers[4];
    const uint16_t ports[4] = {9779, 80, 9780, 9781};
    for (int i = 0; i < 4; ++i) {
        peers[i] = vxtest::UdpPeer::bind(address, ports[i], &error);
        ASSERT_TRUE(peers[i]) << error;
    }
    auto& desktopRegistration = *peers[0];
    auto& handheldRegistration = *peers[1];
    auto client = vxtest::UdpPeer::bind(address, 0, &error);
    ASSERT_TRUE(client) << error;
    START_CAPTURE(capture, address);

    const auto to = [&](uint16_t port) { return vxtest::makeAddress(address, port); };
    const sockaddr_in clientAddress = to(client->port());
    const auto send = [](vxtest::UdpPeer& from, const sockaddr_in& where, const std::string& bytes) {
        ASSERT_TRUE(from.sendTo(where, bytes.data(), bytes.size()));
    };
    const std::string record("\x05\x00\x00\x00\xfe\xff\xff\xff\x07\x00\x00\x00", 12);  // X=5 Y=-2 userID=7
    send(*client, to(9779), "ADDMEE");
    send(*client, to(80), "addme");
    send(*client, to(80), "");
    send(desktopRegistration, clientAddress, std::string("\x34\x12", 2));
    send(handheldRegistration, clientAddress, "");
    send(handheldRegistration, clientAddress, std::string("\x09\x00\x00\x00\xff", 5));  // longer is fine
    send(*client, to(9780), record.substr(0, 11));
    send(*client, to(9780), record + "!");
    send(*client, to(9781), record);
    const std::string file = dir.file("malformed.pcapng");
    ASSERT_TRUE(capture->finish(file, captureError)) << captureError;

    auto rows = vxshark::readVx(file, {}, error);
    ASSERT_TRUE(rows) << error;
    ASSERT_EQ(rows->size(), 8u) << describe(*rows);  // not the one to port 9781
    const auto& r = *rows;
    using Names = std::vector<std::string>;
    const Names notAddme{"vx.registration.not_addme"}, shortAck{"vx.ack.short"}, badSize{"vx.state.bad_size"};
    for (int i : {0, 1, 2}) {
        EXPECT_EQ(r[i].kind, "registration");
        EXPECT_EQ(r[i].experts, notAddme) << describe(r);
    }
    EXPECT_EQ(r[0].length, 6u);
    EXPECT_EQ(r[2].length, 0u);
    // An ACK gives its userID from the first 4 bytes, a short one from the
    // low-order bytes it has, as the clients read it.
    EXPECT_EQ(r[3].kind, "ack");
    EXPECT_EQ(r[3].userID, 0x1234);
    EXPECT_EQ(r[3].length, 2u);
    EXPECT_EQ(r[3].experts, shortAck);
    EXPECT_EQ(r[4].userID, 0);
    EXPECT_EQ(r[4].experts, shortAck);
    EXPECT_EQ(r[5].userID, 9);
    EXPECT_EQ(r[5].length, 5u);
    EXPECT_EQ(r[5].experts, Names{});
    // State records of the wrong size keep the whole fields they hold.
    EXPECT_EQ(r[6].kind, "state");
    EXPECT_EQ(r[6].experts, badSize);
    EXPECT_EQ(r[6].x, 5);
    EXPECT_EQ(r[6].y, -2);
    EXPECT_EQ(r[6].userID, std::nullopt);
    EXPECT_EQ(r[7].experts, badSize);
    EXPECT_EQ(r[7].userID, 7);

    // The ports are a preference: with 9781 as the state port the last
    // datagram is a state record and 9780 carries none.
    rows = vxshark::readVx(file, {"vx.state_ports:9781"}, error);
    ASSERT_TRUE(rows) << error;
    ASSERT_EQ(rows->size(), 7u) << describe(*rows);
    EXPECT_EQ(rows->back().kind, "state");
    EXPECT_EQ(rows->back().destination, address + ":9781");
    EXPECT_EQ(rows->back().x, 5);
    EXPECT_EQ(rows->back().userID, 7);
    EXPECT_EQ(rows->back().experts, Names{});
}

}  // namespace
