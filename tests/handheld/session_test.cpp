// The conversation with the game server: registration, the identifier from
// the ACK, state records, re-registration on A, and going on without an ACK.
#include <cstring>

#include "handheld.h"

namespace hhtest {
namespace {

// The console row where `prefix` starts, or empty.
std::string rowStarting(const Handheld& h, const std::string& prefix) {
    for (const std::string& row : h.machine.consoleLines()) {
        if (row.rfind(prefix, 0) == 0) return row;
    }
    return {};
}

TEST(Session, RegistersWithFiveBytesOfAddmeOnPort80OfTheConfiguredAddress) {
    auto s = startPlaying();
    ASSERT_TRUE(s);
    auto got = s->registrar->received();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].data, (std::vector<uint8_t>{'A', 'D', 'D', 'M', 'E'}));
    Handheld& h = *s->handheld;
    auto sends = h.entries(Cpu::Co, TraceKind::NetSend);
    ASSERT_FALSE(sends.empty());
    EXPECT_EQ(sends[0].text.rfind(std::string(VX_SERVER_ADDRESS) + ":80 5 bytes", 0), 0u) << sends[0].text;
    // The one socket carries everything: the ACK came back to where ADDME left from.
    EXPECT_EQ(h.count(Cpu::Main, TraceKind::Call, "socket("), 1);
}

struct AckCase {
    std::vector<uint8_t> ack;
    int32_t id;
};

void PrintTo(const AckCase& c, std::ostream* os) { *os << c.ack.size() << "-byte ACK, identifier " << c.id; }

class AckSizes : public ::testing::TestWithParam<AckCase> {};

TEST_P(AckSizes, IdentifierComesFromTheAckAndGoesIntoEveryLaterState) {
    const AckCase& c = GetParam();
    Session::Options o;
    o.ack = c.ack;
    auto s = startPlaying(o);
    ASSERT_TRUE(s);
    Handheld& h = *s->handheld;
    s->hold(kRight, 3);
    std::string prefix = "Received ACK. UserID: " + std::to_string(c.id);
    std::string row = rowStarting(h, prefix);
    ASSERT_FALSE(row.empty()) << h.consoleText();
    // No line end after the identifier: the first step's report follows on the same row.
    EXPECT_EQ(row.substr(prefix.size(), 4), "sent") << row;
    EXPECT_EQ(s->records(), (std::vector<State>{{129, 128, c.id}, {130, 128, c.id}, {131, 128, c.id}}));
}

INSTANTIATE_TEST_SUITE_P(Bytes, AckSizes,
                         ::testing::Values(AckCase{{}, 0}, AckCase{{0x34, 0x12}, 0x1234},
                                           AckCase{{0xFE, 0xFF, 0xFF, 0xFF}, -2},
                                           AckCase{{0x2A, 0x00, 0x00, 0x00, 0xEE, 0xEE, 0xEE, 0xEE}, 42}),
                         [](const ::testing::TestParamInfo<AckCase>& info) {
                             return std::to_string(info.param.ack.size()) + "Bytes";
                         });

TEST(Session, EveryStepIsReportedOnTheConsole) {
    auto s = startPlaying();
    ASSERT_TRUE(s);
    Handheld& h = *s->handheld;
    s->hold(kUp | kLeft, 2);
    std::string step = "sent data to server OK\n";
    EXPECT_EQ(h.machine.consoleLines(), consoleRows(consoleThroughAck(socketHandle(h), 7) + step + step + step + step))
        << h.consoleText();
    EXPECT_EQ(s->records(), (std::vector<State>{{128, 129, 7}, {127, 129, 7}, {127, 130, 7}, {126, 130, 7}}));
}

TEST(Session, EachPressOfARegistersOnceHoweverLongItIsHeld) {
    auto s = startPlaying();
    ASSERT_TRUE(s);
    Handheld& h = *s->handheld;
    s->hold(kA, 20);
    s->hold(kA, 1);
    s->hold(kRight, 1);
    s->hold(kA | kRight, 4);
    int registrations = 0;
    for (const TraceEntry& e : h.entries(Cpu::Main, TraceKind::Call, "sendto("))
        registrations += e.text.find(" 5 bytes") != std::string::npos && e.text.find(")=5") != std::string::npos;
    EXPECT_EQ(registrations, 4);
    ASSERT_TRUE(s->registrar->waitFor(4, std::chrono::seconds(5)));
    for (const PeerDatagram& c : s->registrar->received())
        EXPECT_EQ(c.data, (std::vector<uint8_t>{'A', 'D', 'D', 'M', 'E'}));
    std::string registration = "Sending ADDME\nsent ADDME OK: bytes = 5\n";
    std::string step = "sent data to server OK\n";
    // Within a pass the step comes first, then the registration.
    EXPECT_EQ(h.machine.consoleLines(), consoleRows(consoleThroughAck(socketHandle(h), 7) + registration +
                                                    registration + step + step + registration + step + step + step))
        << h.consoleText();
    // Re-registration goes to port 80; the next step goes to 9780 again.
    EXPECT_EQ(s->records(),
              (std::vector<State>{{129, 128, 7}, {130, 128, 7}, {131, 128, 7}, {132, 128, 7}, {133, 128, 7}}));
    for (const TraceEntry& e : h.entries(Cpu::Co, TraceKind::NetSend)) {
        bool addme = e.text.find(" 5 bytes") != std::string::npos;
        EXPECT_NE(e.text.find(addme ? ":80 " : ":9780 "), std::string::npos) << e.text;
    }
}

// Each machine has its own wireless halves and radio: a second one in the
// same process starts afresh, whatever the first left behind in the process
// and whatever its own memory holds at power-on.
TEST(Session, MachinesOneAfterTheOtherEachRegisterAndSendStates) {
    for (int32_t id : {21, 22}) {
        SCOPED_TRACE(id);
        Session::Options o;
        o.ack = vxtest::encodeId(id);
        o.memoryFill = 0xA5;
        auto s = startPlaying(o);
        ASSERT_TRUE(s);
        s->hold(kRight, 2);
        EXPECT_EQ(s->records(), (std::vector<State>{{129, 128, id}, {130, 128, id}}));
    }
}

TEST(Session, WithoutAnAckTheIdentifierStaysZeroAndPlayGoesOn) {
    vxsim::MachineConfig config;
    config.storedSettings = false;
    Handheld h(config, realProgram(Cpu::Main), realProgram(Cpu::Co));
    ASSERT_TRUE(h.machine.runUntil([&] { return h.count(Cpu::Main, TraceKind::Call, "recvfrom(") > 0; }, 600));
    h.machine.runFrames(3 * kPassFrames);
    std::string start = consoleThroughFailedReceive(socketHandle(h));
    EXPECT_EQ(h.machine.consoleLines(), consoleRows(start)) << h.consoleText();
    h.machine.setKeys(kRight);
    h.machine.runFrames(4 * kPassFrames);
    h.machine.setKeys(0);
    h.machine.runFrames(2 * kPassFrames);
    // The sends fail without an association, and each step stands.
    auto sends = h.entries(Cpu::Main, TraceKind::Call, " 12 bytes");
    ASSERT_EQ(sends.size(), 4u);
    for (const TraceEntry& e : sends) EXPECT_NE(e.text.find("=-1"), std::string::npos) << e.text;
    std::string failed = "error sending data to server\n";
    EXPECT_EQ(h.machine.consoleLines(), consoleRows(start + failed + failed + failed + failed)) << h.consoleText();
    EXPECT_EQ(drawnSquare(h), expectedSquare(132, 128));
}

}  // namespace
}  // namespace hhtest
