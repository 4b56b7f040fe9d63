// Internal state of the simulated handheld, shared by the machine, the I/O
// dispatcher, the devices, the library stand-ins and the renderer.
#ifndef VXSIM_CORE_H
#define VXSIM_CORE_H

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <queue>
#include <semaphore>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "hw.h"
#include "machine.h"

namespace vxsim {

constexpr uint64_t kNever = UINT64_MAX;
constexpr uint64_t kQuantum = 1024;      // how far one processor may run ahead of the other
constexpr uint32_t kIoCost = 4;          // one register access
constexpr uint32_t kCallCost = 24;       // one library call
constexpr uint64_t kHBlankStart = 1536;  // cycle within a line where horizontal blank begins
constexpr size_t kTraceKeep = 1u << 20;  // entries kept in memory (the file gets all)

using IrqHandler = void (*)();

inline int idx(Cpu cpu) { return static_cast<int>(cpu); }
inline Cpu other(Cpu cpu) { return cpu == Cpu::Main ? Cpu::Co : Cpu::Main; }

struct WordFifo {
    uint32_t words[16] = {};
    unsigned head = 0, count = 0;
    uint32_t last = 0;  // what a read of an empty FIFO returns
    bool empty() const { return count == 0; }
    bool full() const { return count == 16; }
    void push(uint32_t w) { words[(head + count++) & 15] = w; }
    uint32_t front() const { return count ? words[head] : last; }
    uint32_t pop() {
        last = words[head];
        head = (head + 1) & 15;
        --count;
        return last;
    }
    void clear() { head = count = 0; }
};

struct TimerState {
    uint16_t reload = 0;
    uint16_t control = 0;
    uint16_t counter = 0;    // value at startTime (free-running) or the live value (cascade/stopped)
    uint64_t startTime = 0;  // when `counter` held, for a free-running timer
    hw::EventId overflow = 0;
};

enum class RunState { Absent, Runnable, Halted, Stopped };

struct CpuState {
    ProgramImage program;
    RunState run = RunState::Absent;
    uint64_t time = 0;
    bool started = false;
    bool netWait = false;
    int netFd = -1;

    // Interrupts.
    bool inIrq = false;
    uint32_t ime = 0, ie = 0, iflags = 0;
    uint32_t happened = 0;  // what the dispatcher has served, for swiWaitForVBlank
    IrqHandler handlers[32] = {};

    // Spin detection: the previous register read.
    bool lastValid = false;
    uint32_t lastAddr = 0, lastValue = 0;
    unsigned lastBytes = 0;

    // Devices.
    uint16_t dispstat = 0;  // writable bits only; status bits are computed
    hw::EventId hblankEvent = 0, vcountEvent = 0;
    uint16_t powercnt = 0;
    uint16_t ipcSync = 0;
    bool fifoEnable = false, fifoSendIrq = false, fifoRecvIrq = false, fifoError = false;
    WordFifo send;  // this processor's send FIFO = the other's receive FIFO
    TimerState timers[4];
    uint16_t soundcnt = 0;
    std::unordered_map<uint32_t, uint8_t> plain;  // registers without behaviour: stored bytes

    // Keypad library state (main).
    uint32_t keysNow = 0, keysPrev = 0;
};

// Where a video-memory bank is visible to the processor.
struct BankMapping {
    int bank = -1;
    uint32_t address = 0;
    uint32_t size = 0;
};

struct Console {
    bool ready = false;
    uint32_t mapAddress = 0;
    uint32_t tileAddress = 0;
    int row = 0, col = 0;
    std::string line;  // the line being written, for the trace
};

struct Event {
    uint64_t when;
    uint64_t seq;
    hw::EventId id;
    bool operator>(const Event& o) const { return when != o.when ? when > o.when : seq > o.seq; }
};

// Hand-over objects of one machine's threads. Never freed: a processor thread
// parked on them when the machine goes away stays parked harmlessly.
struct Baton {
    std::binary_semaphore sem[3]{std::binary_semaphore{0}, std::binary_semaphore{0}, std::binary_semaphore{0}};
};
constexpr int kHostThread = 2;

struct Machine::Impl {
    explicit Impl(const MachineConfig& cfg);
    ~Impl();

    MachineConfig config;
    CpuState cpus[2];
    CpuState& cpu(Cpu c) { return cpus[idx(c)]; }
    const CpuState& cpu(Cpu c) const { return cpus[idx(c)]; }

    // Scheduling.
    Baton* baton = nullptr;
    Cpu cur = Cpu::Main;   // processor whose program runs (or ran last)
    uint64_t limit = 0;    // cur may run without a decision until this time
    bool inEvent = false;
    uint64_t eventNow = 0;
    uint64_t horizon = 0;  // virtual time every running processor has reached
    bool poweredOn = false;
    bool stop = false;
    uint64_t frames = 0, targetFrames = 0;

    std::priority_queue<Event, std::vector<Event>, std::greater<Event>> heap;
    std::unordered_map<hw::EventId, std::function<void()>> actions;
    hw::EventId nextEventId = 1;
    uint64_t nextSeq = 0;

    // Wall-clock pacing.
    bool wallAnchored = false;
    std::chrono::steady_clock::time_point wallBase;
    uint64_t wallBaseCycle = 0;

    // Trace.
    std::deque<TraceEntry> traceLog;
    FILE* traceFile = nullptr;

    // Memory.
    int ramFd = -1, vramFd = -1;
    uint8_t* vramHost = nullptr;  // all banks, for the renderer
    uint8_t vramcnt[10] = {};
    std::vector<BankMapping> mappings;

    // Display engines: 0 main, 1 sub.
    uint32_t dispcnt[2] = {};
    uint16_t bgcnt[2][4] = {};
    uint16_t bgofs[2][8] = {};

    // Inputs.
    uint32_t keys = 0;
    bool penDown = false;
    int16_t touchRaw[2] = {}, touchPx[2] = {}, touchZ[2] = {};
    uint16_t battery = 0x0C80, aux = 0;
    uint32_t temperature = 25u << 12;
    int diode[2] = {0x0320, 0x0420};
    RtcTime clockBase;
    uint8_t clockStatus = 0;
    bool clockSet = false;
    uint64_t clockBaseCycle = 0;

    Console console;
    std::unique_ptr<wifi::Wireless> wireless;

    // --- scheduler (machine.cpp)
    uint64_t timeOf(Cpu c) const { return inEvent ? eventNow : cpu(c).time; }
    uint64_t nextEventTime();
    void boundary();                 // slow path of charge(): events, hand-over, interrupts
    void decide(int self);           // returns when `self` is to run its program
    void handOff(int self, int to);  // gives the baton away and waits for it back
    void runDueEvents(uint64_t upTo);
    void waitWall(uint64_t fromCycle, uint64_t toCycle, bool pollNet);
    void takeInterrupts();
    void haltCurrent(bool network, int fd);
    void idle(uint64_t until);
    void recomputeLimit();
    hw::EventId scheduleAt(uint64_t when, std::function<void()> action);
    void cancelEvent(hw::EventId id);
    void requestIrq(Cpu c, uint32_t mask);
    void addTrace(Cpu c, const std::string& kind, const std::string& text);

    // --- memory (memory.cpp)
    void mapMemory();
    void unmapMemory();
    void remapVram();
    bool mapped(uint32_t address) const;

    // --- devices (io.cpp)
    void resetDevices();
    uint32_t ioRead(Cpu c, uint32_t address, unsigned bytes, bool peek);
    void ioWrite(Cpu c, uint32_t address, unsigned bytes, uint32_t value);
    uint64_t nextChange(Cpu c, uint32_t address);
    void startDisplay();
    void updateDisplayIrqs(Cpu c);
    uint16_t keyInput() const;
    uint16_t keyXY() const;
    std::string regName(Cpu c, uint32_t address, unsigned bytes) const;
};

// The one machine of this process (null when none exists).
extern Machine::Impl* gMachine;
// The processor a host thread runs, or -1 for other threads.
extern thread_local int tlsCpu;

// The machine, for a program-facing call: ends the run when called where no
// processor runs.
Machine::Impl& callerMachine(const char* what);

std::string hex(uint32_t value, int digits = 0);

// The console font: glyph g is character ' ' + g, as a 4 bpp tile (32 bytes).
constexpr int kFontGlyphs = 95;
const uint8_t* fontTile(int glyph);

// Renderer (render.cpp).
std::vector<uint8_t> renderScreens(const Machine::Impl& m);

}  // namespace vxsim

#endif
