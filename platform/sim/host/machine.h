// The simulated handheld as its host sees it: load two programs, power on,
// run frames of virtual time, feed inputs, read screens, console and trace.
//
// One machine per process: its memory is mapped at the device's addresses.
#ifndef VXSIM_MACHINE_H
#define VXSIM_MACHINE_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vxsim {

enum class Cpu : int { Main = 0, Co = 1 };  // main processor (arm9), co-processor (arm7)
const char* cpuName(Cpu cpu);               // "arm9" / "arm7"

// Device timing.
constexpr uint64_t kBusHz = 33513982;
constexpr uint64_t kCyclesPerLine = 2130;
constexpr uint64_t kLinesPerFrame = 263;
constexpr uint64_t kCyclesPerFrame = kCyclesPerLine * kLinesPerFrame;  // 560190
constexpr unsigned kVBlankLine = 192;
constexpr int kScreenWidth = 256;
constexpr int kScreenHeight = 192;

// A program for one processor. The entry is called on that processor's own
// stack; it normally never returns. ipMalloc/ipFree are the program's
// sgIP_malloc/sgIP_free (main processor only; null where the program has none).
struct ProgramImage {
    std::string name;
    int (*entry)(int argc, char** argv) = nullptr;
    void* (*ipMalloc)(int size) = nullptr;
    void (*ipFree)(void* block) = nullptr;
};

// Loads a program built as a loadable module (its own globals, its own main).
// On failure returns false with a one-line reason in `error`.
bool loadProgramModule(const std::string& path, ProgramImage& out, std::string& error);

// Datagrams the handheld sends to `port` (any address) leave the host for
// hostAddress:hostPort instead; replies from there appear to come from `port`.
struct PortForward {
    uint16_t port = 0;
    uint32_t hostAddress = 0;  // IPv4, host byte order
    uint16_t hostPort = 0;
};

struct RtcTime {
    int year = 2026;  // 2000..2099
    int month = 1, day = 1, weekday = 0;
    int hours = 0, minutes = 0, seconds = 0;
};

// Raw touch-controller readings.
struct TouchRaw {
    int x = 0, y = 0;
};

struct MachineConfig {
    bool storedSettings = true;       // the console holds Wi-Fi Connection settings
    bool matchingAccessPoint = true;  // the world has an access point matching them
    std::vector<PortForward> forwards;
    std::optional<RtcTime> clock;  // default: host local time at power-on
    bool realtime = false;         // pace virtual time to the wall clock
    std::string tracePath;         // also stream the trace to this file
};

// What kind of action a trace entry records.
enum class TraceKind {
    IoWrite,   // a register write: "REG_IPC_FIFO_CR=0x8008"
    FifoSend,  // a word into the send FIFO (or why it was not taken)
    FifoRecv,  // a word out of the receive FIFO
    Irq,       // interrupts the dispatcher took: "IRQ_VBLANK|IRQ_TIMER3"
    Call,      // a library call: "Wifi_Timer(50)", "recvfrom(0, 4)=4 from 127.0.0.1:80"
    Console,   // a line the text console finished
    Alloc,     // the IP stack's buffers through the program's hooks
    Wifi,      // the wireless halves' own progress: "association: associated"
    NetOpen,   // the radio opened a host socket
    NetSend,   // a datagram left for the host: "127.0.0.1:80 5 bytes"
    NetRecv,   // a datagram came in from the host
    NetDrop,   // a datagram was lost, and why
    NetError,  // the host refused something
};
// "io-write", "fifo-send", ... as the trace file shows them.
const char* traceKindName(TraceKind kind);

// One externally visible action.
struct TraceEntry {
    uint64_t cycle = 0;
    Cpu cpu = Cpu::Main;
    TraceKind kind = TraceKind::Call;
    std::string text;
};
std::string formatTraceEntry(const TraceEntry& entry);

class Machine {
public:
    explicit Machine(const MachineConfig& config);
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    void load(Cpu cpu, const ProgramImage& program);
    void powerOn();  // both loaded programs start at their entries

    // Runs until `frames` more vertical blanks have begun.
    void runFrames(uint64_t frames);
    // Runs frame by frame until pred() holds or maxFrames have passed; returns pred().
    bool runUntil(const std::function<bool()>& pred, uint64_t maxFrames);
    uint64_t cycles() const;      // virtual time since power-on
    uint64_t frameCount() const;  // vertical blanks begun since power-on

    // Inputs. Keys use the KEY_* bits, 1 = held; KEY_X and KEY_Y reach the
    // co-processor's extra-keys register, the rest REG_KEYINPUT.
    void setKeys(uint32_t held);
    // The pen as the touch controller measures it: position and pressure
    // conversions (the library turns the position into pixels).
    void setTouch(bool down, int rawX = 0, int rawY = 0, int z1 = 0, int z2 = 0);
    // The raw X and Y that read back as pixel (px, py) of the lower screen
    // through the touch calibration in the machine's firmware (and main
    // memory): (raw - adc1) * (scr2 - scr1) / (adc2 - adc1) + scr1 - 1.
    TouchRaw touchRawAt(int px, int py) const;
    void setBattery(uint16_t value);
    void setAux(uint16_t value);
    // The two temperature diodes' conversions (12 bits); the library computes
    // the temperature from their difference.
    void setTemperatureDiodes(uint16_t diode1, uint16_t diode2);
    void setClock(const RtcTime& time, uint8_t statusByte = 0);

    // Outputs. RGB888, 256 x 384: the top screen above the bottom screen.
    std::vector<uint8_t> renderScreens() const;
    // The console text read back from the sub engine's map, one string per
    // row, trailing blanks trimmed.
    std::vector<std::string> consoleLines() const;
    std::vector<TraceEntry> trace() const;

    // Register value as the given processor would read it, without side effects.
    uint32_t peekIo(Cpu cpu, uint32_t address, unsigned bytes) const;
    // Device memory (main memory, palettes, video memory where the processor
    // sees it) between runs: false, copying nothing, where any of the range
    // is not mapped.
    bool readMemory(uint32_t address, void* out, size_t size) const;
    bool writeMemory(uint32_t address, const void* data, size_t size);

    struct Impl;  // the machine's inside, private to the platform library

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace vxsim

#endif
