// The one form of every message table: a constexpr list of rows, each
// giving a message's position, its catalog number and its default text,
// turned into the exported table record and checked at compile time.
//
// Each family keeps its table in its own folder: the rows in
// <family>_msgs.cpp, the table's declaration and the names of its positions
// in <family>_msgs.h beside it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include <orvexks/imsg.h>

// ---- Building a table from one list of rows.

// One row of a table source: the position callers use, the catalog number
// and the default text. Keeping the three together lets the compiler check
// the table instead of a reader counting entries of two parallel arrays.
struct ksi_msg_entry {
  int index;
  int16_t id;
  const char *text;
};

namespace ksi_msg_rows {

template <size_t N>
constexpr std::array<const char *, N> texts(const ksi_msg_entry (&rows)[N]) {
  std::array<const char *, N> out{};
  for (size_t i = 0; i < N; ++i) out[i] = rows[i].text;
  return out;
}

template <size_t N>
constexpr std::array<int16_t, N> ids(const ksi_msg_entry (&rows)[N]) {
  std::array<int16_t, N> out{};
  for (size_t i = 0; i < N; ++i) out[i] = rows[i].id;
  return out;
}

// Rows are listed in position order, every row has a text, and catalog
// numbers rise strictly from first_id to last_id.
template <size_t N>
constexpr bool well_formed(const ksi_msg_entry (&rows)[N], int first_id,
                           int last_id) {
  if (rows[0].id != first_id || rows[N - 1].id != last_id) return false;
  for (size_t i = 0; i < N; ++i) {
    if (rows[i].index != static_cast<int>(i) || rows[i].text == nullptr)
      return false;
    if (i > 0 && rows[i].id <= rows[i - 1].id) return false;
  }
  return true;
}

}  // namespace ksi_msg_rows

// Defines the table `name` (declared in the family's header) from the
// constexpr array `rows`, checking its count and catalog-number range at
// compile time.
#define KSI_DEFINE_MSG_TABLE(name, subsys, set, count, first_id, last_id, \
                             rows)                                        \
  static_assert(std::size(rows) == (count), "message count");             \
  static_assert(ksi_msg_rows::well_formed(rows, first_id, last_id),       \
                "rows out of order or catalog numbers out of range");     \
  static constexpr auto name##_texts = ksi_msg_rows::texts(rows);         \
  static constexpr auto name##_ids = ksi_msg_rows::ids(rows);             \
  const ks_msg_table_t name = {                                           \
      "ks_lib", subsys, set, count, name##_texts.data(), name##_ids.data()}
