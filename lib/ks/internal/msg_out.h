// Internal message output of the foundation families.
//
// Storage areas, locks and fault management print their numbered messages
// through these two calls. They format the table's text with the kind's
// prefix and write it to the kind's stream in one write. The message
// delivery family replaces their bodies with its own imsg_print, so this
// file is the single place where that switch happens.
#pragma once

#include <cstdarg>

#include <orvexks/imsg.h>

// Prints message `index` of `table` as message kind `kind`; index -1 makes
// `table` a printf format.
void ksi_msg_print(int kind, const ks_msg_table_t *table, int index, ...);
// Same, with an explicit subsystem in place of the table's own.
void ksi_msg_print_shared(int kind, const char *subsys,
                          const ks_msg_table_t *table, int index, ...);
void ksi_msg_vprint(int kind, const char *subsys, const ks_msg_table_t *table,
                    int index, va_list args);

// The trace test every family uses before building a trace line.
inline bool ksi_trace_on(const char *subsys, int level) {
  return imsg_get_desired_verbosity() >= level &&
         imsg_should_trace(subsys, level) != 0;
}

// Builds an exported message table accessor's record from parallel arrays.
#define KSI_MSG_TABLE(name, subsys, set, texts, ids)                        \
  static_assert(sizeof(texts) / sizeof((texts)[0]) ==                       \
                sizeof(ids) / sizeof((ids)[0]));                            \
  static const ks_msg_table_t name = {                                      \
      "ks_lib", subsys, set,                                                \
      static_cast<int16_t>(sizeof(texts) / sizeof((texts)[0])), texts, ids}
