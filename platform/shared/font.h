// The console's own font.
#ifndef VX_SHARED_FONT_H
#define VX_SHARED_FONT_H

#include <cstdint>

namespace vxshared {

// Glyph g is character ' ' + g, as a 4 bpp tile (32 bytes).
constexpr int kFontGlyphs = 95;
const uint8_t* fontTile(int glyph);

}  // namespace vxshared

#endif
