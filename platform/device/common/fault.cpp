// The end of a faulting program: its record in main memory, and on the main
// processor a screen that says so (the upper screen one plain colour, a line
// on the console) instead of a picture that merely stops.
#include "fault.h"

#include "device.h"

extern "C" int vxConsoleWrite(const char* text, int length);

namespace {

#ifdef VX_ARM9
constexpr uint32_t kOwnRecord = VX_FAULT_RECORD_MAIN;
#else
constexpr uint32_t kOwnRecord = VX_FAULT_RECORD_CO;
#endif

volatile FaultRecord& recordAt(uint32_t address) { return *reinterpret_cast<volatile FaultRecord*>(address); }

#ifdef VX_ARM9
constexpr uint16_t kMainFaultColour = 0x7C1F, kCoFaultColour = 0x03FF;  // magenta, yellow

const char* kindName(uint32_t kind) {
    switch (kind) {
    case VX_FAULT_UNDEFINED:
        return "undefined instruction";
    case VX_FAULT_ABORT:
        return "abort";
    default:
        return "exception";
    }
}

void append(char*& out, const char* text) {
    while (*text) *out++ = *text++;
}

void appendHex(char*& out, uint32_t value) {
    append(out, "0x");
    for (int shift = 28; shift >= 0; shift -= 4) *out++ = "0123456789ABCDEF"[(value >> shift) & 15];
}

// The upper screen as one colour (engine A's backdrop, no layers), and a
// line on the console if it is up. Nothing here allocates or locks.
void show(const char* who, const FaultRecord& r, uint16_t colour) {
    REG_POWERCNT = static_cast<uint16_t>(REG_POWERCNT | POWER_LCD | POWER_2D_A | POWER_2D_B);
    VX_IO16(0x0400006C) = 0;  // master brightness unchanged
    BG_PALETTE[0] = colour;
    DISPLAY_CR = 1 << 16;  // normal display, no layers: the backdrop only
    char line[80];
    char* out = line;
    append(out, "\n");
    append(out, who);
    append(out, " fault: ");
    append(out, kindName(r.kind));
    append(out, " near ");
    appendHex(out, r.address);
    append(out, "\n");
    vxConsoleWrite(line, static_cast<int>(out - line));
}
#endif

}  // namespace

extern "C" {

void vxFault(uint32_t kind, uint32_t address, uint32_t mode) {
    volatile FaultRecord& r = recordAt(kOwnRecord);
    r.kind = kind;
    r.address = address;
    r.mode = mode;
    r.magic = VX_FAULT_MAGIC;
#ifdef VX_ARM9
    show("main processor", FaultRecord{VX_FAULT_MAGIC, kind, address, mode}, kMainFaultColour);
#endif
    vxFaultStop();
}

// Where a faulted processor stays, by a name a debugger shows.
void vxFaultStop(void) {
    for (;;) asm volatile("");
}

#ifdef VX_ARM9
void vxCheckCoFault(void) {
    volatile FaultRecord& r = recordAt(VX_FAULT_RECORD_CO);
    if (r.magic != VX_FAULT_MAGIC) return;
    r.magic = 0;  // shown once
    show("co-processor", FaultRecord{VX_FAULT_MAGIC, r.kind, r.address, r.mode}, kCoFaultColour);
}
#endif

}  // extern "C"
