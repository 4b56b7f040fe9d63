// The handshake on the inter-processor FIFO and the relay of sync words,
// each program against a stand-in that plays the other processor.
#include "handheld.h"
#include "stand_ins.h"
#include "vxFifo.h"

namespace hhtest {
namespace {

constexpr uint32_t kMarker = VX_FIFO_MARKER, kSync = VX_FIFO_SYNC;
constexpr uint32_t kRecvEmpty = 0x0100;

std::string word(uint32_t w) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", w);
    return text;
}

std::string initCall(uint32_t w) {
    char text[32];
    std::snprintf(text, sizeof text, "Wifi_Init(0x%08x)", w);
    return text;
}

// The co-processor's calls and FIFO reads, in order.
std::vector<TraceEntry> coActivity(const Handheld& h) {
    std::vector<TraceEntry> out;
    for (const TraceEntry& e : h.machine.trace()) {
        if (e.cpu == Cpu::Co &&
            (e.kind == TraceKind::Call || e.kind == TraceKind::FifoRecv || e.kind == TraceKind::Irq))
            out.push_back(e);
    }
    return out;
}

int countBetween(const std::vector<TraceEntry>& entries, int from, int to, TraceKind kind, const std::string& text) {
    int n = 0;
    for (int i = from + 1; i < to; ++i) n += vxtest::matches(entries[i], kind, std::nullopt, text);
    return n;
}

TEST(Handshake, MainProcessorSendsTheMarkerThenTheLibrarysValueBeforeAnythingElse) {
    auto s = startPlaying();
    ASSERT_TRUE(s);
    Handheld& h = *s->handheld;
    auto sent = h.entries(Cpu::Main, TraceKind::FifoSend);
    ASSERT_GE(sent.size(), 3u);
    EXPECT_EQ(sent[0].text, word(kMarker));
    // The value is whatever the library's Wifi_Init gave; the co-processor got it unchanged.
    auto coInit = h.entries(Cpu::Co, TraceKind::Call, "Wifi_Init(");
    ASSERT_EQ(coInit.size(), 1u);
    EXPECT_EQ(initCall(static_cast<uint32_t>(std::stoul(sent[1].text, nullptr, 16))), coInit[0].text);
    for (size_t i = 2; i < sent.size(); ++i) EXPECT_EQ(sent[i].text, word(kSync)) << "word " << i;
    // And the link came up through the relays of both programs.
    EXPECT_GE(h.count(Cpu::Main, TraceKind::Call, "Wifi_Sync()"), 1);
    EXPECT_GE(h.count(Cpu::Co, TraceKind::Call, "Wifi_Sync()"), 1);
    EXPECT_GE(h.count(Cpu::Co, TraceKind::FifoSend, word(kSync)), 1);
}

TEST(Handshake, CoProcessorDropsWordsBeforeTheMarkerWithoutWaitingForAFrame) {
    const uint32_t value = 0xCAFEF00D;
    fifoScript.burst = {0xDEAD0001, kSync, 0x00000000, 0x12345679, kMarker, value};
    Handheld h({}, standIn(Cpu::Main), realProgram(Cpu::Co));
    h.machine.runFrames(10);
    auto co = coActivity(h);
    int first = findFrom(co, 0, TraceKind::FifoRecv, "");
    ASSERT_GE(first, 0);
    for (size_t i = 0; i < fifoScript.burst.size(); ++i) {
        ASSERT_LT(first + i, co.size());
        // Reads follow one another directly: no wait, no call in between.
        EXPECT_EQ(co[first + i].kind, TraceKind::FifoRecv);
        EXPECT_EQ(co[first + i].text, word(fifoScript.burst[i]));
    }
    int init = findFrom(co, first, TraceKind::Call, "Wifi_Init(");
    ASSERT_GE(init, 0);
    EXPECT_EQ(co[init].text, initCall(value));
    EXPECT_EQ(countBetween(co, first, init, TraceKind::Call, "swiWaitForVBlank"), 0);
}

TEST(Handshake, CoProcessorWaitsForAFrameOnlyWhileItsFifoIsEmpty) {
    const uint32_t value = 0x00C0FFEE;
    fifoScript.framesBefore = 5;
    fifoScript.burst = {kMarker};
    fifoScript.paced = {value};
    Handheld h({}, standIn(Cpu::Main), realProgram(Cpu::Co));
    h.machine.runFrames(15);
    ASSERT_TRUE(standInDone);
    auto co = coActivity(h);
    int marker = findFrom(co, 0, TraceKind::FifoRecv, word(kMarker));
    int valueRead = findFrom(co, marker + 1, TraceKind::FifoRecv, word(value));
    ASSERT_GE(marker, 0);
    ASSERT_GT(valueRead, marker);
    EXPECT_GE(countBetween(co, -1, marker, TraceKind::Call, "swiWaitForVBlank"), 4);
    EXPECT_GE(countBetween(co, marker, valueRead, TraceKind::Call, "swiWaitForVBlank"), 1);
    int init = findFrom(co, valueRead, TraceKind::Call, "Wifi_Init(");
    ASSERT_GT(init, valueRead);
    EXPECT_EQ(co[init].text, initCall(value));
    EXPECT_EQ(countBetween(co, valueRead, init, TraceKind::FifoRecv, ""), 0);
}

class HandshakeValue : public ::testing::TestWithParam<uint32_t> {};

TEST_P(HandshakeValue, WordAfterTheMarkerGoesToWifiInitWhateverItHolds) {
    fifoScript.burst = {kMarker, GetParam(), 0x0BADBAD0};
    Handheld h({}, standIn(Cpu::Main), realProgram(Cpu::Co));
    h.machine.runFrames(10);
    auto init = h.entries(Cpu::Co, TraceKind::Call, "Wifi_Init(");
    ASSERT_EQ(init.size(), 1u);
    EXPECT_EQ(init[0].text, initCall(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Words, HandshakeValue, ::testing::Values(kMarker, kSync, 0u));

// Sync words one at a time (each taken before the next), other words among
// them, then two at once: one interrupt brings exactly one word.
FifoScript relayScript() {
    FifoScript f;
    f.paced = {kSync, kMarker, kSync, kSync, 0xFFFFFFFF, 0x00000000, kSync};
    f.finalBurst = {kSync, kSync};
    return f;
}

void expectRelay(const Handheld& h, Cpu cpu, size_t from, int syncs, int words) {
    std::vector<TraceEntry> seen;
    for (const TraceEntry& e : h.machine.trace()) {
        if (e.cpu == cpu && (e.kind == TraceKind::Irq || e.kind == TraceKind::FifoRecv || e.text == "Wifi_Sync()"))
            seen.push_back(e);
    }
    seen.erase(seen.begin(), seen.begin() + static_cast<long>(std::min(from, seen.size())));
    int irqs = 0, reads = 0, calls = 0;
    for (size_t i = 0; i < seen.size(); ++i) {
        if (seen[i].kind != TraceKind::Irq || seen[i].text.find("IRQ_FIFO_NOT_EMPTY") == std::string::npos) continue;
        ++irqs;
        // Exactly one read per interrupt, and a sync call only for the sync word.
        ASSERT_LT(i + 1, seen.size());
        EXPECT_EQ(seen[i + 1].kind, TraceKind::FifoRecv);
        bool isSync = seen[i + 1].text == word(kSync);
        bool called = i + 2 < seen.size() && seen[i + 2].text == "Wifi_Sync()";
        EXPECT_EQ(called, isSync) << "after reading " << seen[i + 1].text;
    }
    for (const TraceEntry& e : seen) {
        reads += e.kind == TraceKind::FifoRecv;
        calls += e.text == "Wifi_Sync()";
    }
    EXPECT_EQ(irqs, words);
    EXPECT_EQ(reads, words);
    EXPECT_EQ(calls, syncs);
    // The second word of the pair is still waiting.
    EXPECT_EQ(h.machine.peekIo(cpu, 0x04000184, 2) & kRecvEmpty, 0u);
}

TEST(Handshake, CoProcessorMakesOneWifiSyncPerSyncWordAndReadsOneWordPerInterrupt) {
    fifoScript = relayScript();
    fifoScript.burst = {kMarker, 0x11111111};
    Handheld h({}, standIn(Cpu::Main), realProgram(Cpu::Co));
    h.machine.runFrames(60);
    ASSERT_TRUE(standInDone);
    ASSERT_FALSE(standInStuck);
    // From the start of service on: everything after the handshake's two reads.
    std::vector<TraceEntry> co = coActivity(h);
    int init = findFrom(co, 0, TraceKind::Call, "Wifi_Init(");
    ASSERT_GE(init, 0);
    size_t before = 0;
    for (int i = 0; i < init; ++i)
        before += co[i].kind == TraceKind::Irq || co[i].kind == TraceKind::FifoRecv || co[i].text == "Wifi_Sync()";
    expectRelay(h, Cpu::Co, before, 5, 8);
}

TEST(Handshake, MainProcessorMakesOneWifiSyncPerSyncWordAndReadsOneWordPerInterrupt) {
    fifoScript = relayScript();
    fifoScript.wordsToTake = 2;
    Handheld h({}, realProgram(Cpu::Main), standIn(Cpu::Co));
    h.machine.runFrames(60);
    ASSERT_TRUE(standInDone);
    ASSERT_FALSE(standInStuck);
    ASSERT_EQ(standInTook.size(), 2u);
    EXPECT_EQ(standInTook[0], kMarker);
    expectRelay(h, Cpu::Main, 0, 5, 8);
}

}  // namespace
}  // namespace hhtest
