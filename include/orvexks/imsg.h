/* Numbered messages: message tables and message kinds. */
#ifndef ORVEXKS_IMSG_H
#define ORVEXKS_IMSG_H

#include <orvexks/ks_base.h>

KS_BEGIN_DECLS

/* One constant record per family. A caller names a message by its 0-based
 * index; (set, ids[index]) is the key of its translation in a catalog. */
typedef struct ks_msg_table {
  const char *catalog;
  const char *subsys;
  int16_t set;
  int16_t count;
  const char *const *texts;
  const int16_t *ids;
} ks_msg_table_t;

/* Message kinds: they choose the prefix and the default stream. */
enum {
  IMSG_OK = 0,
  IMSG_OUTPUT = 1,
  IMSG_INFO = 2,
  IMSG_OUTPUT_ALT = 3,
  IMSG_WARNING = 4,
  IMSG_WARNING_PLAIN = 5,
  IMSG_ERROR = 6,
  IMSG_ERROR_PLAIN = 7,
  IMSG_TRACE = 8,
  IMSG_TRACE_PLAIN = 9,
  IMSG_OTHER = 10
};

/* Tracing: a line of subsystem S at level N is wanted when
 * imsg_get_desired_verbosity() >= N && imsg_should_trace(S, N). */
KS_API int imsg_get_desired_verbosity(void);
KS_API int imsg_get_verbosity_ev(void);
KS_API void imsg_set_trace_verbosity(int level);
KS_API void imsg_set_trace_subsys(const char *list);
KS_API int imsg_should_trace(const char *subsys, int level);

KS_END_DECLS

#endif
