/* Environment objects: private lists of "NAME=value" texts that a program
 * builds (from scratch or from a copy of the process environment), edits,
 * hands to a child process, or installs for a while as the process's own
 * environment. */
#ifndef ORVEXKS_EVUTL_H
#define ORVEXKS_EVUTL_H

#include <orvexks/ks_base.h>
#include <orvexks/stg.h>

KS_BEGIN_DECLS

typedef struct evutl_env evutl_env_t;

/* An object, its vector and its texts live in the area it was made in;
 * with STG_AREA_HEAP, replaced texts and vectors are freed at once and
 * evutl_free releases the rest. Each object has its own mutex, so one
 * object may be shared by threads. An entry matches a name when it begins
 * with the name followed by '='; names compare case-sensitively, as host
 * environment names do. Results are 0 for success and 1 for failure.
 * A function that allocates prints "No more memory available." when memory
 * runs out, a delivery point (pfm.h); evutl_copy_default_environ and
 * evutl_unsetenv_default_environ are delivery points too. */

/* A new empty object in *env: 0, or 1 (and *env null) when memory runs
 * out. */
KS_API int evutl_alloc(stg_area_t area, evutl_env_t **env);
/* A new object holding copies of the entries of the null-terminated vector
 * envp (null counts as empty), in order and unchanged: 0, or 1 (and *env
 * null) when memory runs out. */
KS_API int evutl_copy_environ(stg_area_t area, char *const *envp,
                              evutl_env_t **env);
/* evutl_copy_environ of the process environment, taken under the companion
 * library's environment lock. */
KS_API int evutl_copy_default_environ(stg_area_t area, evutl_env_t **env);
/* The value of name (the text after its '='), or null when name is not
 * set. The pointer stays valid until the entry is replaced or removed, or
 * the object freed. */
KS_API char *evutl_getenv(evutl_env_t *env, const char *name);
/* Sets a variable from "NAME=value" (copied): 1 when the text has no '=',
 * the object is in use, or memory runs out; an equal entry is left alone. */
KS_API int evutl_setenv(evutl_env_t *env, const char *assignment);
/* Sets name to value (null counts as empty) as evutl_setenv sets
 * "name=value". */
KS_API int evutl_setenv2(evutl_env_t *env, const char *name, const char *value);
/* Removes name: 0 (also when name is not set), or 1 when the object is in
 * use. */
KS_API int evutl_unsetenv(evutl_env_t *env, const char *name);
/* The object's null-terminated vector, as execve and posix_spawn take it,
 * and marks the object in use: later edits fail. Never null for an object;
 * the vector lives as the object's texts do. */
KS_API char **evutl_env2environ(evutl_env_t *env);
/* Installs the object's vector as the process environment and marks the
 * object in use: 0. Does nothing while another override is active.
 * REQUIRES: until evutl_restore_default_environ, the process environment
 * changes only through evutl_unsetenv_default_environ; setenv, unsetenv and
 * putenv, nt_putenv_safe among their callers, would reallocate, change or
 * keep the object's vector. */
KS_API int evutl_override_default_environ(evutl_env_t *env);
/* Puts back the process environment that the active override replaced and
 * lifts the override's in-use mark from the object (a vector handed out by
 * evutl_env2environ keeps it frozen): 0, also when no override is active. */
KS_API int evutl_restore_default_environ(void);
/* Removes the first entry for name from the process environment itself
 * (from the installed object while an override is active): 0. */
KS_API int evutl_unsetenv_default_environ(const char *name);
/* Destroys the object: 0. With STG_AREA_HEAP its texts, vector and record
 * are freed; otherwise they stay in the area. An object still installed as
 * the process environment is restored first. */
KS_API int evutl_free(evutl_env_t *env);

KS_END_DECLS

#endif
