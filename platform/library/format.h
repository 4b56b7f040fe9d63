// printf for integers and text, without a heap: %d %i %u %x %X %c %s %p %%,
// the flags - 0 + and space, a width and a precision (either may be *), the
// sizes h, l, ll and z. Floating-point conversions take their argument and
// print nothing, as the integer-only printer does; any other conversion
// prints itself.
#ifndef VX_LIBRARY_FORMAT_H
#define VX_LIBRARY_FORMAT_H

#include <stdarg.h>

namespace vxlib {

// Hands each character of the result to put(ch, context) in order; returns
// how many there were.
int formatTo(void (*put)(char ch, void* context), void* context, const char* format, va_list ap);

}  // namespace vxlib

#endif
