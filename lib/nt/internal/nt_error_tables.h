// The mapping tables behind nt_error.h, shared with the tests so that every
// row can be checked in both directions.
#pragma once

#include <stddef.h>
#include <stdint.h>

struct nti_error_row {
  uint32_t code;     // Windows system error or Windows Sockets code
  int err;           // its errno twin
  const char *name;  // the Windows symbolic name, for reading the table
};

// Windows system error codes below the socket range, ascending.
extern const nti_error_row nti_win32_errors[];
extern const size_t nti_win32_error_count;

// Windows Sockets codes with an errno twin, one row per code and per errno
// value, so the table reads both ways.
extern const nti_error_row nti_wsa_errors[];
extern const size_t nti_wsa_error_count;

// Finds code in a table; null when absent.
const nti_error_row *nti_find_error_code(const nti_error_row *table,
                                         size_t count, uint32_t code);
