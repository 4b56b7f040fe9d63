// vx-server as the clients and the play script meet it: the real binary on
// loopback, spoken to by UDP peers, judged by its replies, lines and exit.
#include "server_harness.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace servertest;
using vxtest::encodeId;
using vxtest::encodeState;
using vxtest::UdpPeer;

namespace {

constexpr auto kSilence = 200ms;  // how long "no answer" is watched for

// Once the server has answered a later ADDME from the same peer, it has read
// everything that peer sent before it on that port; on other ports it may not
// have, so tests that need an order wait for the line instead.

}  // namespace

TEST(ServerRegistration, IdsCountFromFirstIdLittleEndianFromTheRequestedPort) {
    // 0x01020304: every byte differs, so a byte-order slip shows.
    RunningServer server({"--first-id", "16909060"});
    ASSERT_TRUE(server.ready()) << server.out();
    auto desktop = clientPeer();
    auto handheld = clientPeer();

    auto first = server.registerFrom(*desktop, "desktop");
    ASSERT_TRUE(first);
    EXPECT_EQ(first->data, (std::vector<uint8_t>{4, 3, 2, 1}));
    EXPECT_EQ(endpoint(first->from), endpoint(server.at("desktop")));

    auto second = server.registerFrom(*handheld, "handheld");
    ASSERT_TRUE(second);
    EXPECT_EQ(second->data, (std::vector<uint8_t>{5, 3, 2, 1}));
    EXPECT_EQ(endpoint(second->from), endpoint(server.at("handheld")));

    const std::string desktopAt = "127.0.0.1:" + std::to_string(desktop->port());
    const std::string handheldAt = "127.0.0.1:" + std::to_string(handheld->port());
    EXPECT_TRUE(server.waitFor("register " + desktopAt + " (desktop) -> id 16909060\n")) << server.out();
    EXPECT_TRUE(server.waitFor("register " + handheldAt + " (handheld) -> id 16909061\n")) << server.out();
}

TEST(ServerRegistration, RepeatedAddmeFromOneSourceKeepsItsId) {
    // The handheld re-registers on every press of A and never reads that
    // answer; its state records keep the first id, so the id must not move.
    RunningServer server({"--first-id", "7"});
    ASSERT_TRUE(server.ready()) << server.out();
    auto handheld = clientPeer();
    auto other = clientPeer();

    for (int press = 0; press < 3; ++press) {
        auto ack = server.registerFrom(*handheld, "handheld");
        ASSERT_TRUE(ack);
        EXPECT_EQ(ack->data, encodeId(7));
    }
    auto otherAck = server.registerFrom(*other, "desktop");
    ASSERT_TRUE(otherAck);
    EXPECT_EQ(otherAck->data, encodeId(8));

    const std::string at = "127.0.0.1:" + std::to_string(handheld->port());
    ASSERT_TRUE(server.waitFor("(desktop) -> id 8\n")) << server.out();
    std::string out = server.out();
    EXPECT_EQ(countExact(out, "register " + at + " (handheld) -> id 7"), 1) << out;
    EXPECT_EQ(countExact(out, "register " + at + " (handheld) -> id 7 (again)"), 2) << out;

    auto result = server.stop();
    EXPECT_NE(result.out.find("summary: 4 registrations, 2 players,"), std::string::npos) << result.out;
}

TEST(ServerRegistration, NegativeFirstIdTravelsAsTwosComplement) {
    RunningServer server({"--first-id", "-1"});
    ASSERT_TRUE(server.ready()) << server.out();
    auto a = clientPeer();
    auto b = clientPeer();
    auto ackA = server.registerFrom(*a, "desktop");
    auto ackB = server.registerFrom(*b, "desktop");
    ASSERT_TRUE(ackA && ackB);
    EXPECT_EQ(ackA->data, (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(ackB->data, encodeId(0));
    EXPECT_TRUE(server.waitFor("-> id -1\n")) << server.out();
}

TEST(ServerRegistration, DefaultPortsServeBothClientsAndStates) {
    // A loopback address of its own keeps the fixed ports clear of other runs.
    const std::string address = vxtest::uniqueLoopbackAddress();
    RunningServer server({"--bind", address}, /*allPortsZero=*/false);
    ASSERT_TRUE(server.ready()) << server.out() << server.process().errSoFar();
    EXPECT_EQ(endpoint(server.at("desktop")), address + ":9779");
    EXPECT_EQ(endpoint(server.at("state")), address + ":9780");
    if (!server.serves("handheld")) GTEST_SKIP() << "port 80 needs privileges: " << server.process().errSoFar();
    EXPECT_EQ(endpoint(server.at("handheld")), address + ":80");

    auto desktop = clientPeer();
    auto handheld = clientPeer();
    auto ackD = server.registerFrom(*desktop, "desktop");
    auto ackH = server.registerFrom(*handheld, "handheld");
    ASSERT_TRUE(ackD && ackH);
    EXPECT_EQ(ackD->data, encodeId(1));
    EXPECT_EQ(ackH->data, encodeId(2));
    server.send(*handheld, "state", encodeState({128, 128, 2}));
    EXPECT_TRUE(
        server.waitFor("state id 2 from 127.0.0.1:" + std::to_string(handheld->port()) + ": X=128 Y=128 userID=2\n"))
        << server.out();
}

TEST(ServerStates, PrintedOnFirstRecordAndOnEveryChangeOnly) {
    RunningServer server({});
    ASSERT_TRUE(server.ready()) << server.out();
    auto a = clientPeer();
    auto b = clientPeer();
    ASSERT_TRUE(server.registerFrom(*a, "desktop"));
    ASSERT_TRUE(server.registerFrom(*b, "handheld"));
    const std::string fromA = "state id 1 from 127.0.0.1:" + std::to_string(a->port()) + ": ";
    const std::string fromB = "state id 2 from 127.0.0.1:" + std::to_string(b->port()) + ": ";

    // The userID in the record is printed as sent, even when it is not the
    // player's id (a handheld whose ACK got lost sends 0).
    const std::vector<std::vector<uint8_t>> recordsA = {
        encodeState({0, 0, 1}),  encodeState({0, 0, 1}),  encodeState({2, 0, 1}),  encodeState({2, 0, 1}),
        encodeState({2, -2, 1}), encodeState({2, -2, 0}), encodeState({2, -2, 0}),
    };
    for (const auto& r : recordsA) server.send(*a, "state", r);
    server.send(*b, "state", encodeState({0, 0, 1}));  // same values as A's first, other player
    server.send(*a, "state", encodeState({255, 255, 1}));
    ASSERT_TRUE(server.waitFor(fromA + "X=255 Y=255 userID=1\n")) << server.out();
    ASSERT_TRUE(server.waitFor(fromB + "X=0 Y=0 userID=1\n")) << server.out();

    auto result = server.stop();
    const std::string expectA = fromA + "X=0 Y=0 userID=1\n" + fromA + "X=2 Y=0 userID=1\n" + fromA +
                                "X=2 Y=-2 userID=1\n" + fromA + "X=2 Y=-2 userID=0\n" + fromA +
                                "X=255 Y=255 userID=1\n";
    std::string onlyA;
    std::istringstream in(result.out);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(fromA, 0) == 0) onlyA += line + "\n";
    EXPECT_EQ(onlyA, expectA);
    EXPECT_EQ(countLines(result.out, fromB), 1) << result.out;
    EXPECT_NE(result.out.find("summary: 2 registrations, 2 players, 9 state records, 0 ignored"), std::string::npos)
        << result.out;
}

TEST(ServerStates, AtAPersonsPaceEveryChangeHasItsLine) {
    // The handheld sends about 20 records a second. Each change here comes
    // with a repeat of it, so a limit that counted records, not lines, shows.
    // 25 changes in all: however the server is scheduled, no second has more.
    constexpr int kChanges = 25;
    RunningServer server({});
    ASSERT_TRUE(server.ready()) << server.out();
    auto peer = clientPeer();
    ASSERT_TRUE(server.registerFrom(*peer, "handheld"));
    const std::string from = "state id 1 from 127.0.0.1:" + std::to_string(peer->port()) + ": ";

    std::string expected;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 1; i <= kChanges; ++i) {
        std::this_thread::sleep_until(start + i * 50ms);
        for (int copy = 0; copy < 2; ++copy) server.send(*peer, "state", encodeState({i, 100 - i, 1}));
        expected += from + "X=" + std::to_string(i) + " Y=" + std::to_string(100 - i) + " userID=1\n";
    }
    ASSERT_TRUE(server.waitFor(from + "X=25 Y=75 userID=1\n")) << server.out();

    auto result = server.stop();
    std::string lines;
    std::istringstream in(result.out);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(from, 0) == 0) lines += line + "\n";
    EXPECT_EQ(lines, expected);
    EXPECT_NE(result.out.find(", 50 state records, "), std::string::npos) << result.out;
}

TEST(ServerStates, ChangesHeldBackAreToldBeforeTheirPlayerIsReplacedAndBeforeTheSummary) {
    // 100 changes at once from each of two players, one slot between them:
    // the first's count must come before it is replaced, the second's before
    // the summary, whether or not their second has ended by then.
    RunningServer server({"--max-players", "1"});
    ASSERT_TRUE(server.ready()) << server.out();
    auto a = clientPeer(), b = clientPeer();
    const auto burst = [&](UdpPeer& peer, int32_t id) {
        for (int x = 1; x <= 100; ++x) server.send(peer, "state", encodeState({x, id, id}));
        // Off the socket means handled: the server reads and handles in one go.
        ASSERT_TRUE(vxtest::waitForUdpQueue(server.at("state"), 0, kReply)) << server.out();
    };
    ASSERT_TRUE(server.registerFrom(*a, "desktop"));
    burst(*a, 1);
    ASSERT_TRUE(server.registerFrom(*b, "desktop"));
    burst(*b, 2);
    auto result = server.stop();

    const std::string fromA = "state id 1 from 127.0.0.1:" + std::to_string(a->port()) + ": ";
    const std::string fromB = "state id 2 from 127.0.0.1:" + std::to_string(b->port()) + ": ";
    auto linesA = tallyPlayerStates(result.out, fromA);
    auto linesB = tallyPlayerStates(result.out, fromB);
    EXPECT_TRUE(linesA.unreadable.empty() && linesB.unreadable.empty()) << result.out;
    EXPECT_EQ(linesA.changes, 100u) << result.out;
    EXPECT_EQ(linesB.changes, 100u) << result.out;
    EXPECT_EQ(linesA.latest, (vxProtocol{100, 1, 1}));
    EXPECT_EQ(linesB.latest, (vxProtocol{100, 2, 2}));
    EXPECT_LT(linesA.lastAt, result.out.find("-> id 2 (replaces id 1"));
    EXPECT_LT(linesB.lastAt, result.out.find("summary: "));
    EXPECT_NE(result.out.find("summary: 2 registrations, 1 players, 200 state records, 0 ignored, 202 datagrams"),
              std::string::npos)
        << result.out;
}

TEST(ServerStates, SenderOnAnotherAddressIsMatchedByItsPortWhenUnambiguous) {
    // A client whose ACK came from elsewhere keeps its socket, so its port.
    auto registered = clientPeer("127.0.0.1");
    ASSERT_TRUE(registered);
    auto samePort = clientPeer("127.0.0.3", registered->port());
    auto stranger = clientPeer("127.0.0.4");
    ASSERT_TRUE(samePort && stranger);
    RunningServer server({});
    ASSERT_TRUE(server.ready()) << server.out();
    ASSERT_TRUE(server.registerFrom(*registered, "desktop"));

    server.send(*samePort, "state", encodeState({4, 6, 1}));
    EXPECT_TRUE(server.waitFor("state id 1 from 127.0.0.3:" + std::to_string(registered->port()) +
                               ": X=4 Y=6 userID=1 (matched by port)\n"))
        << server.out();

    // A second player on that port makes the port ambiguous.
    auto twin = clientPeer("127.0.0.5", registered->port());
    ASSERT_TRUE(twin);
    ASSERT_TRUE(server.registerFrom(*twin, "desktop"));
    server.send(*samePort, "state", encodeState({8, 6, 1}));
    EXPECT_TRUE(server.waitFor("ignored: unknown player: state record from 127.0.0.3:")) << server.out();
}

TEST(ServerMalformed, IgnoredCountedByReasonAndServerKeepsServing) {
    RunningServer server({});
    ASSERT_TRUE(server.ready()) << server.out();
    auto peer = clientPeer();
    auto stranger = clientPeer();
    const std::string peerAt = "127.0.0.1:" + std::to_string(peer->port());

    // One of each kind first, each line awaited, so all four are written in
    // full before the few lines of this second are used up.
    server.send(*peer, "desktop", std::vector<uint8_t>(1000, 'A'));
    ASSERT_TRUE(server.waitFor("ignored: wrong size: 1000-byte datagram from " + peerAt +
                               " on desktop port (expected \"ADDME\")\n"))
        << server.out();
    server.send(*peer, "handheld", {'A', 'D', 'D', 'M', 'F'});
    ASSERT_TRUE(server.waitFor("ignored: wrong payload: 5 bytes from " + peerAt + " on handheld port, not \"ADDME\"\n"))
        << server.out();
    server.send(*peer, "state", std::vector<uint8_t>(13, 7));
    ASSERT_TRUE(
        server.waitFor("ignored: wrong size: 13-byte datagram from " + peerAt + " on state port (expected 12)\n"))
        << server.out();
    server.send(*stranger, "state", encodeState({1, 1, 1}));
    ASSERT_TRUE(server.waitFor(
        "ignored: unknown player: state record from 127.0.0.1:" + std::to_string(stranger->port()) + "\n"))
        << server.out();

    const std::vector<std::vector<uint8_t>> badRegistrations = {
        {},
        {'A', 'D', 'D', 'M'},
        {'A', 'D', 'D', 'M', 'E', 0},
        {'a', 'd', 'd', 'm', 'e'},
        {'A', 'D', 'D', 'M', 'F'},
        encodeState({1, 2, 3}),
        std::vector<uint8_t>(1500, 'A'),
    };
    for (const char* role : {"desktop", "handheld"})
        for (const auto& bad : badRegistrations) server.send(*peer, role, bad);
    // None of them may have been answered.
    EXPECT_FALSE(peer->receive(kSilence)) << server.out();

    ASSERT_TRUE(server.registerFrom(*peer, "desktop"));
    for (size_t size : {0, 1, 11, 24, 1500}) server.send(*peer, "state", std::vector<uint8_t>(size, 7));
    server.send(*peer, "state", encodeState({3, 4, 1}));
    ASSERT_TRUE(server.waitFor("X=3 Y=4 userID=1\n")) << server.out();

    auto result = server.stop();
    EXPECT_EQ(result.exitCode, 0);
    // Written in full or told in an "ignored N more" line, every one is there.
    auto ignored = tallyIgnored(result.out);
    EXPECT_TRUE(ignored.inconsistent.empty()) << result.out;
    EXPECT_EQ(ignored.single + ignored.moreTotal, 23u) << result.out;
    EXPECT_EQ(ignored.byReason,
              (std::map<std::string, uint64_t>{
                  {"wrong size", 2 + 2 * 5 + 5}, {"wrong payload", 1 + 2 * 2}, {"unknown player", 1}}))
        << result.out;
    EXPECT_NE(result.out.find("summary: 1 registrations, 1 players, 1 state records, 23 ignored, 25 datagrams, "),
              std::string::npos)
        << result.out;
}

TEST(ServerCapacity, NewPlayerTakesTheSlotOfTheOneSilentLongestWithAFreshId) {
    RunningServer server({"--max-players", "2", "--first-id", "10"});
    ASSERT_TRUE(server.ready()) << server.out();
    auto a = clientPeer(), b = clientPeer(), c = clientPeer();
    const auto at = [](const std::unique_ptr<UdpPeer>& p) { return "127.0.0.1:" + std::to_string(p->port()); };

    ASSERT_TRUE(server.registerFrom(*a, "desktop"));
    ASSERT_TRUE(server.registerFrom(*b, "desktop"));
    // A state record counts as being heard from: b, not a, is now silent longest.
    server.send(*a, "state", encodeState({0, 0, 10}));
    ASSERT_TRUE(server.waitFor("state id 10 from " + at(a) + ": X=0 Y=0 userID=10\n")) << server.out();

    auto ackC = server.registerFrom(*c, "handheld");
    ASSERT_TRUE(ackC);
    EXPECT_EQ(ackC->data, encodeId(12));
    EXPECT_TRUE(server.waitFor("register " + at(c) + " (handheld) -> id 12 (replaces id 11 of " + at(b) + ")\n"))
        << server.out();

    server.send(*b, "state", encodeState({1, 1, 11}));
    EXPECT_TRUE(server.waitFor("ignored: unknown player: state record from " + at(b) + "\n")) << server.out();
    server.send(*a, "state", encodeState({2, 0, 10}));
    EXPECT_TRUE(server.waitFor("state id 10 from " + at(a) + ": X=2 Y=0 userID=10\n")) << server.out();

    // Coming back makes b a new player: a new id, never its old one, in c's slot.
    auto ackB = server.registerFrom(*b, "desktop");
    ASSERT_TRUE(ackB);
    EXPECT_EQ(ackB->data, encodeId(13));
    EXPECT_TRUE(server.waitFor("register " + at(b) + " (desktop) -> id 13 (replaces id 12 of " + at(c) + ")\n"))
        << server.out();

    auto result = server.stop();
    EXPECT_NE(result.out.find("summary: 4 registrations, 2 players, 2 state records, 1 ignored, 7 datagrams, "
                              "2 players replaced (SIGTERM)"),
              std::string::npos)
        << result.out;
}

TEST(ServerCapacity, SixtyFourPlayersByDefault) {
    RunningServer server({});
    ASSERT_TRUE(server.ready()) << server.out();
    std::vector<std::unique_ptr<UdpPeer>> peers;
    for (int i = 0; i < 65; ++i) {
        peers.push_back(clientPeer());
        ASSERT_TRUE(peers.back() && server.registerFrom(*peers.back(), "desktop")) << i;
    }
    EXPECT_TRUE(server.waitFor("-> id 65 (replaces id 1 of 127.0.0.1:" + std::to_string(peers[0]->port()) + ")\n"))
        << server.out();
    EXPECT_EQ(countLines(server.out(), "register "), 65);
    EXPECT_EQ(findSummary(server.stop().out).value_or(Summary{}).players, 64u);
}

TEST(ServerPorts, PortInUseIsNamedAndTheOthersAreServed) {
    auto squatter = clientPeer();
    ASSERT_TRUE(squatter);
    RunningServer server({"--desktop-port", std::to_string(squatter->port())});
    ASSERT_TRUE(server.ready()) << server.out() << server.process().errSoFar();
    const std::string err = server.process().errSoFar();
    EXPECT_NE(err.find("desktop port 127.0.0.1:" + std::to_string(squatter->port())), std::string::npos) << err;
    EXPECT_NE(err.find(std::strerror(EADDRINUSE)), std::string::npos) << err;
    EXPECT_FALSE(server.serves("desktop"));

    auto peer = clientPeer();
    auto ack = server.registerFrom(*peer, "handheld");
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->data, encodeId(1));
    server.send(*peer, "state", encodeState({1, 1, 1}));
    EXPECT_TRUE(server.waitFor("state id 1 from")) << server.out();
}

TEST(ServerPorts, NoPortBoundExitsOne) {
    auto a = clientPeer(), b = clientPeer(), c = clientPeer();
    ASSERT_TRUE(a && b && c);
    auto result =
        vxtest::runProcess({vxtest::binaryPath("vx-server"), "--desktop-port", std::to_string(a->port()),
                            "--handheld-port", std::to_string(b->port()), "--state-port", std::to_string(c->port())},
                           5s);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 1);
    for (const char* role : {"desktop", "handheld", "state"})
        EXPECT_NE(result.err.find(std::string("cannot bind ") + role + " port"), std::string::npos) << result.err;
}

class ServerStopSignal : public ::testing::TestWithParam<int> {};

TEST_P(ServerStopSignal, ExitsZeroAfterOneSummaryLine) {
    RunningServer server({});
    ASSERT_TRUE(server.ready()) << server.out();
    auto peer = clientPeer();
    ASSERT_TRUE(server.registerFrom(*peer, "desktop"));
    server.send(*peer, "state", encodeState({2, 0, 1}));
    server.send(*peer, "desktop", {'x'});
    ASSERT_TRUE(server.waitFor("ignored: ")) << server.out();
    ASSERT_TRUE(server.waitFor("X=2 Y=0")) << server.out();

    auto result = server.stop(GetParam());
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exitCode, 0);
    const std::string name = GetParam() == SIGINT ? "SIGINT" : "SIGTERM";
    const std::string last =
        "summary: 1 registrations, 1 players, 1 state records, 1 ignored, 3 datagrams, 0 players replaced (" + name +
        ")\n";
    ASSERT_GE(result.out.size(), last.size());
    EXPECT_EQ(result.out.substr(result.out.size() - last.size()), last) << result.out;
    EXPECT_EQ(countLines(result.out, "summary: "), 1);
}

INSTANTIATE_TEST_SUITE_P(Signals, ServerStopSignal, ::testing::Values(SIGINT, SIGTERM),
                         [](const auto& info) { return std::string(info.param == SIGINT ? "SIGINT" : "SIGTERM"); });

TEST(ServerStopSignalInherited, SigintStopsItEvenWhenStartedWithSigintIgnored) {
    // A non-interactive shell starts background jobs that way (play script: `vx-server &`).
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGINT, &ignore, &previous);
    RunningServer server({});
    sigaction(SIGINT, &previous, nullptr);
    ASSERT_TRUE(server.ready()) << server.out();

    auto result = server.stop(SIGINT);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_NE(result.out.find("summary: 0 registrations, 0 players, 0 state records, 0 ignored, 0 datagrams, "
                              "0 players replaced (SIGINT)"),
              std::string::npos)
        << result.out;
}

TEST(ServerCommandLine, BadArgumentsExitTwoWithOneLine) {
    const std::vector<std::vector<std::string>> bad = {
        {"--desktop-port"},
        {"--desktop-port", "65536"},
        {"--state-port", "-1"},
        {"--handheld-port", "80x"},
        {"--first-id", "2147483648"},
        {"--first-id", ""},
        {"--max-players", "0"},
        {"--max-players", "100001"},
        {"--bind", "300.1.1.1"},
        {"--bind", "no-such-host.invalid"},
        {"--desktop-port", "5000", "--state-port", "5000"},
        {"--verbose"},
        {"9779"},
    };
    for (const auto& args : bad) {
        std::vector<std::string> argv{vxtest::binaryPath("vx-server")};
        argv.insert(argv.end(), args.begin(), args.end());
        auto result = vxtest::runProcess(argv, 5s);
        std::string shown;
        for (const auto& a : args) shown += " '" + a + "'";
        EXPECT_EQ(result.exitCode, 2) << shown;
        EXPECT_EQ(countLines(result.err, "vx-server: "), 1) << shown << "\n" << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << shown << "\n" << result.err;
        EXPECT_EQ(result.out, "") << shown;
    }
}

TEST(ServerCommandLine, HelpDescribesOptionsAndExitsZero) {
    auto result = vxtest::runProcess({vxtest::binaryPath("vx-server"), "--help"}, 5s);
    EXPECT_EQ(result.exitCode, 0);
    for (const char* option :
         {"--bind", "--desktop-port", "--handheld-port", "--state-port", "--first-id", "--max-players"})
        EXPECT_NE(result.out.find(option), std::string::npos) << option;
}
