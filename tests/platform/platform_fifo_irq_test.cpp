// The inter-processor FIFO, the interrupt controller and dispatcher, and the
// timers, as programs on both processors see them.
#include <gtest/gtest.h>
#include <nds.h>

#include "handheld_fixture.h"

using namespace vxtest;
using vxsim::Cpu;

namespace {

// ----------------------------------------------------------------- FIFO

struct FifoLog {
    u16 crAtStart = 0, crFull = 0, crAfterOverflow = 0;
    u16 coCrBeforeDrain = 0, coCrAfterDrain = 0, coCrAfterErrorAck = 0;
    u32 received[17] = {};
    int count = 0;
} fifo;

int fifoFillMain(int, char**) {
    irqInit();
    REG_IPC_FIFO_CR = IPC_FIFO_ENABLE | IPC_FIFO_SEND_CLEAR;
    fifo.crAtStart = REG_IPC_FIFO_CR;
    for (u32 i = 1; i <= 16; ++i) REG_IPC_FIFO_TX = 0x100 + i;
    fifo.crFull = REG_IPC_FIFO_CR;
    REG_IPC_FIFO_TX = 0xDEAD;  // a seventeenth word does not fit
    fifo.crAfterOverflow = REG_IPC_FIFO_CR;
    idleForever();
    return 0;
}

int fifoDrainCo(int, char**) {
    irqInit();
    REG_IPC_FIFO_CR = IPC_FIFO_ENABLE;
    swiWaitForVBlank();
    fifo.coCrBeforeDrain = REG_IPC_FIFO_CR;
    while (!(REG_IPC_FIFO_CR & IPC_FIFO_RECV_EMPTY)) fifo.received[fifo.count++] = REG_IPC_FIFO_RX;
    fifo.received[fifo.count] = REG_IPC_FIFO_RX;  // one read too many
    fifo.coCrAfterDrain = REG_IPC_FIFO_CR;
    REG_IPC_FIFO_CR = IPC_FIFO_ENABLE | IPC_FIFO_ERROR;
    fifo.coCrAfterErrorAck = REG_IPC_FIFO_CR;
    idleForever();
    return 0;
}

TEST(Fifo, SixteenWordsInOrderWithFlagsAndError) {
    fifo = {};  // the log outlives a test when they share a process
    auto h = Handheld::boot(fifoFillMain, fifoDrainCo);
    h->machine.runFrames(2);
    EXPECT_EQ(fifo.crAtStart, IPC_FIFO_ENABLE | IPC_FIFO_SEND_EMPTY | IPC_FIFO_RECV_EMPTY);
    EXPECT_EQ(fifo.crFull, IPC_FIFO_ENABLE | IPC_FIFO_SEND_FULL | IPC_FIFO_RECV_EMPTY);
    EXPECT_EQ(fifo.crAfterOverflow, IPC_FIFO_ENABLE | IPC_FIFO_SEND_FULL | IPC_FIFO_RECV_EMPTY | IPC_FIFO_ERROR);
    EXPECT_EQ(fifo.coCrBeforeDrain, IPC_FIFO_ENABLE | IPC_FIFO_SEND_EMPTY | IPC_FIFO_RECV_FULL);
    ASSERT_EQ(fifo.count, 16);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(fifo.received[i], 0x101u + i) << i;
    EXPECT_EQ(fifo.received[16], 0x110u) << "an empty FIFO repeats its last word";
    EXPECT_EQ(fifo.coCrAfterDrain, IPC_FIFO_ENABLE | IPC_FIFO_SEND_EMPTY | IPC_FIFO_RECV_EMPTY | IPC_FIFO_ERROR);
    EXPECT_EQ(fifo.coCrAfterErrorAck, IPC_FIFO_ENABLE | IPC_FIFO_SEND_EMPTY | IPC_FIFO_RECV_EMPTY);
    auto sent = h->texts(Cpu::Main, TraceKind::FifoSend);
    ASSERT_EQ(sent.size(), 17u);
    EXPECT_EQ(sent[0], "0x00000101");
    EXPECT_EQ(sent[16], "0x0000DEAD lost (FIFO full)");
    EXPECT_EQ(h->texts(Cpu::Co, TraceKind::FifoRecv).size(), 16u);
}

int fifoClearMain(int, char**) {
    irqInit();
    REG_IPC_FIFO_CR = IPC_FIFO_ENABLE;
    REG_IPC_FIFO_TX = 1;
    REG_IPC_FIFO_TX = 2;
    fifo.crFull = REG_IPC_FIFO_CR;
    REG_IPC_FIFO_CR = IPC_FIFO_ENABLE | IPC_FIFO_SEND_CLEAR;
    fifo.crAtStart = REG_IPC_FIFO_CR;
    REG_IPC_FIFO_TX = 3;
    idleForever();
    return 0;
}

TEST(Fifo, SendClearEmptiesOnlyTheOwnSendFifo) {
    fifo = {};  // the log outlives a test when they share a process
    auto h = Handheld::boot(fifoClearMain, fifoDrainCo);
    h->machine.runFrames(2);
    EXPECT_EQ(fifo.crFull, IPC_FIFO_ENABLE | IPC_FIFO_RECV_EMPTY);
    EXPECT_EQ(fifo.crAtStart, IPC_FIFO_ENABLE | IPC_FIFO_SEND_EMPTY | IPC_FIFO_RECV_EMPTY);
    ASSERT_EQ(fifo.count, 1);
    EXPECT_EQ(fifo.received[0], 3u);
}

// Interrupt edges: the receiver is told when its FIFO goes from empty to
// not empty, not for each word; the sender when its FIFO runs empty.
struct EdgeLog {
    int notEmpty = 0, empty = 0;
    u32 words[8] = {};
    int count = 0;
    int notEmptyAfterEnable = -1;
} edge;

void onNotEmpty() { ++edge.notEmpty; }
void onEmpty() { ++edge.empty; }

int edgeMain(int, char**) {
    irqInit();
    irqSet(IRQ_FIFO_EMPTY, onEmpty);
    irqEnable(IRQ_FIFO_EMPTY);
    REG_IPC_FIFO_CR = IPC_FIFO_ENABLE | IPC_FIFO_SEND_CLEAR;
    swiWaitForVBlank();                                     // frame 1
    REG_IPC_FIFO_CR = IPC_FIFO_ENABLE | IPC_FIFO_SEND_IRQ;  // already empty: one interrupt
    REG_IPC_FIFO_TX = 0xA;
    swiWaitForVBlank();     // frame 2
    REG_IPC_FIFO_TX = 0xB;  // not empty already: no interrupt at the receiver
    swiWaitForVBlank();
    swiWaitForVBlank();  // frame 4, after the receiver drained at frame 3
    REG_IPC_FIFO_TX = 0xC;
    idleForever();
    return 0;
}

int edgeCo(int, char**) {
    irqInit();
    irqSet(IRQ_FIFO_NOT_EMPTY, onNotEmpty);
    irqEnable(IRQ_FIFO_NOT_EMPTY);
    REG_IPC_FIFO_CR = IPC_FIFO_ENABLE | IPC_FIFO_RECV_IRQ;
    for (int i = 0; i < 3; ++i) swiWaitForVBlank();
    while (!(REG_IPC_FIFO_CR & IPC_FIFO_RECV_EMPTY)) edge.words[edge.count++] = REG_IPC_FIFO_RX;
    // Frame 4 brings 0xC; with the interrupt off it waits, and turning the
    // interrupt on while a word waits raises it at once.
    REG_IPC_FIFO_CR = IPC_FIFO_ENABLE;
    for (int i = 0; i < 2; ++i) swiWaitForVBlank();
    int before = edge.notEmpty;
    REG_IPC_FIFO_CR = IPC_FIFO_ENABLE | IPC_FIFO_RECV_IRQ;
    edge.notEmptyAfterEnable = edge.notEmpty - before;
    while (!(REG_IPC_FIFO_CR & IPC_FIFO_RECV_EMPTY)) edge.words[edge.count++] = REG_IPC_FIFO_RX;
    idleForever();
    return 0;
}

TEST(Fifo, InterruptsOnEdgesOnly) {
    auto h = Handheld::boot(edgeMain, edgeCo);
    h->machine.runFrames(8);
    EXPECT_EQ(edge.notEmpty, 2) << "one for 0xA (0xB arrived while not empty), one when enabled with 0xC waiting";
    EXPECT_EQ(edge.notEmptyAfterEnable, 1);
    ASSERT_EQ(edge.count, 3);
    EXPECT_EQ(edge.words[0], 0xAu);
    EXPECT_EQ(edge.words[1], 0xBu);
    EXPECT_EQ(edge.words[2], 0xCu);
    EXPECT_EQ(edge.empty, 3) << "on enabling while empty, and each time the receiver emptied it";
}

// ------------------------------------------------------------ interrupts

struct IrqLog {
    int calls = 0;
    u32 ifWhileMasked = 0, ifAfterNull = 0;
    int callsWhileImeOff = -1, callsAfterImeOn = -1, callsWhileIeOff = -1;
} irq;

void countCall() { ++irq.calls; }

void spinFrames(int n) {
    // Busy-wait on the line counter, so interrupts are taken at call
    // boundaries rather than on a halt.
    for (int i = 0; i < n; ++i) {
        while (REG_VCOUNT != 100) {
        }
        while (REG_VCOUNT == 100) {
        }
    }
}

int gatingMain(int, char**) {
    irqInit();
    irqSet(IRQ_TIMER0, countCall);
    irqEnable(IRQ_TIMER0);
    REG_IME = 0;
    TIMER0_DATA = 0;
    TIMER0_CR = TIMER_ENABLE | TIMER_IRQ_REQ | TIMER_DIV_1024;  // overflows every 2 s
    TIMER1_DATA = 0x10000 - 1000;
    TIMER1_CR = TIMER_ENABLE | TIMER_IRQ_REQ | TIMER_DIV_1;  // every 1000 cycles, never enabled in IE
    spinFrames(130);
    irq.callsWhileImeOff = irq.calls;
    irq.ifWhileMasked = REG_IF;
    REG_IME = 1;
    irq.callsAfterImeOn = irq.calls;  // the pending one is taken at once, once
    irqDisable(IRQ_TIMER0);
    spinFrames(130);
    irq.callsWhileIeOff = irq.calls;
    // A null handler: the request is still acknowledged.
    irqSet(IRQ_TIMER0, nullptr);
    REG_IF = IRQ_TIMER0;
    irqEnable(IRQ_TIMER0);
    spinFrames(130);
    irq.ifAfterNull = REG_IF & IRQ_TIMER0;
    idleForever();
    return 0;
}

TEST(Interrupts, MasterEnableMaskAndNullHandler) {
    auto h = Handheld::boot(gatingMain, nullptr);
    h->machine.runFrames(400);
    EXPECT_EQ(irq.callsWhileImeOff, 0);
    EXPECT_TRUE(irq.ifWhileMasked & IRQ_TIMER0) << "requested but held back";
    EXPECT_TRUE(irq.ifWhileMasked & IRQ_TIMER1) << "requested though never enabled";
    EXPECT_EQ(irq.callsAfterImeOn, 1);
    EXPECT_EQ(irq.callsWhileIeOff, 1);
    EXPECT_EQ(irq.ifAfterNull, 0u);
    EXPECT_EQ(irq.calls, 1);
    int taken = 0;
    for (const auto& e : h->entries(TraceKind::Irq)) taken += e.text.find("IRQ_TIMER0") != std::string::npos;
    EXPECT_EQ(taken, 2) << "the null handler's request was taken, and acknowledged";
}

// The interrupt entry, as the BIOS's contract has it: what fired is already
// acknowledged in IF when the handler runs, and ORed into the processor's
// own check word, which the vertical-blank wait takes its bit out of.
constexpr uint32_t kCheckMain = 0x0B003FF8, kCheckCo = 0x0380FFF8;

struct EntryLog {
    u32 ifInHandler = ~0u, checkInHandler = 0, checkAfterWait = ~0u;
} entry;

u32 checkWord(uint32_t address) { return *reinterpret_cast<volatile u32*>(static_cast<uintptr_t>(address)); }

int idleCo(int, char**) {
    irqInit();
    idleForever();
    return 0;
}

void onTimer2() {
    entry.ifInHandler = REG_IF & IRQ_TIMER2;
    entry.checkInHandler = checkWord(kCheckMain);
}

int entryMain(int, char**) {
    irqInit();
    irqSet(IRQ_TIMER2, onTimer2);
    irqEnable(IRQ_TIMER2);
    TIMER2_DATA = 0x10000 - 5000;
    TIMER2_CR = TIMER_ENABLE | TIMER_IRQ_REQ | TIMER_DIV_1;
    swiWaitForVBlank();
    entry.checkAfterWait = checkWord(kCheckMain);
    idleForever();
    return 0;
}

TEST(Interrupts, EntryAcknowledgesInIfAndFillsTheProcessorsCheckWord) {
    auto h = Handheld::boot(entryMain, idleCo);
    h->machine.runFrames(3);
    EXPECT_EQ(entry.ifInHandler, 0u);
    EXPECT_TRUE(entry.checkInHandler & IRQ_TIMER2);
    EXPECT_EQ(entry.checkAfterWait & (IRQ_TIMER2 | IRQ_VBLANK), static_cast<u32>(IRQ_TIMER2))
        << "the wait takes out the vertical blank it waited for, nothing else";
    u32 co = 0;
    ASSERT_TRUE(h->machine.readMemory(kCheckCo, &co, sizeof co));
    EXPECT_EQ(co & IRQ_TIMER2, 0u) << "the co-processor's word has only its own";
}

// Timer 3 as the main program runs it for its 50 ms tick.
struct TimerLog {
    int calls = 0;
    u16 counterInHandler[64] = {};
} timer;

void onTimer3() {
    if (timer.calls < 64) timer.counterInHandler[timer.calls] = TIMER3_DATA;
    ++timer.calls;
}

int timerMain(int, char**) {
    irqInit();
    irqSet(IRQ_TIMER3, onTimer3);
    irqEnable(IRQ_TIMER3);
    TIMER3_CR = 0;
    TIMER3_DATA = 0xE667;
    TIMER3_CR = 0x00C2;
    idleForever();
    return 0;
}

TEST(Timers, ReloadE667AtDivider256OverflowsEvery1677568Cycles) {
    auto h = Handheld::boot(timerMain, nullptr);
    h->machine.runFrames(180);  // about three seconds
    uint64_t start = 0;
    for (const auto& e : h->entries(TraceKind::IoWrite)) {
        if (e.text == "TIMER3_CR=0x00C2") start = e.cycle;
    }
    ASSERT_NE(start, 0u);
    std::vector<uint64_t> at;
    for (const auto& e : h->entries(TraceKind::Irq)) {
        if (e.text.find("IRQ_TIMER3") != std::string::npos) at.push_back(e.cycle);
    }
    uint64_t expected = (h->machine.cycles() - start) / 1677568;
    ASSERT_EQ(at.size(), expected);
    ASSERT_GE(at.size(), 59u);
    EXPECT_EQ(timer.calls, static_cast<int>(at.size()));
    EXPECT_EQ(at[0], start + 1677568);
    for (size_t i = 1; i < at.size(); ++i) EXPECT_EQ(at[i] - at[i - 1], 1677568u) << i;
    // The handler runs right after the reload: the counter is at 0xE667.
    for (int i = 0; i < 10; ++i) EXPECT_EQ(timer.counterInHandler[i], 0xE667) << i;
}

int timerFreqMain(int, char**) {
    irqInit();
    irqSet(IRQ_TIMER0, nullptr);
    irqEnable(IRQ_TIMER0);
    TIMER0_DATA = TIMER_FREQ(1000);
    TIMER0_CR = TIMER_ENABLE | TIMER_IRQ_REQ | TIMER_DIV_1;
    idleForever();
    return 0;
}

TEST(Timers, TimerFreqReloadOverflowsThatManyTimesASecondOfTheBusClock) {
    auto h = Handheld::boot(timerFreqMain, nullptr);
    h->machine.runFrames(2);
    std::vector<uint64_t> at;
    for (const auto& e : h->entries(TraceKind::Irq)) {
        if (e.text.find("IRQ_TIMER0") != std::string::npos) at.push_back(e.cycle);
    }
    ASSERT_GE(at.size(), 2u);
    EXPECT_EQ(at[1] - at[0], vxsim::kBusHz / 1000) << "a thousandth of the bus clock's second";
}

struct CascadeLog {
    u16 low = 0, high = 0;
    int highOverflows = 0, overflowsAtRead = 0;
} cascade;

void onTimer1() { ++cascade.highOverflows; }

int cascadeMain(int, char**) {
    irqInit();
    irqSet(IRQ_TIMER1, onTimer1);
    irqEnable(IRQ_TIMER1);
    TIMER1_DATA = 0xFFFE;
    TIMER1_CR = TIMER_ENABLE | TIMER_CASCADE | TIMER_IRQ_REQ;
    TIMER0_DATA = 0xFF00;
    TIMER0_CR = TIMER_ENABLE | TIMER_DIV_64;  // 256 ticks of 64 cycles per overflow
    swiWaitForVBlank();                       // 408960 cycles: 24 overflows of timer 0
    cascade.low = TIMER0_DATA;
    cascade.high = TIMER1_DATA;
    cascade.overflowsAtRead = cascade.highOverflows;
    idleForever();
    return 0;
}

TEST(Timers, CountUpTimerCountsOverflowsOfTheOneBefore) {
    auto h = Handheld::boot(cascadeMain, nullptr);
    h->machine.runFrames(2);
    // 24 overflows of timer 0 by line 192: timer 1 went 0xFFFE, 0xFFFF,
    // overflowed (reload 0xFFFE) and so on: 12 overflows, back at 0xFFFE.
    EXPECT_EQ(cascade.overflowsAtRead, 12);
    EXPECT_EQ(cascade.high, 0xFFFE);
    EXPECT_GE(cascade.low, 0xFF00);
}

}  // namespace
