// The parsing handle, shared by the units of the flag parser.
#pragma once

#include <orvexks/clp.h>

#include <cstdint>

// One per descriptor: whether its flag was used; for an alias the index of
// its target, for a group start marker the index of the member used so
// far, otherwise -1.
struct clp_constraint {
  int32_t used;
  int32_t index;
};

struct clp_hdl {
  uint32_t magic;         // CLP_HDL_MAGIC while valid
  stg_area_t owned_area;  // null when the caller supplied the area
  int32_t argc;
  char **argv;
  int32_t index;         // the current word, from 0
  char *subarg;          // sub-argument cursor
  int32_t end_of_flags;  // "--" was met
  int32_t flag_count;
  const clp_flag_t *flags;
  clp_constraint *constraints;
  int32_t obsolete_mode;  // 0 silent, 1 warn, 2 fail
  const char *last_flag_name;
  stg_area_t area;  // where the handle's storage lives
};

enum { KSI_CLP_START_MARK = -2, KSI_CLP_END_MARK = -3 };

inline bool ksi_clp_is_mark(const clp_flag_t &flag) {
  return flag.value == KSI_CLP_START_MARK || flag.value == KSI_CLP_END_MARK;
}

// Checks the descriptors (a nested or unmatched group marker or an alias
// without target prints and aborts) and builds their constraints in area.
// False (reported) when two non-alias descriptors share a value.
bool ksi_clp_build_constraints(clp_hdl *handle, const clp_flag_t *flags,
                               stg_area_t area);

// The obsolete-syntax mode of QUILLMERE_OBSO_SYN: 1 warn (unset or "WARN"),
// 2 fail ("FAIL"), 0 silent (anything else).
int ksi_clp_obsolete_mode();

// Prints a programming error of the clp table and aborts.
[[noreturn]] void ksi_clp_fatal(int position, ...);
