// The simulated handheld in a test: a machine with a program on each
// processor (or none), the trace queries every test builds on, and what
// the screens and the console show.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "machine.h"
#include "test_program.h"

namespace vxsim {
// Trace kinds in test messages as the trace file names them.
inline std::ostream& operator<<(std::ostream& os, TraceKind kind) { return os << traceKindName(kind); }
}  // namespace vxsim

namespace vxtest {

using vxsim::Cpu;
using vxsim::TraceEntry;
using vxsim::TraceKind;

using Program = int (*)(int, char**);

// A program image for a test's own entry point.
vxsim::ProgramImage programImage(const std::string& name, Program entry);

// A configuration whose clock does not depend on the host's.
vxsim::MachineConfig fixedConfig();

// VX_TEST_TRACE=path streams a run's trace to a file, for a failing case
// (unless the configuration names a file of its own).
vxsim::MachineConfig withTraceFile(vxsim::MachineConfig config);

// The one trace query: of `kind`, of `cpu` where one is given, with `text`
// in its text.
bool matches(const TraceEntry& e, TraceKind kind, std::optional<Cpu> cpu, const std::string& text);
// The first position in `entries` at or after `from` that matches, or -1.
int findFrom(const std::vector<TraceEntry>& entries, size_t from, TraceKind kind, const std::string& text = "",
             std::optional<Cpu> cpu = std::nullopt);

class Handheld {
public:
    // A missing image (no entry) leaves that processor without a program.
    Handheld(const vxsim::MachineConfig& config, const vxsim::ProgramImage& main, const vxsim::ProgramImage& co,
             bool powerOn = true);
    // A test's own programs (null: none), powered on.
    static std::unique_ptr<Handheld> boot(Program main, Program co, const vxsim::MachineConfig& config = fixedConfig());

    // Trace entries of one kind (and processor) whose text contains `text`.
    std::vector<TraceEntry> entries(TraceKind kind, const std::string& text = "") const;
    std::vector<TraceEntry> entries(Cpu cpu, TraceKind kind, const std::string& text = "") const;
    std::vector<std::string> texts(Cpu cpu, TraceKind kind) const;
    int count(TraceKind kind, const std::string& text = "") const;
    int count(Cpu cpu, TraceKind kind, const std::string& text = "") const;
    std::optional<TraceEntry> find(TraceKind kind, const std::string& text = "") const;

    // The console rows joined by '\n'.
    std::string consoleText() const;

    vxsim::Machine machine;

private:
    std::vector<TraceEntry> select(std::optional<Cpu> cpu, TraceKind kind, const std::string& text) const;
};

// Boots a test's own programs and runs one frame: the statement of a death
// test for a program that must end the run.
void runOneFrame(Program main, Program co);

// Pixels of renderScreens(): screen 0 on top, 1 below.
struct Pixel {
    int r, g, b;
    bool operator==(const Pixel&) const = default;
};
Pixel pixel(const std::vector<uint8_t>& rgb, int screen, int x, int y);
Pixel expand555(unsigned colour);

}  // namespace vxtest
