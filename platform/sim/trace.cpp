// The trace: entries kept in memory and written to the trace file, and the
// names and line format they are shown in.
#include <cinttypes>
#include <cstdio>

#include "machine_impl.h"

namespace vxsim {

const char* cpuName(Cpu cpu) { return cpu == Cpu::Main ? "arm9" : "arm7"; }

const char* traceKindName(TraceKind kind) {
    switch (kind) {
    case TraceKind::IoWrite:
        return "io-write";
    case TraceKind::FifoSend:
        return "fifo-send";
    case TraceKind::FifoRecv:
        return "fifo-recv";
    case TraceKind::Irq:
        return "irq";
    case TraceKind::Call:
        return "call";
    case TraceKind::Console:
        return "console";
    case TraceKind::Alloc:
        return "alloc";
    case TraceKind::Wifi:
        return "wifi";
    case TraceKind::NetOpen:
        return "net-open";
    case TraceKind::NetSend:
        return "net-send";
    case TraceKind::NetRecv:
        return "net-recv";
    case TraceKind::NetDrop:
        return "net-drop";
    case TraceKind::NetError:
        return "net-error";
    }
    return "?";
}

std::string formatTraceEntry(const TraceEntry& entry) {
    char head[64];
    std::snprintf(head, sizeof head, "%12" PRIu64 " %s %s ", entry.cycle, cpuName(entry.cpu),
                  traceKindName(entry.kind));
    return head + entry.text;
}

void Machine::Impl::trace(Cpu c, TraceKind kind, const std::string& text) {
    TraceEntry e{timeOf(cur), c, kind, text};
    if (traceFile) std::fprintf(traceFile, "%s\n", formatTraceEntry(e).c_str());
    traceLog.push_back(std::move(e));
    if (traceLog.size() > kTraceKeep) traceLog.pop_front();
}

}  // namespace vxsim
