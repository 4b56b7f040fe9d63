// The text console: the shared font in tile memory, characters in the map
// as console_layout.h lays them out. iprintf formats straight onto it.
#include <nds.h>

#include "console_layout.h"
#include "font.h"
#include "format.h"
#include "hooks.h"
#include "locals.h"

using namespace vxshared;
using Console = vxlib::Locals::Console;

namespace {

const uint8_t kFont[][32] = {
#include "console_font.inc"
};
constexpr int kGlyphs = sizeof kFont / sizeof kFont[0];
static_assert(kGlyphs == kFontGlyphs);

Console& console() { return vxlib::locals().console; }

// A line is finished (the trace has it in the simulation).
void endLine([[maybe_unused]] Console& c) {
#ifndef VX_DEVICE
    VX_LIB_CONSOLE_LINE(c.line, c.lineLength);
    c.lineLength = 0;
#endif
}

void putGlyph(Console& c, char ch) {
    if (c.col == kConsoleColumns) {  // the previous character filled the row
        endLine(c);
        c.col = 0;
        ++c.row;
    }
    volatile uint16_t* map = c.map;
    if (c.row >= kConsoleRows) {
        for (int r = 1; r < kConsoleRows; ++r) {
            for (int col = 0; col < kConsoleColumns; ++col)
                map[(r - 1) * kConsoleMapWidth + col] = map[r * kConsoleMapWidth + col];
        }
        for (int col = 0; col < kConsoleColumns; ++col)
            map[(kConsoleRows - 1) * kConsoleMapWidth + col] = kConsoleBlank;
        c.row = kConsoleRows - 1;
    }
    const int glyph =
        ch >= kConsoleFirstChar && ch - kConsoleFirstChar < kGlyphs ? ch - kConsoleFirstChar : '?' - kConsoleFirstChar;
    map[c.row * kConsoleMapWidth + c.col] = static_cast<uint16_t>(kConsolePalette | glyph);
#ifndef VX_DEVICE
    if (c.lineLength < static_cast<int>(sizeof c.line)) c.line[c.lineLength++] = static_cast<char>(' ' + glyph);
#endif
    ++c.col;
}

void put(Console& c, char ch) {
    switch (ch) {
    case '\n':
        endLine(c);
        c.col = 0;
        ++c.row;  // scrolling waits until something is written below the last row
        return;
    case '\r':
        c.col = 0;
        return;
    case '\t':
        do putGlyph(c, ' ');
        while (c.col % 4 != 0 && c.col < kConsoleColumns);
        return;
    default:
        putGlyph(c, ch);
    }
}

// Before the console exists the text goes nowhere.
void putIfReady(char ch, void* context) {
    Console& c = *static_cast<Console*>(context);
    if (c.map) put(c, ch);
}

}  // namespace

extern "C" {

void consoleInitDefault(u16* map, u16* charBase, u8 bitDepth) {
    VX_LIB_CALL(Main, "consoleInitDefault");
    VX_LIB_TRACE("consoleInitDefault(0x%08X,0x%08X,%u)", static_cast<unsigned>(reinterpret_cast<uintptr_t>(map)),
                 static_cast<unsigned>(reinterpret_cast<uintptr_t>(charBase)), bitDepth);
    if (bitDepth != 16) {
        VX_LIB_FATAL("consoleInitDefault: only the 16-colour console exists (asked for %u)", bitDepth);
        return;
    }
    // Video memory takes 16- and 32-bit stores only.
    volatile uint16_t* tiles = charBase;
    for (int g = 0; g < kGlyphs; ++g) {
        for (int i = 0; i < 16; ++i)
            tiles[g * 16 + i] = static_cast<uint16_t>(kFont[g][2 * i] | kFont[g][2 * i + 1] << 8);
    }
    volatile uint16_t* cells = map;
    for (int i = 0; i < kConsoleMapWidth * kConsoleMapHeight; ++i) cells[i] = kConsoleBlank;
    Console& c = console();
    c = Console{};
    c.map = map;
}

int iprintf(const char* format, ...) {
    VX_LIB_CALL(Main, "iprintf");
    va_list ap;
    va_start(ap, format);
    const int count = vxlib::formatTo(putIfReady, &console(), format, ap);
    va_end(ap);
    return count;
}

#ifdef VX_DEVICE
// Standard output's writer (syscalls.cpp).
int vxConsoleWrite(const char* text, int length) {
    Console& c = console();
    for (int i = 0; i < length; ++i) putIfReady(text[i], &c);
    return length;
}
#endif

}  // extern "C"
