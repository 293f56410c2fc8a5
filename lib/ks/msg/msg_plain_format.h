// A formatter for the plain directives that most message texts use, so that
// a message costs no trip through the C library's general printf.
#pragma once

#include <cstdarg>
#include <cstddef>

// Formats `fmt` into buf exactly as vsnprintf would (the length the whole
// text needs; the text cut to size - 1 bytes and terminated) when every
// directive is "%%" or one of s, c, d, i, u, x, X with at most an 'l'
// modifier and neither flags, width nor precision, and the text holds no
// insert marker "%1!". Otherwise returns -2 and leaves `args` unconsumed,
// for the insert or the general formatter.
int ksi_msg_plain_format(char *buf, size_t size, const char *fmt, va_list args);
