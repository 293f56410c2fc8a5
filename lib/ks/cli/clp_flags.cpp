// Handing out flag values, operands and sub-arguments of a parsing handle.
#include "cli/clp_handle.h"

#include <orvexks/imsg.h>

#include <cstring>

#include "cli/clp_msgs.h"

namespace {

void check(const clp_hdl *h) {
  if (h == nullptr) ksi_clp_fatal(KSI_CLP_NULL_HANDLE);
  if (h->magic != CLP_HDL_MAGIC) ksi_clp_fatal(KSI_CLP_BAD_MAGIC);
  if (h->flags == nullptr) ksi_clp_fatal(KSI_CLP_BAD_FLAGS_PTR);
  if (h->constraints == nullptr) ksi_clp_fatal(KSI_CLP_BAD_CONSTRAINTS_PTR);
}

void report(int quiet, int kind, int position, const char *a,
            const char *b = nullptr) {
  if (!quiet) imsg_print(kind, &ksi_clp_msgs, position, a, b);
}

// The first descriptor whose name the word matches, or -1; *group is the
// index of the start marker of the group it lies in, or -1.
int32_t find_flag(const clp_hdl *h, const char *word, int32_t *group) {
  *group = -1;
  for (int32_t i = 0; i < h->flag_count; ++i) {
    const clp_flag_t &flag = h->flags[i];
    if (flag.value == KSI_CLP_START_MARK)
      *group = i;
    else if (flag.value == KSI_CLP_END_MARK)
      *group = -1;
    else if (clp_match(word, flag.name))
      return i;
  }
  return -1;
}

}  // namespace

extern "C" {

int clp_get_next_flag_value(clp_hdl_t *h, int quiet, int *value) {
  check(h);
  *value = -1;
  if (h->index >= h->argc || h->end_of_flags) return 2;
  if (h->argv == nullptr) ksi_clp_fatal(KSI_CLP_BAD_ARGV_PTR);
  const char *word = h->argv[h->index];
  if (word == nullptr) ksi_clp_fatal(KSI_CLP_BAD_ARGV_ARRAY);
  if (std::strcmp(word, "--") == 0) {
    h->end_of_flags = 1;
    ++h->index;
    return 2;
  }
  int32_t group = -1;
  const int32_t found = find_flag(h, word, &group);
  if (found < 0) {
    if (word[0] != '-') return 2;  // an operand
    report(quiet, IMSG_ERROR, KSI_CLP_UNRECOGNIZED_OPTION, word);
    return 1;
  }
  const clp_flag_t &matched = h->flags[found];
  h->last_flag_name = matched.name;
  const int32_t target = (matched.attributes & CLP_ALIAS_FLAG) != 0
                             ? h->constraints[found].index
                             : found;
  const clp_flag_t &flag = h->flags[target];
  const bool repeatable = (flag.attributes & CLP_MULTIPLE_FLAG) != 0;
  if (h->constraints[target].used && !repeatable) {
    report(quiet, IMSG_ERROR, KSI_CLP_DUPLICATE_FLAG, matched.name);
    return 1;
  }
  if ((matched.attributes & CLP_OBSOLETE_FLAG) != 0) {
    if (h->obsolete_mode == 2) {
      report(quiet, IMSG_ERROR, KSI_CLP_OBSOLETE_FLAG, matched.name);
      return 1;
    }
    if (h->obsolete_mode == 1)
      report(quiet, IMSG_WARNING, KSI_CLP_OBSOLETE_FLAG, matched.name);
  }
  if (group >= 0) {
    int32_t &recorded = h->constraints[group].index;
    if (recorded < 0) {
      recorded = target;
    } else if (recorded != target || !repeatable) {
      report(quiet, IMSG_ERROR, KSI_CLP_EXCLUSIVE_FLAGS, matched.name,
             h->flags[recorded].name);
      return 1;
    }
  }
  h->constraints[target].used = 1;
  ++h->index;
  h->subarg = h->index < h->argc ? h->argv[h->index] : nullptr;
  *value = flag.value;
  return 0;
}

int clp_get_next_arg(clp_hdl_t *h, char **arg) {
  check(h);
  if (h->index >= h->argc) {
    *arg = nullptr;
    return 2;
  }
  *arg = h->argv[h->index++];
  return 0;
}

int clp_unget_arg(clp_hdl_t *h) {
  check(h);
  if (h->index == 0) return 2;
  --h->index;
  return 0;
}

int clp_get_argc(clp_hdl_t *h) {
  check(h);
  return h->argc;
}

int clp_get_next_subarg(clp_hdl_t *h, char **subarg) {
  check(h);
  *subarg = nullptr;
  if (h->subarg == nullptr) {
    if (h->index < h->argc) h->subarg = h->argv[h->index];
    return 2;
  }
  if (h->index < h->argc && h->subarg == h->argv[h->index]) ++h->index;
  *subarg = h->subarg;
  char *comma = std::strchr(h->subarg, ',');
  if (comma != nullptr) {
    *comma = '\0';
    h->subarg = comma + 1;
  } else {
    h->subarg = nullptr;
  }
  return 0;
}

int clp_get_last_flag_name(clp_hdl_t *h, int strip, size_t size, char *buf) {
  check(h);
  if (h->last_flag_name == nullptr) return 2;
  size_t n = 0;
  for (const char *p = h->last_flag_name; *p != '\0' && n + 1 < size; ++p)
    if (!strip || (*p != '[' && *p != ']')) buf[n++] = *p;
  if (size > 0) buf[n] = '\0';
  return 0;
}

int clp_get_command_name(clp_hdl_t *h, char **name) {
  check(h);
  *name = h->argc > 0 && h->argv != nullptr ? h->argv[0] : nullptr;
  return 0;
}

int clp_match(const char *word, const char *pattern) {
  bool passed_mark = false;
  while (*word != '\0') {
    if (*word == *pattern) {
      ++word;
      ++pattern;
    } else if (*pattern == '[') {
      passed_mark = true;
      ++pattern;
    } else {
      return 0;
    }
  }
  return *pattern == '\0' || *pattern == '[' || passed_mark ? 1 : 0;
}

int clp_check_obsolete(void) {
  const int mode = ksi_clp_obsolete_mode();
  if (mode == 0) return 0;
  imsg_print(mode == 2 ? IMSG_ERROR : IMSG_WARNING, &ksi_clp_msgs,
             KSI_CLP_OBSOLETE_SYNTAX);
  return mode == 2 ? 1 : 0;
}

}  // extern "C"
