/* Process environment access that is safe while other threads read and
 * change the environment. */
#ifndef ORVEXNT_NT_ENV_H
#define ORVEXNT_NT_ENV_H

#include <orvexnt/nt_base.h>

NT_BEGIN_DECLS

/* The value of the variable name, or null when it is not set, name is null
 * or empty, or memory for the copy runs out (errno is then ENOMEM, and
 * left alone otherwise). The result points into a
 * process-lifetime copy that is never freed or changed: it stays valid
 * however the environment changes later, and the caller must not free it.
 * Equal values share one copy, so memory grows only with the number of
 * distinct name/value pairs read. */
NT_API const char *nt_getenv_safe(const char *name);

/* Sets a variable from "NAME=value" (the text is copied; the caller keeps
 * its string). "NAME=" with nothing after the '=' removes the variable.
 * Returns 0 on success; -1 with errno EINVAL when the text has no '=' or an
 * empty name, or ENOMEM when the copy cannot be made. */
NT_API int nt_putenv_safe(const char *assignment);

/* One recursive process-wide lock over the environment. nt_getenv_safe and
 * nt_putenv_safe take it too, so code that scans environ directly holds it
 * around the scan. Lock and unlock calls pair up per thread. */
NT_API void nt_environment_lock(void);
NT_API void nt_environment_unlock(void);

NT_END_DECLS

#endif
