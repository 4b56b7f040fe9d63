// Start-up and registration as the game server and the person at the
// terminal see them: the datagrams, the one line of output, the exit status.
#include <gtest/gtest.h>
#include <unistd.h>

#include "harness.h"

using namespace vxdesk;

namespace {

const std::string kUsage = "Please enter destination computer IP or name\n";
const std::string kDnsError = "\nerror resolving DNS\n";
const std::string kSendError = "error sending auth request \n";

vxtest::ProcessResult runClient(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
    std::vector<std::string> argv = {clientPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    return vxtest::runProcess(argv, kExitTimeout, clientEnv(nullptr, env));
}

std::string text(const Datagram& d) { return std::string(d.data.begin(), d.data.end()); }

}  // namespace

TEST(Startup, WrongArgumentCountPrintsUsageAndSendsNothing) {
    FakeServer server;
    ASSERT_TRUE(server.ok()) << server.error;
    for (const auto& args :
         std::vector<std::vector<std::string>>{{}, {server.address, server.address}, {server.address, "x", "y"}}) {
        auto r = runClient(args);
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, 1) << args.size() << " arguments";
        EXPECT_EQ(r.out, kUsage);
        EXPECT_EQ(r.err, "");
    }
    EXPECT_FALSE(server.registration->receive(200ms));
}

TEST(Startup, UnresolvableNameExits255) {
    auto r = runClient({"no-such-server.invalid"});
    EXPECT_EQ(r.exitCode, 255);
    EXPECT_EQ(r.out, kDnsError);
    EXPECT_EQ(r.err, "");
}

// A host entry that carries no IPv4 address cannot be registered with; it is
// reported like a name that did not resolve instead of being dereferenced.
TEST(Startup, HostEntryWithoutIPv4AddressCountsAsUnresolved) {
    for (const char* fake : {"VX_FAKE_HOST=empty.vx.invalid=", "VX_FAKE_HOST=empty.vx.invalid=ipv6"}) {
        auto r = runClient({"empty.vx.invalid"}, {fake});
        EXPECT_EQ(r.signal, 0) << fake;
        EXPECT_EQ(r.exitCode, 255) << fake;
        EXPECT_EQ(r.out, kDnsError) << fake;
    }
}

TEST(Startup, OnlyTheFirstAddressOfANameIsUsed) {
    std::string first = vxtest::uniqueLoopbackAddress();
    std::string second = first.substr(0, first.size() - 1) + "2";
    FakeServer a(first), b(second);
    ASSERT_TRUE(a.ok()) << a.error;
    ASSERT_TRUE(b.ok()) << b.error;
    auto p = Process::start({clientPath(), "game.vx.invalid"},
                            clientEnv(nullptr, {"VX_FAKE_HOST=game.vx.invalid=" + first + "," + second}));
    ASSERT_TRUE(p);
    auto addme = a.registration->receive(kStartTimeout);
    ASSERT_TRUE(addme);
    EXPECT_EQ(text(*addme), "ADDME");
    EXPECT_FALSE(b.registration->receive(100ms));
    auto ack = vxtest::encodeId(3);
    ASSERT_TRUE(a.registration->reply(*addme, ack.data(), ack.size()));
    auto r = p->wait(kExitTimeout);  // no display: ends after the ACK line
    EXPECT_EQ(r.out, "Received ACK. UserID: 3\n");
}

TEST(Startup, SocketFailureIsReportedThenTheSendFails) {
    FakeServer server;
    ASSERT_TRUE(server.ok()) << server.error;
    auto r = runClient({server.address}, {"VX_FAIL_SOCKET=1"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "\nInitial Socket Setup\n" + kSendError);
    EXPECT_FALSE(server.registration->receive(100ms));
}

TEST(Startup, RegistrationSendFailureOrShortSendExits1) {
    FakeServer server;
    ASSERT_TRUE(server.ok()) << server.error;
    auto r = runClient({server.address}, {"VX_FAIL_SENDTO=1"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, kSendError);
    EXPECT_FALSE(server.registration->receive(100ms));

    r = runClient({server.address}, {"VX_SHORT_SENDTO=1"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, kSendError);
    auto partial = server.registration->receive(1s);
    ASSERT_TRUE(partial);
    EXPECT_EQ(text(*partial), "ADDM");
}

TEST(Startup, AckReceiveErrorExits1) {
    FakeServer server;
    ASSERT_TRUE(server.ok()) << server.error;
    auto r = runClient({server.address}, {"VX_FAIL_RECVFROM=1"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "Error receiving ACK packet from server \n");
    auto addme = server.registration->receive(1s);
    ASSERT_TRUE(addme);
    EXPECT_EQ(text(*addme), "ADDME");
}

TEST(Startup, WithoutAnAckTheClientKeepsWaitingAndOpensNoWindow) {
    FakeServer server;
    ASSERT_TRUE(server.ok()) << server.error;
    auto p = Process::start({clientPath(), server.address}, clientEnv(nullptr));
    ASSERT_TRUE(p);
    ASSERT_TRUE(server.registration->receive(kStartTimeout));
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(p->running());
    EXPECT_EQ(p->outSoFar(), "");
    EXPECT_EQ(p->errSoFar(), "");
}

// The ACK's first four bytes are the identifier, least significant first;
// missing bytes are zero. Without a display the client stops right after
// printing it, which keeps these runs short.
struct AckCase {
    std::vector<uint8_t> payload;
    std::string line;
};

void PrintTo(const AckCase& c, std::ostream* os) { *os << c.payload.size() << "-byte ACK"; }

class AckSizes : public ::testing::TestWithParam<AckCase> {};

TEST_P(AckSizes, IdentifierComesFromTheFirstFourBytes) {
    FakeServer server;
    ASSERT_TRUE(server.ok()) << server.error;
    auto p = Process::start({clientPath(), server.address}, clientEnv(nullptr));
    ASSERT_TRUE(p);
    auto addme = server.registration->receive(kStartTimeout);
    ASSERT_TRUE(addme);
    ASSERT_TRUE(server.registration->reply(*addme, GetParam().payload.data(), GetParam().payload.size()));
    auto r = p->wait(kExitTimeout);
    EXPECT_EQ(r.out, GetParam().line);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err.rfind("Video initialization failed: ", 0), 0u) << r.err;
}

INSTANTIATE_TEST_SUITE_P(Ack, AckSizes,
                         ::testing::Values(AckCase{{7, 0, 0, 0}, "Received ACK. UserID: 7\n"},
                                           AckCase{{}, "Received ACK. UserID: 0\n"},
                                           AckCase{{0x34, 0x12}, "Received ACK. UserID: 4660\n"},
                                           AckCase{{7, 0, 0, 0, 9, 9, 9, 9}, "Received ACK. UserID: 7\n"},
                                           AckCase{{0xfb, 0xff, 0xff, 0xff}, "Received ACK. UserID: -5\n"}),
                         [](const ::testing::TestParamInfo<AckCase>& info) {
                             return "bytes" + std::to_string(info.param.payload.size()) + "_" +
                                    std::to_string(info.index);
                         });

// Without a usable X display the client must not fall back to SDL's
// text-terminal drivers, which take over the terminal with control sequences:
// the README's video line on stderr, nothing but the ACK line on stdout.
struct DisplayCase {
    const char* name;
    std::vector<std::string> env;
    const char* line;  // the start of the one stderr line
};

void PrintTo(const DisplayCase& c, std::ostream* os) { *os << c.name; }

// A display number nothing serves: no X socket, no lock file.
std::string deadDisplay() {
    for (int n = 4000;; ++n)
        if (access(("/tmp/.X11-unix/X" + std::to_string(n)).c_str(), F_OK) != 0 &&
            access(("/tmp/.X" + std::to_string(n) + "-lock").c_str(), F_OK) != 0)
            return "DISPLAY=:" + std::to_string(n);
}

class NoUsableDisplay : public ::testing::TestWithParam<DisplayCase> {};

TEST_P(NoUsableDisplay, EndsWithTheVideoLineAndWritesNoControlSequences) {
    FakeServer server;
    ASSERT_TRUE(server.ok()) << server.error;
    // As from a terminal: TERM set, no driver chosen.
    std::vector<std::string> env = vxtest::injectionEnv({"VX_NO_DNS=1", "TERM=xterm", "SDL_VIDEODRIVER"}, false);
    env.insert(env.end(), GetParam().env.begin(), GetParam().env.end());
    auto p = Process::start({clientPath(), server.address}, env);
    ASSERT_TRUE(p);
    auto addme = server.registration->receive(kStartTimeout);
    ASSERT_TRUE(addme) << "registration comes before the window";
    auto ack = vxtest::encodeId(7);
    ASSERT_TRUE(server.registration->reply(*addme, ack.data(), ack.size()));
    auto r = p->wait(kExitTimeout);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << "control sequences on stdout";
    EXPECT_EQ(r.out, "Received ACK. UserID: 7\n");
    const std::string prefix = GetParam().line;
    ASSERT_EQ(r.err.rfind(prefix, 0), 0u) << r.err;
    EXPECT_GT(r.err.size(), prefix.size() + 1) << "SDL's reason follows";
    EXPECT_EQ(r.err.back(), '\n');
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Display, NoUsableDisplay,
    ::testing::Values(DisplayCase{"unset", {"DISPLAY"}, "Video initialization failed: "},
                      DisplayCase{"nothing_there", {deadDisplay()}, "Video initialization failed: "},
                      // A driver the user chose is kept; this one has no OpenGL.
                      DisplayCase{"user_chose_dummy", {"DISPLAY", "SDL_VIDEODRIVER=dummy"}, "Video mode set failed: "}),
    [](const ::testing::TestParamInfo<DisplayCase>& info) { return std::string(info.param.name); });
