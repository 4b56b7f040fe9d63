#include "clock_port.h"

#include "format.h"

namespace vxsim {

namespace {

enum : uint8_t { kPort, kRcnt };

constexpr Register kRegisters[] = {
    {0x04000134, 2, SeenBy::Co, "REG_RCNT", kRcnt},
    {0x04000138, 1, SeenBy::Co, "REG_RTC", kPort, kTracesItself},
};

// Port lines and their direction bits (1: the processor drives the line).
constexpr uint8_t kData = 0x01, kClock = 0x02, kSelect = 0x04;
constexpr uint8_t kDataOut = 0x10, kClockOut = 0x20, kSelectOut = 0x40;

// Command byte as received: a fixed code in bits 0-3, the register in 4-6,
// read in bit 7. Without the code the chip ignores the command.
constexpr uint8_t kCodeMask = 0x0F, kCode = 0x06, kRead = 0x80;
enum : int { kStatus1, kStatus2, kDateTime, kTime, kAlarm1, kAlarm2, kAdjust, kFree };
constexpr int kLength[8] = {1, 1, 7, 3, 3, 3, 1, 1};
const char* const kNames[8] = {"status 1", "status 2", "date-time", "time", "alarm 1", "alarm 2", "adjust", "free"};

// The hours byte's afternoon flag, kept in both modes.
constexpr uint8_t kPm = 0x40;

uint8_t toBcd(int v) { return static_cast<uint8_t>(((v / 10) << 4) | (v % 10)); }
// -1 for a byte that is not two decimal digits.
int fromBcd(uint8_t b) { return (b >> 4) > 9 || (b & 15) > 9 ? -1 : (b >> 4) * 10 + (b & 15); }

bool driven(uint8_t port, uint8_t line, uint8_t out) { return (port & out) && (port & line); }

}  // namespace

std::span<const Register> ClockPort::registers() const { return kRegisters; }

uint32_t ClockPort::read(Cpu, unsigned id, bool) {
    if (id == kRcnt) return rcnt_;
    uint8_t data = (port_ & kDataOut) ? (port_ & kData) : (selected_ ? dataOut_ : 0);
    return static_cast<uint8_t>((port_ & ~kData) | data);
}

void ClockPort::write(Cpu, unsigned id, uint32_t value, uint32_t mask) {
    if (id == kRcnt) {
        rcnt_ = static_cast<uint16_t>(merge(rcnt_, value, mask));
        return;
    }
    const uint8_t old = port_;
    port_ = static_cast<uint8_t>(merge(port_, value, mask));
    const bool select = driven(port_, kSelect, kSelectOut);
    if (select && !selected_) {
        selected_ = true;
        bit_ = bytes_ = 0;
        shift_ = dataOut_ = 0;
        haveCommand_ = valid_ = rejected_ = false;
    } else if (!select && selected_) {
        deselected();
    } else if (select && !driven(old, kClock, kClockOut) && driven(port_, kClock, kClockOut)) {
        risingEdge();
    }
}

void ClockPort::risingEdge() {
    if (haveCommand_ && (command_ & kRead)) {
        if (!valid_ || bytes_ >= kLength[(command_ >> 4) & 7]) {
            dataOut_ = 0;
            return;
        }
        dataOut_ = (data_[bytes_] >> bit_) & 1;
        if (++bit_ == 8) bit_ = 0, ++bytes_;
        return;
    }
    shift_ = static_cast<uint8_t>(shift_ | (port_ & kData) << bit_);
    if (++bit_ < 8) return;
    const uint8_t byte = shift_;
    bit_ = 0;
    shift_ = 0;
    if (!haveCommand_) {
        haveCommand_ = true;
        command_ = byte;
        commandTaken();
    } else if (valid_ && bytes_ < kLength[(command_ >> 4) & 7]) {
        data_[bytes_++] = byte;
        byteWritten();
    }
}

// A read latches the register here, so a read of the date cannot see a
// second roll over between its bytes.
void ClockPort::commandTaken() {
    valid_ = (command_ & kCodeMask) == kCode;
    if (!valid_ || !(command_ & kRead)) return;
    const int reg = (command_ >> 4) & 7;
    const RtcTime t = clock_.at(now());
    const bool h24 = clock_.status() & Clock::k24Hour;
    const uint8_t hours = static_cast<uint8_t>(toBcd(h24 ? t.hours : t.hours % 12) | (t.hours >= 12 ? kPm : 0));
    const uint8_t dateTime[7] = {toBcd(t.year % 100), toBcd(t.month),  toBcd(t.day), toBcd(t.weekday), hours,
                                 toBcd(t.minutes),    toBcd(t.seconds)};
    switch (reg) {
    case kStatus1:
        data_[0] = clock_.takeStatus1();
        break;
    case kStatus2:
        data_[0] = clock_.status2();
        break;
    case kDateTime:
        for (int i = 0; i < 7; ++i) data_[i] = dateTime[i];
        break;
    case kTime:
        for (int i = 0; i < 3; ++i) data_[i] = dateTime[4 + i];
        break;
    case kAlarm1:
    case kAlarm2:
        for (int i = 0; i < 3; ++i) data_[i] = alarm_[reg - kAlarm1][i];
        break;
    case kAdjust:
        data_[0] = adjust_;
        break;
    default:
        data_[0] = free_;
        break;
    }
}

// Status and the small registers take each byte as it comes; the date and
// time take effect when their last byte is in.
void ClockPort::byteWritten() {
    const int reg = (command_ >> 4) & 7;
    const uint8_t b = data_[bytes_ - 1];
    switch (reg) {
    case kStatus1:
        clock_.writeStatus1(b, now());
        return;
    case kStatus2:
        clock_.writeStatus2(b);
        return;
    case kAlarm1:
    case kAlarm2:
        alarm_[reg - kAlarm1][bytes_ - 1] = b;
        return;
    case kAdjust:
        adjust_ = b;
        return;
    case kFree:
        free_ = b;
        return;
    default:
        break;
    }
    if (bytes_ < kLength[reg]) return;
    RtcTime t = clock_.at(now());
    const uint8_t* hms = data_;
    if (reg == kDateTime) {
        t.year = 2000 + fromBcd(data_[0]);
        t.month = fromBcd(data_[1]);
        t.day = fromBcd(data_[2]);
        t.weekday = fromBcd(data_[3]);
        hms = data_ + 4;
    }
    // In 12-hour mode the hours count 0-11 and the flag tells the afternoon.
    int hours = fromBcd(hms[0] & ~kPm);
    if (!(clock_.status() & Clock::k24Hour) && hours >= 0) hours = hours % 12 + ((hms[0] & kPm) ? 12 : 0);
    t.hours = hours;
    t.minutes = fromBcd(hms[1]);
    t.seconds = fromBcd(hms[2]);
    rejected_ = !clock_.setTime(t, now());
}

// One trace entry a command rather than one a port write: a date read is
// some 150 writes.
void ClockPort::deselected() {
    selected_ = false;
    dataOut_ = 0;
    if (!haveCommand_) {
        if (bit_ > 0)
            board_.trace(Cpu::Co, TraceKind::IoWrite, "REG_RTC clock: " + std::to_string(bit_) + " bits, no command");
        return;
    }
    std::string text = "REG_RTC clock " + hex(command_, 2);
    if (!valid_) {
        board_.trace(Cpu::Co, TraceKind::IoWrite, text + " ignored (no command code)");
        return;
    }
    text += std::string(command_ & kRead ? " read " : " write ") + kNames[(command_ >> 4) & 7] + ":";
    for (int i = 0; i < bytes_; ++i) text += " " + hex(data_[i], 2).substr(2);
    if (rejected_) text += " (no such date: ignored)";
    board_.trace(Cpu::Co, TraceKind::IoWrite, text);
}

}  // namespace vxsim
