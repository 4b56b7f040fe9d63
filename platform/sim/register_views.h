// The fields of the display and video-memory registers, read through small
// views instead of shifts repeated wherever a register is looked at. The
// devices, the host API and the renderer all use these.
#ifndef VXSIM_REGISTER_VIEWS_H
#define VXSIM_REGISTER_VIEWS_H

#include <cstdint>

namespace vxsim {

// DISPCNT of either engine. The base fields (bits 24-29) count on the main
// engine only.
struct DispCnt {
    uint32_t bits = 0;

    unsigned bgMode() const { return bits & 7; }
    bool bg0Is3d() const { return bits & (1u << 3); }  // main engine: BG0 shows the 3D output
    bool layerOn(int layer) const { return bits & (1u << (8 + layer)); }
    // 0 off, 1 backgrounds and sprites, 2 a video-memory bank as a framebuffer, 3 main memory.
    unsigned displayMode() const { return (bits >> 16) & 3; }
    unsigned framebufferBank() const { return (bits >> 18) & 3; }
    uint32_t tileBase() const { return ((bits >> 24) & 7) * 0x10000u; }
    uint32_t mapBase() const { return ((bits >> 27) & 7) * 0x10000u; }
};

// BGxCNT of a text background.
struct BgCnt {
    uint16_t bits = 0;

    unsigned priority() const { return bits & 3; }
    uint32_t tileBase() const { return ((bits >> 2) & 15) * 0x4000u; }
    bool colours256() const { return bits & 0x80; }
    uint32_t mapBase() const { return ((bits >> 8) & 31) * 0x800u; }
    int width() const { return 256 << ((bits >> 14) & 1); }
    int height() const { return 256 << (bits >> 15); }
};

// DISPSTAT: three status bits the hardware computes, three interrupt
// enables and the line that raises the line-match interrupt.
struct DispStat {
    uint16_t bits = 0;

    static constexpr uint16_t kInVBlank = 1u << 0, kInHBlank = 1u << 1, kLineMatch = 1u << 2;
    static constexpr uint16_t kVBlankIrq = 1u << 3, kHBlankIrq = 1u << 4, kLineIrq = 1u << 5;
    // What a program can write: the enables and the line; the status bits
    // (0-2) and bit 6 are read-only.
    static constexpr uint16_t kWritable = 0xFFB8;

    bool vblankIrq() const { return bits & kVBlankIrq; }
    bool hblankIrq() const { return bits & kHBlankIrq; }
    bool lineIrq() const { return bits & kLineIrq; }
    // Nine bits: 8-15 hold its low part, bit 7 its ninth.
    unsigned matchLine() const { return (bits >> 8) | ((bits & 0x80u) << 1); }
};

// VRAMCNT of one bank: enable, the use (MST) and the offset within that use.
struct VramCnt {
    uint8_t bits = 0;

    static constexpr uint8_t kEnable = 0x80;

    bool enabled() const { return bits & kEnable; }
    unsigned use() const { return bits & 7; }
    unsigned offset() const { return (bits >> 3) & 3; }
};

}  // namespace vxsim

#endif
