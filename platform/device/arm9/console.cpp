// The text console: the simulation's 8x8 font in tile memory, characters in a
// 32x32 map of which the top-left 32x24 is visible, in palette bank 15, so
// that entry 255 is the text colour. newlib's iprintf formats; its standard
// output ends here.
#include <stdio.h>

#include "device.h"

namespace {

const uint8_t kFont[][32] = {
#include "console_font.inc"
};
constexpr int kGlyphs = sizeof kFont / sizeof kFont[0];

constexpr int kCols = 32, kRows = 24, kMapWidth = 32;
constexpr uint16_t kTextPalette = 15 << 12;
constexpr uint16_t kBlank = kTextPalette;  // glyph 0 is the space

struct Console {
    volatile uint16_t* map = nullptr;
    int row = 0, col = 0;
} console;

void putGlyph(char ch) {
    Console& c = console;
    if (c.col == kCols) {  // the previous character filled the row
        c.col = 0;
        ++c.row;
    }
    if (c.row >= kRows) {
        for (int r = 1; r < kRows; ++r) {
            for (int col = 0; col < kCols; ++col) c.map[(r - 1) * kMapWidth + col] = c.map[r * kMapWidth + col];
        }
        for (int col = 0; col < kCols; ++col) c.map[(kRows - 1) * kMapWidth + col] = kBlank;
        c.row = kRows - 1;
    }
    const int glyph = ch >= ' ' && ch - ' ' < kGlyphs ? ch - ' ' : '?' - ' ';
    c.map[c.row * kMapWidth + c.col] = static_cast<uint16_t>(kTextPalette | glyph);
    ++c.col;
}

void put(char ch) {
    Console& c = console;
    switch (ch) {
    case '\n':
        c.col = 0;
        ++c.row;  // scrolling waits until something is written below the last row
        return;
    case '\r':
        c.col = 0;
        return;
    case '\t':
        do putGlyph(' ');
        while (c.col % 4 != 0 && c.col < kCols);
        return;
    default:
        putGlyph(ch);
    }
}

}  // namespace

extern "C" {

// Standard output's writer (see syscalls.cpp); before the console exists the
// text goes nowhere.
int vxConsoleWrite(const char* text, int length) {
    if (console.map) {
        for (int i = 0; i < length; ++i) put(text[i]);
    }
    return length;
}

void consoleInitDefault(u16* map, u16* charBase, u8 bitDepth) {
    if (bitDepth != 16) return;  // only the 16-colour console exists
    // Video memory takes 16- and 32-bit stores only.
    volatile uint16_t* tiles = charBase;
    for (int g = 0; g < kGlyphs; ++g) {
        for (int i = 0; i < 16; ++i)
            tiles[g * 16 + i] = static_cast<uint16_t>(kFont[g][2 * i] | kFont[g][2 * i + 1] << 8);
    }
    for (int i = 0; i < kMapWidth * 32; ++i) map[i] = kBlank;
    console = Console{map, 0, 0};
    // Every iprintf reaches the screen when it returns, line end or not.
    setvbuf(stdout, nullptr, _IONBF, 0);
}

}  // extern "C"
