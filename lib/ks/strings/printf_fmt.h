// The library's one gateway to the C library's printf: message texts keep
// the "%I64d" spelling of 64-bit conversions, which is rewritten to "%lld"
// in a private copy before the C library sees the format.
#pragma once

#include <cstdarg>
#include <cstddef>

// Formats into buf. With `bounded` it behaves as vsnprintf(buf, size, ...);
// without, buf is assumed large enough (vsprintf). Returns the length the
// complete text needs, or -1 when the format could not be prepared.
int ksi_vformat(char *buf, size_t size, bool bounded, const char *fmt,
                va_list args);
