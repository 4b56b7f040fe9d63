#include "firmware.h"

#include "crc16.h"
#include "format.h"

namespace vxsim {

namespace {

constexpr uint8_t kRead = 0x03, kFastRead = 0x0B, kReadStatus = 0x05, kReadId = 0x9F;
// Manufacturer (ST), memory type, capacity (2^18 bytes).
constexpr uint8_t kIdentification[3] = {0x20, 0x40, 0x12};

constexpr uint32_t kHeaderSettingsOffset = 0x20;
constexpr uint32_t kCopy = 0x100;  // distance between the two copies

void put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

uint16_t get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

}  // namespace

Firmware::Firmware(Board& board) : board_(board), image_(kSize, 0xFF) {
    put16(&image_[kHeaderSettingsOffset], kUserSettings / 8);
    uint8_t settings[kCopy] = {};
    put16(settings + 0x00, 5);  // settings version
    uint8_t* cal = settings + kCalibrationOffset;
    const TouchCalibration& c = kCalibration;
    put16(cal + 0, c.adcX1);
    put16(cal + 2, c.adcY1);
    cal[4] = c.scrX1;
    cal[5] = c.scrY1;
    put16(cal + 6, c.adcX2);
    put16(cal + 8, c.adcY2);
    cal[10] = c.scrX2;
    cal[11] = c.scrY2;
    put16(settings + 0x64, 1);  // language: English
    put16(settings + 0x70, 1);  // update count, the same in both copies
    put16(settings + 0x72, vxshared::crc16(settings, 0x70, 0xFFFF));
    for (uint32_t i = 0x74; i < kCopy; ++i) settings[i] = 0xFF;
    for (uint32_t copy : {kUserSettings, kUserSettings + kCopy}) {
        for (uint32_t i = 0; i < kCopy; ++i) image_[copy + i] = settings[i];
    }
}

TouchCalibration Firmware::calibration() const {
    const uint8_t* cal = &image_[kUserSettings + kCalibrationOffset];
    return TouchCalibration{get16(cal),     get16(cal + 2), cal[4],  cal[5],
                            get16(cal + 6), get16(cal + 8), cal[10], cal[11]};
}

uint8_t Firmware::exchange(uint8_t out) {
    switch (state_) {
    case State::Command:
        command_ = out;
        count_ = 0;
        address_ = 0;
        if (out == kRead || out == kFastRead) {
            state_ = State::Address;
        } else if (out == kReadStatus) {
            state_ = State::Status;
        } else if (out == kReadId) {
            state_ = State::Identify;
        } else {
            state_ = State::Ignore;
            board_.trace(Cpu::Co, TraceKind::IoWrite, "firmware command " + hex(out, 2) + " ignored");
        }
        return 0;
    case State::Address:
        address_ = (address_ << 8 | out) % kSize;
        if (++count_ == 3) state_ = command_ == kFastRead ? State::Dummy : State::Read;
        return 0;
    case State::Dummy:
        state_ = State::Read;
        return 0;
    case State::Read: {
        const uint8_t v = image_[address_];
        address_ = (address_ + 1) % kSize;  // a read runs on, round the end
        return v;
    }
    case State::Status:
        return 0;
    case State::Identify:
        return count_ < 3 ? kIdentification[count_++] : 0;
    case State::Ignore:
        return 0;
    }
    return 0;
}

void Firmware::deselect() { state_ = State::Command; }

}  // namespace vxsim
