// The console's own font.
#ifndef VXSIM_FONT_H
#define VXSIM_FONT_H

#include <cstdint>

namespace vxsim {

// Glyph g is character ' ' + g, as a 4 bpp tile (32 bytes).
constexpr int kFontGlyphs = 95;
const uint8_t* fontTile(int glyph);

}  // namespace vxsim

#endif
