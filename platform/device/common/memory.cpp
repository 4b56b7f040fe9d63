// memset, memcpy and memmove for the device, in place of newlib's. Video
// memory, palettes and object memory ignore byte stores (so do the radio's
// registers), and newlib's versions store bytes for any head or tail that is
// not word-aligned. These store a byte only where the range itself starts or
// ends at an odd address: a range on halfword boundaries gets halfword and
// word stores only. Built without loop-to-call rewriting, which would turn
// these loops back into calls of themselves.
#include <stddef.h>
#include <stdint.h>

namespace {

typedef uint16_t __attribute__((may_alias)) Half;
typedef uint32_t __attribute__((may_alias)) Word;

inline uintptr_t at(const void* p) { return reinterpret_cast<uintptr_t>(p); }

void copyForward(uint8_t* d, const uint8_t* s, size_t n) {
    if (n != 0 && (at(d) & 1)) {
        *d++ = *s++;
        --n;
    }
    if ((at(s) & 1) == 0) {
        if (n >= 2 && (at(d) & 2)) {
            *reinterpret_cast<Half*>(d) = *reinterpret_cast<const Half*>(s);
            d += 2, s += 2, n -= 2;
        }
        if (((at(d) | at(s)) & 3) == 0) {
            for (; n >= 4; n -= 4, d += 4, s += 4) *reinterpret_cast<Word*>(d) = *reinterpret_cast<const Word*>(s);
        }
        for (; n >= 2; n -= 2, d += 2, s += 2) *reinterpret_cast<Half*>(d) = *reinterpret_cast<const Half*>(s);
    } else {
        for (; n >= 2; n -= 2, d += 2, s += 2) *reinterpret_cast<Half*>(d) = static_cast<uint16_t>(s[0] | s[1] << 8);
    }
    if (n != 0) *d = *s;
}

// The same from the end down, for a destination above an overlapping source.
void copyBackward(uint8_t* d, const uint8_t* s, size_t n) {
    d += n, s += n;
    if (n != 0 && (at(d) & 1)) {
        *--d = *--s;
        --n;
    }
    if ((at(s) & 1) == 0) {
        if (n >= 2 && (at(d) & 2)) {
            d -= 2, s -= 2, n -= 2;
            *reinterpret_cast<Half*>(d) = *reinterpret_cast<const Half*>(s);
        }
        if (((at(d) | at(s)) & 3) == 0) {
            for (; n >= 4; n -= 4) {
                d -= 4, s -= 4;
                *reinterpret_cast<Word*>(d) = *reinterpret_cast<const Word*>(s);
            }
        }
        for (; n >= 2; n -= 2) {
            d -= 2, s -= 2;
            *reinterpret_cast<Half*>(d) = *reinterpret_cast<const Half*>(s);
        }
    } else {
        for (; n >= 2; n -= 2) {
            d -= 2, s -= 2;
            *reinterpret_cast<Half*>(d) = static_cast<uint16_t>(s[0] | s[1] << 8);
        }
    }
    if (n != 0) *--d = *--s;
}

}  // namespace

extern "C" {

void* memset(void* dest, int value, size_t n) {
    auto* p = static_cast<uint8_t*>(dest);
    const auto byte = static_cast<uint8_t>(value);
    if (n != 0 && (at(p) & 1)) {
        *p++ = byte;
        --n;
    }
    const auto half = static_cast<uint16_t>(byte * 0x0101u);
    if (n >= 2 && (at(p) & 2)) {
        *reinterpret_cast<Half*>(p) = half;
        p += 2, n -= 2;
    }
    const uint32_t word = half * 0x00010001u;
    for (; n >= 16; n -= 16, p += 16) {
        Word* w = reinterpret_cast<Word*>(p);
        w[0] = word, w[1] = word, w[2] = word, w[3] = word;
    }
    for (; n >= 4; n -= 4, p += 4) *reinterpret_cast<Word*>(p) = word;
    if (n >= 2) {
        *reinterpret_cast<Half*>(p) = half;
        p += 2, n -= 2;
    }
    if (n != 0) *p = byte;
    return dest;
}

void* memcpy(void* __restrict dest, const void* __restrict src, size_t n) {
    copyForward(static_cast<uint8_t*>(dest), static_cast<const uint8_t*>(src), n);
    return dest;
}

void* memmove(void* dest, const void* src, size_t n) {
    auto* d = static_cast<uint8_t*>(dest);
    const auto* s = static_cast<const uint8_t*>(src);
    if (at(d) <= at(s) || at(d) >= at(s) + n) copyForward(d, s, n);
    else copyBackward(d, s, n);
    return dest;
}

}  // extern "C"
