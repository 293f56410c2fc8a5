// Environment objects: creation, copies, lookups and edits.
//
// Edits make their copies before taking the object's lock and retake it to
// link them in, so the lock is never held across an allocation (see
// evutl_internal.h). A text or vector made for an edit that then has no use
// for it is released at once on the heap and stays unused in other areas.
#include "env/evutl_internal.h"

#include <orvexks/strutl.h>

#include <cstring>

namespace {

constexpr uint32_t kFirstCapacity = 32;

// The fields of an object that no other thread can reach yet.
void init_fields(evutl_env *env,
                 stg_area_t area) KSI_NO_THREAD_SAFETY_ANALYSIS {
  env->vector = nullptr;
  env->count = 0;
  env->removals = 0;
  env->area = area;
  env->handed_out = false;
  env->installed = false;
}

evutl_env *new_env(stg_area_t area) {
  if (area == STG_AREA_NULL) return nullptr;
  auto *env = static_cast<evutl_env *>(stg_alloc(area, sizeof(evutl_env)));
  if (env == nullptr) return nullptr;
  init_fields(env, area);
  // Held only across code that cannot raise, so it need not hold raises
  // off (which would cost every lookup a trip through the fault state).
  if (qmthread_mutex_init_noraise(&env->lock) != 0) {
    if (area == STG_AREA_HEAP) stg_free(env);
    return nullptr;
  }
  return env;
}

// Fills a fresh, unshared object with copies of the entries of envp.
bool copy_entries(evutl_env *env,
                  char *const *envp) KSI_NO_THREAD_SAFETY_ANALYSIS {
  uint32_t n = 0;
  while (envp != nullptr && envp[n] != nullptr) ++n;
  char **vector = ksi_env_vector_new(env->area, n + 1);
  if (vector == nullptr) return false;
  env->vector = vector;
  env->count = 1;
  for (uint32_t i = 0; i < n; ++i) {
    char *text = stg_area_strdup(env->area, envp[i]);
    if (text == nullptr) return false;
    vector[i] = text;
    vector[i + 1] = nullptr;
    ksi_env_hashes(vector)[i] = ksi_env_entry_hash(text);
    env->count = i + 2;
  }
  return true;
}

// Where an earlier look under the lock found a name. Entries move only
// when one is removed, so the slot still holds the name while the object's
// removal count is the one seen then.
struct place {
  uint32_t index;
  uint32_t removals;
  bool found;
};

place locate(evutl_env *env, const char *name, size_t name_len)
    KSI_REQUIRES(env->lock) {
  char **slot = ksi_env_lookup(env->vector, env->count, name, name_len);
  if (slot == nullptr) return {0, env->removals, false};
  return {static_cast<uint32_t>(slot - env->vector), env->removals, true};
}

char **relocate(evutl_env *env, const char *name, size_t name_len,
                const place &seen) KSI_REQUIRES(env->lock) {
  if (seen.found && seen.removals == env->removals)
    return env->vector + seen.index;
  return ksi_env_lookup(env->vector, env->count, name, name_len);
}

// Outcome of one locked attempt to link a new text in.
enum class step { done, refused, equal, grow };

// Puts text (an assignment whose name is its first name_len bytes) in place
// of the entry of that name, or in front of the terminating null when room
// is left. *old is the replaced text; *wanted the capacity to grow to.
step try_link(evutl_env *env, char *text, size_t name_len, const place &seen,
              char **old, uint32_t *wanted) KSI_REQUIRES(env->lock) {
  if (ksi_env_in_use(env)) return step::refused;
  char **slot = relocate(env, text, name_len, seen);
  if (slot != nullptr) {
    if (std::strcmp(*slot, text) == 0) return step::equal;
    *old = *slot;
    *slot = text;
    return step::done;
  }
  if (env->vector == nullptr) {
    *wanted = kFirstCapacity;
    return step::grow;
  }
  const uint32_t capacity = ksi_env_vector_capacity(env->vector);
  if (env->count + 1 > capacity) {
    *wanted = capacity * 2 > env->count + 1 ? capacity * 2 : env->count + 1;
    return step::grow;
  }
  env->vector[env->count - 1] = text;
  env->vector[env->count] = nullptr;
  ksi_env_hashes(env->vector)[env->count - 1] = ksi_env_entry_hash(text);
  ++env->count;
  return step::done;
}

// Moves the entries into a bigger vector unless another edit already made
// room or the vector was handed out meanwhile: *old is the vector given up,
// or the unused one.
void install_vector(evutl_env *env, char **bigger, char ***old)
    KSI_REQUIRES(env->lock) {
  const uint32_t needed = env->count + 1;
  if (ksi_env_in_use(env) || (env->vector != nullptr &&
                              needed <= ksi_env_vector_capacity(env->vector))) {
    *old = bigger;
    return;
  }
  if (needed > ksi_env_vector_capacity(bigger)) {
    *old = bigger;
    return;
  }
  if (env->vector == nullptr) {
    env->count = 1;
  } else {
    std::memcpy(bigger, env->vector, env->count * sizeof(char *));
    std::memcpy(ksi_env_hashes(bigger), ksi_env_hashes(env->vector),
                (env->count - 1) * sizeof(uint32_t));
  }
  *old = env->vector;
  env->vector = bigger;
}

// Links text in (see try_link), growing the vector as often as needed.
// text belongs to the object afterwards, or is dropped.
int link_text(evutl_env *env, char *text, size_t name_len, const place &seen) {
  for (;;) {
    char *old_text = nullptr;
    uint32_t wanted = 0;
    qmthread_mutex_lock(&env->lock);
    const step s = try_link(env, text, name_len, seen, &old_text, &wanted);
    qmthread_mutex_unlock(&env->lock);
    if (s != step::grow) {
      ksi_env_text_drop(env->area, s == step::done ? old_text : text);
      return s == step::refused ? 1 : 0;
    }
    char **bigger = ksi_env_vector_new(env->area, wanted);
    if (bigger == nullptr) {
      ksi_env_text_drop(env->area, text);
      return 1;
    }
    char **old_vector = nullptr;
    qmthread_mutex_lock(&env->lock);
    install_vector(env, bigger, &old_vector);
    qmthread_mutex_unlock(&env->lock);
    ksi_env_vector_drop(env->area, old_vector);
  }
}

// 0 when the edit has nothing to do (refused: 1, or an equal entry: 0),
// else -1 with where the name stands. Spares the area a copy for an edit
// that changes nothing, and the second look a scan.
int settled_before_copy(evutl_env *env, const char *name, size_t name_len,
                        const char *value, place *seen) {
  qmthread_mutex_lock(&env->lock);
  int result = -1;
  if (ksi_env_in_use(env)) {
    result = 1;
  } else {
    *seen = locate(env, name, name_len);
    if (seen->found &&
        std::strcmp(env->vector[seen->index] + name_len + 1, value) == 0)
      result = 0;
  }
  qmthread_mutex_unlock(&env->lock);
  return result;
}

}  // namespace

extern "C" {

int evutl_alloc(stg_area_t area, evutl_env_t **env) {
  *env = new_env(area);
  return *env != nullptr ? 0 : 1;
}

int evutl_copy_environ(stg_area_t area, char *const *envp, evutl_env_t **env) {
  *env = nullptr;
  evutl_env *copy = new_env(area);
  if (copy == nullptr) return 1;
  if (!copy_entries(copy, envp)) {
    evutl_free(copy);
    return 1;
  }
  *env = copy;
  return 0;
}

char *evutl_getenv(evutl_env_t *env, const char *name) {
  if (env == nullptr || name == nullptr) return nullptr;
  qmthread_mutex_lock(&env->lock);
  const size_t name_len = std::strlen(name);
  char **slot = ksi_env_lookup(env->vector, env->count, name, name_len);
  char *value = slot != nullptr ? *slot + name_len + 1 : nullptr;
  qmthread_mutex_unlock(&env->lock);
  return value;
}

int evutl_setenv(evutl_env_t *env, const char *assignment) {
  if (env == nullptr || assignment == nullptr) return 1;
  const char *equals = std::strchr(assignment, '=');
  if (equals == nullptr) return 1;
  const auto name_len = static_cast<size_t>(equals - assignment);
  place seen{};
  const int settled =
      settled_before_copy(env, assignment, name_len, equals + 1, &seen);
  if (settled >= 0) return settled;
  char *text = stg_area_strdup(env->area, assignment);
  if (text == nullptr) return 1;
  return link_text(env, text, name_len, seen);
}

int evutl_setenv2(evutl_env_t *env, const char *name, const char *value) {
  if (env == nullptr || name == nullptr) return 1;
  if (value == nullptr) value = "";
  const size_t name_len = std::strlen(name);
  place seen{};
  const int settled = settled_before_copy(env, name, name_len, value, &seen);
  if (settled >= 0) return settled;
  char *text = strutl_concat_area(env->area, 3, name, "=", value);
  if (text == nullptr) return 1;
  return link_text(env, text, name_len, seen);
}

int evutl_unsetenv(evutl_env_t *env, const char *name) {
  if (env == nullptr || name == nullptr) return 1;
  char *removed = nullptr;
  qmthread_mutex_lock(&env->lock);
  const bool in_use = ksi_env_in_use(env);
  if (!in_use) removed = ksi_env_take(env, name);
  qmthread_mutex_unlock(&env->lock);
  if (removed != nullptr) ksi_env_text_drop(env->area, removed);
  return in_use ? 1 : 0;
}

char **evutl_env2environ(evutl_env_t *env) {
  if (env == nullptr) return nullptr;
  qmthread_mutex_lock(&env->lock);
  env->handed_out = true;
  char **vector = env->vector;
  qmthread_mutex_unlock(&env->lock);
  return vector != nullptr ? vector : ksi_env_empty_vector();
}

}  // extern "C"
