/* Message catalog files: translated message texts by (set, number). */
#ifndef ORVEXKS_MSGCAT_H
#define ORVEXKS_MSGCAT_H

#include <orvexks/ks_base.h>

KS_BEGIN_DECLS

typedef struct msgcat msgcat_t;

/* The handle value that means "no catalog": an empty name, or no memory. */
#define MSGCAT_NONE ((msgcat_t *)-1)

/* Opens the catalog `name`. A name holding '/' or '\' is the file itself;
 * any other name is looked for along NLSPATH and then under the
 * installation roots ("\bin\resdll\%N_%L.cat"), %N being the name and %L
 * the user-interface language.
 *
 * Mode 0 reads the header and the set records now, keeps the file open and
 * reads a set's messages on the first lookup in that set; a set whose
 * messages cannot be read then serves the defaults, the other sets are
 * unaffected. Mode 1 reads everything now and closes the file; a damaged
 * set then refuses the whole file. Any other mode is mode 0.
 *
 * Returns a handle; null when no file was found or the file was refused
 * (a damaged file is reported on standard error); MSGCAT_NONE for an empty
 * or null name or when memory runs out. The reader trusts nothing in the
 * file: a damaged or hostile file never makes it read past the file's end
 * or allocate more than the file's size. */
KS_API msgcat_t *msgcat_open(const char *name, int mode);

/* The catalog's text for (set, number), or `def` when the catalog has none,
 * the handle is null or MSGCAT_NONE, or set or number is below 1. The text
 * lives until msgcat_close. A handle is not locked: one thread at a time. */
KS_API const char *msgcat_get(msgcat_t *cat, int set, int number,
                              const char *def);

/* Closes the file (unless mode 1 did) and frees the handle and every text
 * it returned. Null and MSGCAT_NONE are ignored. */
KS_API void msgcat_close(msgcat_t *cat);

KS_END_DECLS

#endif
