// The two screens as the display hardware composes them from registers,
// palettes and video memory.
#include <algorithm>

#include "machine_impl.h"

namespace vxsim {

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
        if (!m.memory.mapped(a)) return 0;
        return *reinterpret_cast<const volatile uint8_t*>(static_cast<uintptr_t>(a));
    }
    uint16_t read16(uint32_t offset) const { return static_cast<uint16_t>(read8(offset) | (read8(offset + 1) << 8)); }
};

bool textLayer(unsigned bgMode, int layer) {
    switch (bgMode) {
    case 0:
        return true;
    case 1:
        return layer <= 2;
    case 2:
        return layer <= 1;
    case 3:
    case 4:
    case 5:
        return layer <= 1;
    default:
        return false;
    }
}

const volatile uint16_t* palette(int engine) {
    return reinterpret_cast<const volatile uint16_t*>(
        static_cast<uintptr_t>(engine == kMainEngine ? 0x05000000 : 0x05000400));
}

// A text background pixel: its colour, or -1 where transparent.
int textPixel(const DisplayControl& d, const BgMemory& mem, int engine, int layer, int x, int y) {
    BgCnt cnt = d.background(engine, layer);
    DispCnt dispcnt = d.control(engine);
    uint32_t mapBase = cnt.mapBase(), tileBase = cnt.tileBase();
    if (engine == kMainEngine) {
        mapBase += dispcnt.mapBase();
        tileBase += dispcnt.tileBase();
    }
    int width = cnt.width(), height = cnt.height();
    int sx = (x + d.scroll(engine, layer, 0)) & (width - 1);
    int sy = (y + d.scroll(engine, layer, 1)) & (height - 1);
    int tx = sx / 8, ty = sy / 8;
    uint32_t block = static_cast<uint32_t>(tx / 32 + (ty / 32) * (width / 256));
    uint16_t entry = mem.read16(mapBase + block * 0x800u + static_cast<uint32_t>(((ty % 32) * 32 + tx % 32) * 2));
    int px = sx & 7, py = sy & 7;
    if (entry & 0x0400) px = 7 - px;
    if (entry & 0x0800) py = 7 - py;
    uint32_t tile = entry & 0x3FF;
    if (cnt.colours256()) {
        uint8_t index = mem.read8(tileBase + tile * 64 + static_cast<uint32_t>(py * 8 + px));
        return index ? palette(engine)[index] : -1;
    }
    uint8_t pair = mem.read8(tileBase + tile * 32 + static_cast<uint32_t>(py * 4 + px / 2));
    unsigned index = px & 1 ? pair >> 4 : pair & 15;
    return index ? palette(engine)[(entry >> 12) * 16 + index] : -1;
}

void renderEngine(const Machine::Impl& m, int engine, Rgb* out) {
    bool powered = m.power.engineShown(engine);
    const DisplayControl& d = m.displayControl;
    DispCnt dispcnt = d.control(engine);
    unsigned mode = dispcnt.displayMode();
    std::fill(out, out + W * H, Rgb{0, 0, 0});
    if (!powered || mode == 0) return;
    if (engine == kMainEngine && mode == 2) {
        // Framebuffer: a bank in its processor-mapped (LCD) setting, shown as is.
        int bank = static_cast<int>(dispcnt.framebufferBank());
        VramCnt control = m.videoMemory.control(bank);
        if (!control.enabled() || control.use() != 0) return;
        const uint8_t* pixels = m.memory.bankContents(bank);
        for (int i = 0; i < W * H; ++i)
            out[i] = expand(static_cast<uint16_t>(pixels[2 * i] | (pixels[2 * i + 1] << 8)));
        return;
    }
    if (mode != 1) return;  // main-memory display is not modelled
    bool main = engine == kMainEngine;
    BgMemory mem{m, main ? 0x06000000u : 0x06200000u, main ? 0x80000u : 0x20000u};
    int order[4], layers = 0;
    for (int layer = 0; layer < 4; ++layer) {
        if (!dispcnt.layerOn(layer) || !textLayer(dispcnt.bgMode(), layer)) continue;
        if (layer == 0 && main && dispcnt.bg0Is3d()) continue;  // BG0 shows 3D output then
        order[layers++] = layer;
    }
    std::stable_sort(order, order + layers, [&](int a, int b) {
        return d.background(engine, a).priority() < d.background(engine, b).priority();
    });
    Rgb backdrop = expand(palette(engine)[0]);
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            Rgb c = backdrop;
            for (int i = 0; i < layers; ++i) {
                int colour = textPixel(d, mem, engine, order[i], x, y);
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
    renderEngine(m, kMainEngine, engines[0].data());
    renderEngine(m, kSubEngine, engines[1].data());
    bool mainOnTop = m.power.mainEngineOnTop();
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
