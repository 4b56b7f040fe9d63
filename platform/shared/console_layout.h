// The text console's layout in the sub engine's background 0, shared by the
// library that writes it and the simulation that reads it back: a 32 x 32
// map of which the top-left 32 x 24 is visible, glyph g for character
// ' ' + g, in palette bank 15 (so the text is palette entry 255).
#ifndef VX_SHARED_CONSOLE_LAYOUT_H
#define VX_SHARED_CONSOLE_LAYOUT_H

#include <stdint.h>

namespace vxshared {

constexpr int kConsoleColumns = 32, kConsoleRows = 24;
constexpr int kConsoleMapWidth = 32, kConsoleMapHeight = 32;
constexpr uint16_t kConsolePalette = 15 << 12;
constexpr uint16_t kConsoleGlyphMask = 0x3FF;  // the tile number in a map entry
constexpr char kConsoleFirstChar = ' ';        // glyph 0, the blank
constexpr uint16_t kConsoleBlank = kConsolePalette;

}  // namespace vxshared

#endif
