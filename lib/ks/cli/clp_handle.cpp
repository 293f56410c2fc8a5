// Parsing handles: creation over words or a command text, the descriptor
// check, switching descriptors, saving and restoring the state.
#include "cli/clp_handle.h"

#include <orvexks/imsg.h>
#include <orvexks/stg.h>
#include <orvexnt/nt_env.h>

#include <strings.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "cli/clp_msgs.h"

namespace {

constexpr uint64_t kOwnedAreaSize = 1000;

void fatal_print(int position, va_list args) {
  imsg_vprint(IMSG_ERROR, &ksi_clp_msgs, position, args);
}

int32_t count_flags(const clp_flag_t *flags) {
  int32_t n = 0;
  while (flags[n].name != nullptr) ++n;
  return n;
}

// The non-alias descriptor an alias stands for: searched backwards up to
// the nearest group start, then forwards up to the nearest group end.
int32_t alias_target(const clp_flag_t *flags, int32_t n, int32_t alias) {
  const int32_t value = flags[alias].value;
  auto is_target = [&](int32_t i) {
    return !ksi_clp_is_mark(flags[i]) &&
           (flags[i].attributes & CLP_ALIAS_FLAG) == 0 &&
           flags[i].value == value;
  };
  for (int32_t i = alias - 1; i >= 0 && flags[i].value != KSI_CLP_START_MARK;
       --i)
    if (is_target(i)) return i;
  for (int32_t i = alias + 1; i < n && flags[i].value != KSI_CLP_END_MARK; ++i)
    if (is_target(i)) return i;
  return -1;
}

clp_hdl *create(int argc, char **argv, const clp_flag_t *flags, stg_area_t area,
                stg_area_t owned) {
  auto *h = static_cast<clp_hdl *>(stg_alloc(area, sizeof(clp_hdl)));
  if (h == nullptr) return nullptr;
  std::memset(h, 0, sizeof *h);
  h->magic = CLP_HDL_MAGIC;
  h->owned_area = owned;
  h->area = area;
  h->argc = argc;
  h->argv = argv;
  h->obsolete_mode = ksi_clp_obsolete_mode();
  if (!ksi_clp_build_constraints(h, flags, area)) return nullptr;
  return h;
}

}  // namespace

void ksi_clp_fatal(int position, ...) {
  va_list args;
  va_start(args, position);
  fatal_print(position, args);
  va_end(args);
  std::abort();
}

int ksi_clp_obsolete_mode() {
  const char *mode = nt_getenv_safe("QUILLMERE_OBSO_SYN");
  if (mode == nullptr || strcasecmp(mode, "WARN") == 0) return 1;
  return strcasecmp(mode, "FAIL") == 0 ? 2 : 0;
}

bool ksi_clp_build_constraints(clp_hdl *h, const clp_flag_t *flags,
                               stg_area_t area) {
  if (flags == nullptr) ksi_clp_fatal(KSI_CLP_BAD_FLAGS_PTR);
  const int32_t n = count_flags(flags);
  bool in_group = false;
  for (int32_t i = 0; i < n; ++i) {
    if (flags[i].value == KSI_CLP_START_MARK) {
      if (in_group) ksi_clp_fatal(KSI_CLP_NESTED_EXCLUSION);
      in_group = true;
    } else if (flags[i].value == KSI_CLP_END_MARK) {
      if (!in_group) ksi_clp_fatal(KSI_CLP_UNMATCHED_END_EXCLUSION);
      in_group = false;
    }
  }
  for (int32_t i = 0; i < n; ++i) {
    if (ksi_clp_is_mark(flags[i]) ||
        (flags[i].attributes & CLP_ALIAS_FLAG) != 0)
      continue;
    for (int32_t j = i + 1; j < n; ++j) {
      if (ksi_clp_is_mark(flags[j]) ||
          (flags[j].attributes & CLP_ALIAS_FLAG) != 0 ||
          flags[j].value != flags[i].value)
        continue;
      imsg_print(IMSG_ERROR, &ksi_clp_msgs, KSI_CLP_SAME_VALUE, flags[i].name,
                 flags[j].name);
      return false;
    }
  }
  auto *constraints = static_cast<clp_constraint *>(
      stg_alloc(area, (n + 1) * sizeof(clp_constraint)));
  if (constraints == nullptr) return false;
  for (int32_t i = 0; i < n; ++i) {
    constraints[i] = {0, -1};
    if (!ksi_clp_is_mark(flags[i]) &&
        (flags[i].attributes & CLP_ALIAS_FLAG) != 0) {
      constraints[i].index = alias_target(flags, n, i);
      if (constraints[i].index < 0)
        ksi_clp_fatal(KSI_CLP_ALIAS_WITHOUT_TARGET, flags[i].name);
    }
  }
  h->flags = flags;
  h->flag_count = n;
  h->constraints = constraints;
  return true;
}

extern "C" {

clp_hdl_t *clp_create_hdl_using_argv(int argc, char **argv,
                                     const clp_flag_t *flags, stg_area_t area) {
  stg_area_t owned = STG_AREA_NULL;
  if (area == STG_AREA_NULL) area = owned = stg_create_area(kOwnedAreaSize);
  if (area == STG_AREA_NULL) return nullptr;
  clp_hdl *h = create(argc < 0 ? 0 : argc, argv, flags, area, owned);
  if (h == nullptr && owned != STG_AREA_NULL) stg_delete_area(&owned);
  return h;
}

clp_hdl_t *clp_create_hdl_using_string(const char *text,
                                       const clp_flag_t *flags,
                                       stg_area_t area) {
  stg_area_t owned = STG_AREA_NULL;
  if (area == STG_AREA_NULL) area = owned = stg_create_area(kOwnedAreaSize);
  if (area == STG_AREA_NULL) return nullptr;
  int argc = 0;
  char **argv = nullptr;
  clp_hdl *h = nullptr;
  if (clp_parse_string(text, area, &argc, &argv) == 0)
    h = create(argc, argv, flags, area, owned);
  if (h == nullptr && owned != STG_AREA_NULL) stg_delete_area(&owned);
  return h;
}

void clp_destroy_hdl(clp_hdl_t **handle) {
  if (handle == nullptr || *handle == nullptr) return;
  clp_hdl *h = *handle;
  *handle = nullptr;
  h->magic = 0;
  if (h->owned_area != STG_AREA_NULL) {
    stg_area_t owned = h->owned_area;
    stg_delete_area(&owned);
  }
}

clp_hdl_t *clp_save_hdl(clp_hdl_t *h) {
  if (h == nullptr) ksi_clp_fatal(KSI_CLP_NULL_HANDLE);
  auto *copy = static_cast<clp_hdl *>(stg_alloc(h->area, sizeof(clp_hdl)));
  auto *constraints = static_cast<clp_constraint *>(
      stg_alloc(h->area, (h->flag_count + 1) * sizeof(clp_constraint)));
  if (copy == nullptr || constraints == nullptr) return nullptr;
  *copy = *h;
  std::memcpy(constraints, h->constraints,
              h->flag_count * sizeof(clp_constraint));
  copy->constraints = constraints;
  return copy;
}

void clp_restore_hdl(clp_hdl_t *h, const clp_hdl_t *copy) {
  if (h == nullptr || copy == nullptr) ksi_clp_fatal(KSI_CLP_NULL_HANDLE);
  clp_constraint *working = h->constraints;
  if (h->flags != copy->flags || h->flag_count != copy->flag_count) {
    working = static_cast<clp_constraint *>(
        stg_alloc(h->area, (copy->flag_count + 1) * sizeof(clp_constraint)));
    if (working == nullptr) return;
  }
  *h = *copy;
  std::memcpy(working, copy->constraints,
              copy->flag_count * sizeof(clp_constraint));
  h->constraints = working;
}

int clp_switch_flags(clp_hdl_t *h, const clp_flag_t *flags, stg_area_t area) {
  if (h == nullptr) ksi_clp_fatal(KSI_CLP_NULL_HANDLE);
  if (area == STG_AREA_NULL) area = h->owned_area;
  if (area == STG_AREA_NULL) {
    imsg_print(IMSG_ERROR, &ksi_clp_msgs, KSI_CLP_NULL_AREA);
    return 1;
  }
  return ksi_clp_build_constraints(h, flags, area) ? 0 : 1;
}

}  // extern "C"
