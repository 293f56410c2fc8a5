// Enumerations of RPC records as the 32-bit words they travel as. A value
// decoded from the wire may lie outside the enumeration's declared values,
// which C++ may not load or store through the enumeration type itself, so
// these helpers move the word without the enumeration type's rules.
#pragma once

#include <cstdint>
#include <cstring>

template <typename E>
inline int32_t ksi_enum_word(const E &e) {
  static_assert(sizeof(E) == sizeof(int32_t));
  int32_t word;
  memcpy(&word, &e, sizeof word);
  return word;
}

template <typename E>
inline void ksi_set_enum_word(E *e, int32_t word) {
  static_assert(sizeof(E) == sizeof(int32_t));
  memcpy(e, &word, sizeof word);
}
