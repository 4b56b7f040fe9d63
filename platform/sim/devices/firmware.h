// The firmware flash on the co-processor's serial bus (an M45PE-style
// 256 KB chip): READ (0x03, three address bytes, then data), FAST READ
// (0x0B, one dummy byte more), read status (0x05, always 0: never busy,
// never write-enabled) and read identification (0x9F). Writing and erasing
// are not modelled: such commands are traced and ignored.
//
// The image is all 0xFF but for what the machine needs to be coherent: the
// header's user-settings offset (0x20, in units of 8 bytes) and both copies
// of the user settings at 0x3FE00 and 0x3FF00, whose version, touch
// calibration, language, update count and CRC are filled in. The wireless
// settings stay empty: the radio works at the socket level.
#ifndef VXSIM_FIRMWARE_H
#define VXSIM_FIRMWARE_H

#include <cstdint>
#include <vector>

#include "device.h"
#include "serial_bus.h"

namespace vxsim {

// Two reference points of the touch screen, as converter values and as
// 1-based pixels, as the user settings hold them (offset 0x58).
struct TouchCalibration {
    uint16_t adcX1, adcY1;
    uint8_t scrX1, scrY1;
    uint16_t adcX2, adcY2;
    uint8_t scrX2, scrY2;
};

class Firmware final : public SerialChip {
public:
    static constexpr uint32_t kSize = 256u << 10;
    static constexpr uint32_t kUserSettings = 0x3FE00;    // the first copy
    static constexpr uint32_t kUserSettingsSize = 0x70;   // what the boot loader copies to main memory
    static constexpr uint32_t kCalibrationOffset = 0x58;  // within the user settings
    // A whole number of converter steps per pixel (12 across, 16 down), so
    // pixels and converter values map onto each other exactly.
    static constexpr TouchCalibration kCalibration = {0x0300, 0x0300, 32, 32, 0x0C00, 0x0B00, 224, 160};

    explicit Firmware(Board& board);

    const uint8_t* image() const { return image_.data(); }
    TouchCalibration calibration() const;

    uint8_t exchange(uint8_t out) override;
    void deselect() override;

private:
    enum class State { Command, Address, Dummy, Read, Status, Identify, Ignore };

    Board& board_;
    std::vector<uint8_t> image_;
    State state_ = State::Command;
    uint8_t command_ = 0;
    int count_ = 0;  // address or identification bytes so far
    uint32_t address_ = 0;
};

}  // namespace vxsim

#endif
