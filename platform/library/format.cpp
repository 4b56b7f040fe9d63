#include "format.h"

#include <stddef.h>
#include <stdint.h>

namespace vxlib {

namespace {

struct Out {
    void (*put)(char, void*);
    void* context;
    int count = 0;

    void ch(char c) {
        put(c, context);
        ++count;
    }
    void repeat(char c, int n) {
        for (int i = 0; i < n; ++i) ch(c);
    }
    void text(const char* s, int n) {
        for (int i = 0; i < n; ++i) ch(s[i]);
    }
};

// The digits of `u` in `base`, most significant first, at the end of
// `buffer`; returns where they begin. 32-bit division where the value fits,
// which the device does without a library call.
char* digitsOf(unsigned long long u, unsigned base, const char* digits, char* end) {
    char* p = end;
    while (u > UINT32_MAX) {
        *--p = digits[u % base];
        u /= base;
    }
    uint32_t v = static_cast<uint32_t>(u);
    do *--p = digits[v % base];
    while (v /= base);
    return p;
}

}  // namespace

int formatTo(void (*put)(char, void*), void* context, const char* f, va_list ap) {
    Out out{put, context};
    for (; *f; ++f) {
        if (*f != '%') {
            out.ch(*f);
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
            else if (*f != 'h') break;
        }
        const char conv = *f;
        if (!conv) break;

        char buffer[20];  // 64 bits take at most 20 decimal digits
        char* const end = buffer + sizeof buffer;
        const char* body = buffer;
        int length = 0;
        const char* sign = "";  // or what comes before the digits: "-", "+", " ", "0x"
        switch (conv) {
        case 'd':
        case 'i': {
            long long v = longs >= 2   ? va_arg(ap, long long)
                          : longs == 1 ? va_arg(ap, long)
                          : size       ? static_cast<long long>(va_arg(ap, size_t))
                                       : va_arg(ap, int);
            unsigned long long u =
                v < 0 ? 0ull - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
            body = digitsOf(u, 10, "0123456789", end);
            length = static_cast<int>(end - body);
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
            body = digitsOf(u, conv == 'u' ? 10 : 16, conv == 'X' ? "0123456789ABCDEF" : "0123456789abcdef", end);
            length = static_cast<int>(end - body);
            if (conv == 'p') sign = "0x";
            break;
        }
        case 'c':
            buffer[0] = static_cast<char>(va_arg(ap, int));
            body = buffer;
            length = 1;
            break;
        case 's': {
            const char* s = va_arg(ap, const char*);
            if (!s) s = "(null)";
            body = s;
            while (s[length] && (precision < 0 || length < precision)) ++length;
            precision = -1;
            break;
        }
        case '%':
            out.ch('%');
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
            out.ch('%');
            out.ch(conv);
            continue;
        }
        int zeros = 0;  // from the precision
        if (precision >= 0 && conv != 'c') {
            if (precision > length) zeros = precision - length;
            zero = false;
        }
        int signLength = 0;
        while (sign[signLength]) ++signLength;
        const int pad = width - signLength - zeros - length;
        if (pad > 0 && !left && !(zero && conv != 'c' && conv != 's')) out.repeat(' ', pad);
        out.text(sign, signLength);
        if (pad > 0 && !left && zero && conv != 'c' && conv != 's') out.repeat('0', pad);
        out.repeat('0', zeros);
        out.text(body, length);
        if (pad > 0 && left) out.repeat(' ', pad);
    }
    return out.count;
}

}  // namespace vxlib
