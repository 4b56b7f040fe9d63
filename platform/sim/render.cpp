// The two screens as the display hardware composes them from registers,
// palettes and video memory.
#include <algorithm>

#include "core.h"

#include <nds.h>

namespace vxsim {

const uint8_t* bankContents(const Machine::Impl& m, int bank);

namespace {

constexpr int W = kScreenWidth, H = kScreenHeight;

struct Rgb {
    uint8_t r, g, b;
};

Rgb expand(uint16_t c) {
    auto e = [](unsigned v) { return static_cast<uint8_t>((v << 3) | (v >> 2)); };
    return {e(c & 31), e((c >> 5) & 31), e((c >> 10) & 31)};
}

// Background memory of an engine as the engine sees it: the banks mapped
// into its background range, 16 KB at a time.
struct BgMemory {
    const Machine::Impl& m;
    uint32_t base, size;
    uint8_t read8(uint32_t offset) const {
        if (offset >= size) return 0;
        uint32_t a = base + offset;
        if (!m.mapped(a)) return 0;
        return *reinterpret_cast<const volatile uint8_t*>(static_cast<uintptr_t>(a));
    }
    uint16_t read16(uint32_t offset) const { return static_cast<uint16_t>(read8(offset) | (read8(offset + 1) << 8)); }
};

bool textLayer(unsigned bgMode, int layer) {
    switch (bgMode) {
    case 0: return true;
    case 1: return layer <= 2;
    case 2: return layer <= 1;
    case 3: case 4: case 5: return layer <= 1;
    default: return false;
    }
}

// A text background pixel: its colour, or -1 where transparent.
int textPixel(const Machine::Impl& m, const BgMemory& mem, int engine, int layer, int x, int y) {
    uint16_t cnt = m.bgcnt[engine][layer];
    uint32_t dispcnt = m.dispcnt[engine];
    uint32_t mapBase = ((cnt >> 8) & 31) * 0x800u, tileBase = ((cnt >> 2) & 15) * 0x4000u;
    if (engine == 0) {
        mapBase += ((dispcnt >> 27) & 7) * 0x10000u;
        tileBase += ((dispcnt >> 24) & 7) * 0x10000u;
    }
    unsigned sizeBits = cnt >> 14;
    int width = 256 << (sizeBits & 1), height = 256 << (sizeBits >> 1);
    int sx = (x + m.bgofs[engine][layer * 2]) & (width - 1);
    int sy = (y + m.bgofs[engine][layer * 2 + 1]) & (height - 1);
    int tx = sx / 8, ty = sy / 8;
    uint32_t block = static_cast<uint32_t>(tx / 32 + (ty / 32) * (width / 256));
    uint16_t entry = mem.read16(mapBase + block * 0x800u + static_cast<uint32_t>(((ty % 32) * 32 + tx % 32) * 2));
    int px = sx & 7, py = sy & 7;
    if (entry & 0x0400) px = 7 - px;
    if (entry & 0x0800) py = 7 - py;
    uint32_t tile = entry & 0x3FF;
    const volatile uint16_t* palette =
        reinterpret_cast<const volatile uint16_t*>(static_cast<uintptr_t>(engine == 0 ? 0x05000000 : 0x05000400));
    if (cnt & BG_COLOR_256) {
        uint8_t index = mem.read8(tileBase + tile * 64 + static_cast<uint32_t>(py * 8 + px));
        return index ? palette[index] : -1;
    }
    uint8_t pair = mem.read8(tileBase + tile * 32 + static_cast<uint32_t>(py * 4 + px / 2));
    unsigned index = px & 1 ? pair >> 4 : pair & 15;
    return index ? palette[(entry >> 12) * 16 + index] : -1;
}

void renderEngine(const Machine::Impl& m, int engine, Rgb* out) {
    const CpuState& main = m.cpu(Cpu::Main);
    bool powered = (main.powercnt & POWER_LCD) && (main.powercnt & (engine == 0 ? POWER_2D_A : POWER_2D_B));
    uint32_t dispcnt = m.dispcnt[engine];
    unsigned mode = (dispcnt >> 16) & 3;
    std::fill(out, out + W * H, Rgb{0, 0, 0});
    if (!powered || mode == 0) return;
    if (engine == 0 && mode == 2) {
        // Framebuffer: a bank in its processor-mapped setting, shown as is.
        int bank = static_cast<int>((dispcnt >> 18) & 3);
        uint8_t control = m.vramcnt[bank];
        if (!(control & VRAM_ENABLE) || (control & 7) != 0) return;
        const uint8_t* pixels = bankContents(m, bank);
        for (int i = 0; i < W * H; ++i) out[i] = expand(static_cast<uint16_t>(pixels[2 * i] | (pixels[2 * i + 1] << 8)));
        return;
    }
    if (mode != 1) return;  // main-memory display is not modelled
    BgMemory mem{m, engine == 0 ? 0x06000000u : 0x06200000u, engine == 0 ? 0x80000u : 0x20000u};
    unsigned bgMode = dispcnt & 7;
    int order[4], layers = 0;
    for (int layer = 0; layer < 4; ++layer) {
        if (!(dispcnt & (DISPLAY_BG0_ACTIVE << layer)) || !textLayer(bgMode, layer)) continue;
        if (layer == 0 && engine == 0 && (dispcnt & 8)) continue;  // BG0 shows 3D output then
        order[layers++] = layer;
    }
    std::stable_sort(order, order + layers,
                     [&](int a, int b) { return (m.bgcnt[engine][a] & 3) < (m.bgcnt[engine][b] & 3); });
    const volatile uint16_t* palette =
        reinterpret_cast<const volatile uint16_t*>(static_cast<uintptr_t>(engine == 0 ? 0x05000000 : 0x05000400));
    Rgb backdrop = expand(palette[0]);
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            Rgb c = backdrop;
            for (int i = 0; i < layers; ++i) {
                int colour = textPixel(m, mem, engine, order[i], x, y);
                if (colour >= 0) {
                    c = expand(static_cast<uint16_t>(colour));
                    break;
                }
            }
            out[y * W + x] = c;
        }
    }
}

}  // namespace

std::vector<uint8_t> renderScreens(const Machine::Impl& m) {
    std::vector<Rgb> engines[2] = {std::vector<Rgb>(W * H), std::vector<Rgb>(W * H)};
    renderEngine(m, 0, engines[0].data());
    renderEngine(m, 1, engines[1].data());
    bool mainOnTop = m.cpu(Cpu::Main).powercnt & POWER_SWAP_LCDS;
    const std::vector<Rgb>& top = engines[mainOnTop ? 0 : 1];
    const std::vector<Rgb>& bottom = engines[mainOnTop ? 1 : 0];
    std::vector<uint8_t> out(static_cast<size_t>(W) * H * 2 * 3);
    for (int i = 0; i < W * H; ++i) {
        out[3 * i] = top[i].r;
        out[3 * i + 1] = top[i].g;
        out[3 * i + 2] = top[i].b;
        size_t j = static_cast<size_t>(W * H + i) * 3;
        out[j] = bottom[i].r;
        out[j + 1] = bottom[i].g;
        out[j + 2] = bottom[i].b;
    }
    return out;
}

}  // namespace vxsim
