// The environment object's record and its vector of entries.
#pragma once

#include <orvexks/evutl.h>
#include <orvexks/qmthread.h>
#include <orvexks/stg.h>

#include <cstddef>
#include <cstdint>

#include "internal/thread_safety.h"

// An object's lock (a noraise mutex) is never held while memory is
// allocated or a message printed, so a thread holding it never waits for a
// storage area's mutex and cannot be left by a raise;
// that keeps the lock safe to take inside the companion library's
// environment lock (which a fork takes after every area's mutex).
struct evutl_env {
  // Null while nothing was added; otherwise a vector from ksi_env_vector_new
  // whose last used slot is null.
  char **vector KSI_GUARDED_BY(lock);
  // Entries including the terminating null; 0 while vector is null.
  uint32_t count KSI_GUARDED_BY(lock);
  // Entries removed so far: an entry's slot is stable while it stays.
  uint32_t removals KSI_GUARDED_BY(lock);
  stg_area_t area;
  // Set by evutl_env2environ: the caller holds the vector, so it must not
  // change any more.
  bool handed_out KSI_GUARDED_BY(lock);
  // Set while the vector is the process environment.
  bool installed KSI_GUARDED_BY(lock);
  qmthread_mutex_t lock;
};

// Edits are refused while the vector is in someone else's hands.
inline bool ksi_env_in_use(const evutl_env *env) KSI_REQUIRES(env->lock) {
  return env->handed_out || env->installed;
}

// A vector of capacity text pointers in area, its first slot null; the
// block keeps its capacity, entry size and area in front of the first slot,
// and behind the last slot one name hash per slot (ksi_env_hashes) for the
// object that owns it. Null when memory runs out.
char **ksi_env_vector_new(stg_area_t area, uint32_t capacity);
uint32_t ksi_env_vector_capacity(char *const *vector);
uint32_t *ksi_env_hashes(char **vector);
// Releases a vector or a text when its area is the heap; in any other area
// the memory stays until the area is cleared.
void ksi_env_vector_drop(stg_area_t area, char **vector);
void ksi_env_text_drop(stg_area_t area, char *text);
// A vector with no entries, for objects that have none yet: never
// written, shared by them all.
char **ksi_env_empty_vector();

// The hash of a name, and of an entry's name (the text before its first
// '=', or all of it).
uint32_t ksi_env_name_hash(const char *name, size_t name_len);
uint32_t ksi_env_entry_hash(const char *entry);

// In an object's vector of count slots (the null included), whose hashes
// are kept: the first entry that begins with the name_len bytes of name
// followed by '=', or null.
char **ksi_env_lookup(char **vector, uint32_t count, const char *name,
                      size_t name_len);
// Removes the entry at index and its hash, moving the later slots (and the
// null) down by one.
void ksi_env_remove_at(char **vector, uint32_t count, uint32_t index);
// REQUIRES: env->lock held. Takes the entry of name out of the object and
// returns its text for the caller to drop once the lock is released; null
// when the object has no such entry.
char *ksi_env_take(evutl_env *env, const char *name) KSI_REQUIRES(env->lock);

// The same lookup and removal over any null-terminated vector (the process
// environment), by comparing texts.
char **ksi_env_find(char **vector, const char *name, size_t name_len);
void ksi_env_remove_slot(char **slot);
