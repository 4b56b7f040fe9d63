// The text console: the font goes into tile memory, characters into a 32x32
// map of which the top-left 32x24 is visible, in palette bank 15.
#include <cstdarg>
#include <cstring>

#include <nds.h>

#include "font.h"
#include "library.h"

using vxshared::fontTile;
using vxshared::kFontGlyphs;

namespace vxsim {

namespace {

constexpr int kCols = 32, kRows = 24;
constexpr uint16_t kTextPalette = 15 << 12;
constexpr uint16_t kBlank = kTextPalette;  // glyph 0 is the space

volatile uint16_t* consoleMap(const ConsoleState& c) {
    return reinterpret_cast<volatile uint16_t*>(static_cast<uintptr_t>(c.mapAddress));
}

void endLine(Machine::Impl& m) {
    m.trace(m.cur, TraceKind::Console, m.console.line);
    m.console.line.clear();
}

void putGlyph(Machine::Impl& m, char ch) {
    ConsoleState& c = m.console;
    if (c.col == kCols) {  // the previous character filled the row
        endLine(m);
        c.col = 0;
        ++c.row;
    }
    volatile uint16_t* map = consoleMap(c);
    if (c.row >= kRows) {
        for (int r = 1; r < kRows; ++r) {
            for (int col = 0; col < kCols; ++col) map[(r - 1) * 32 + col] = map[r * 32 + col];
        }
        for (int col = 0; col < kCols; ++col) map[(kRows - 1) * 32 + col] = kBlank;
        c.row = kRows - 1;
    }
    int glyph = ch >= ' ' && ch <= '~' ? ch - ' ' : '?' - ' ';
    map[c.row * 32 + c.col] = static_cast<uint16_t>(kTextPalette | glyph);
    c.line += static_cast<char>(' ' + glyph);
    ++c.col;
}

void put(Machine::Impl& m, char ch) {
    ConsoleState& c = m.console;
    switch (ch) {
    case '\n':
        endLine(m);
        c.col = 0;
        ++c.row;  // scrolling waits until something is written below the last row
        return;
    case '\r':
        c.col = 0;
        return;
    case '\t':
        do putGlyph(m, ' ');
        while (c.col % 4 != 0 && c.col < kCols);
        return;
    default:
        putGlyph(m, ch);
    }
}

// printf for integers and text only: %d %i %u %x %X %c %s %p %%, with the
// flags - 0 + and space, a width and a precision. Floating-point
// conversions print nothing, as the integer-only printer does.
std::string format(const char* f, va_list ap) {
    std::string out;
    for (; *f; ++f) {
        if (*f != '%') {
            out += *f;
            continue;
        }
        ++f;
        bool left = false, zero = false, plus = false, space = false;
        for (;; ++f) {
            if (*f == '-') left = true;
            else if (*f == '0') zero = true;
            else if (*f == '+') plus = true;
            else if (*f == ' ') space = true;
            else break;
        }
        int width = 0;
        if (*f == '*') {
            width = va_arg(ap, int);
            if (width < 0) {
                left = true;
                width = -width;
            }
            ++f;
        } else {
            while (*f >= '0' && *f <= '9') width = width * 10 + (*f++ - '0');
        }
        int precision = -1;
        if (*f == '.') {
            ++f;
            precision = 0;
            if (*f == '*') {
                precision = va_arg(ap, int);
                ++f;
            } else {
                while (*f >= '0' && *f <= '9') precision = precision * 10 + (*f++ - '0');
            }
        }
        int longs = 0;
        bool size = false;
        for (;; ++f) {
            if (*f == 'l') ++longs;
            else if (*f == 'z') size = true;
            else if (*f == 'h') continue;
            else break;
        }
        std::string body, sign;
        char conv = *f;
        if (!conv) break;
        switch (conv) {
        case 'd':
        case 'i': {
            long long v = longs >= 2   ? va_arg(ap, long long)
                          : longs == 1 ? va_arg(ap, long)
                          : size       ? static_cast<long long>(va_arg(ap, size_t))
                                       : va_arg(ap, int);
            unsigned long long u =
                v < 0 ? 0ull - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
            do body.insert(body.begin(), static_cast<char>('0' + u % 10));
            while (u /= 10);
            sign = v < 0 ? "-" : plus ? "+" : space ? " " : "";
            break;
        }
        case 'u':
        case 'x':
        case 'X':
        case 'p': {
            unsigned long long u;
            if (conv == 'p') u = reinterpret_cast<uintptr_t>(va_arg(ap, void*));
            else if (longs >= 2) u = va_arg(ap, unsigned long long);
            else if (longs == 1) u = va_arg(ap, unsigned long);
            else if (size) u = va_arg(ap, size_t);
            else u = va_arg(ap, unsigned);
            unsigned base = conv == 'u' ? 10 : 16;
            const char* digits = conv == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
            do body.insert(body.begin(), digits[u % base]);
            while (u /= base);
            if (conv == 'p') sign = "0x";
            break;
        }
        case 'c':
            body = static_cast<char>(va_arg(ap, int));
            break;
        case 's': {
            const char* s = va_arg(ap, const char*);
            if (!s) s = "(null)";
            body = precision >= 0 ? std::string(s, strnlen(s, static_cast<size_t>(precision))) : std::string(s);
            precision = -1;
            break;
        }
        case '%':
            out += '%';
            continue;
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            (void)va_arg(ap, double);
            continue;
        default:
            out += '%';
            out += conv;
            continue;
        }
        if (precision >= 0 && conv != 'c') {
            while (static_cast<int>(body.size()) < precision) body.insert(body.begin(), '0');
            zero = false;
        }
        int pad = width - static_cast<int>(body.size() + sign.size());
        if (pad <= 0) out += sign + body;
        else if (left) out += sign + body + std::string(static_cast<size_t>(pad), ' ');
        else if (zero && conv != 'c' && conv != 's') out += sign + std::string(static_cast<size_t>(pad), '0') + body;
        else out += std::string(static_cast<size_t>(pad), ' ') + sign + body;
    }
    return out;
}

}  // namespace

std::vector<std::string> Machine::consoleLines() const {
    const Impl& m = *impl_;
    std::vector<std::string> lines;
    if (!m.console.ready || !m.memory.mapped(m.console.mapAddress)) return lines;
    const volatile uint16_t* map = consoleMap(m.console);
    for (int r = 0; r < kRows; ++r) {
        std::string line;
        for (int c = 0; c < kCols; ++c) {
            unsigned tile = map[r * 32 + c] & 0x3FF;
            line += tile < kFontGlyphs ? static_cast<char>(' ' + tile) : '?';
        }
        line.erase(line.find_last_not_of(' ') + 1);
        lines.push_back(line);
    }
    return lines;
}

}  // namespace vxsim

using namespace vxsim;

extern "C" {

void consoleInitDefault(u16* map, u16* charBase, u8 bitDepth) {
    Machine::Impl& m = enter("consoleInitDefault", Cpu::Main);
    if (bitDepth != 16)
        hw::fatal("consoleInitDefault: only the 16-colour console exists (asked for " + std::to_string(bitDepth) + ")");
    traceCall(m, "consoleInitDefault(" + hex(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(map)), 8) + "," +
                     hex(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(charBase)), 8) + ",16)");
    volatile uint16_t* tiles = charBase;
    for (int g = 0; g < kFontGlyphs; ++g) {
        const uint8_t* t = fontTile(g);
        for (int i = 0; i < 16; ++i) tiles[g * 16 + i] = static_cast<uint16_t>(t[2 * i] | (t[2 * i + 1] << 8));
    }
    volatile uint16_t* cells = map;
    for (int i = 0; i < 32 * 32; ++i) cells[i] = kBlank;
    m.console = ConsoleState{};
    m.console.ready = true;
    m.console.mapAddress = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(map));
    m.console.tileAddress = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(charBase));
}

int iprintf(const char* fmt, ...) {
    Machine::Impl& m = enter("iprintf", Cpu::Main);
    va_list ap;
    va_start(ap, fmt);
    std::string text = format(fmt, ap);
    va_end(ap);
    // Before the console exists the text goes nowhere, as on the device.
    if (m.console.ready) {
        for (char ch : text) put(m, ch);
    }
    return static_cast<int>(text.size());
}

}  // extern "C"
