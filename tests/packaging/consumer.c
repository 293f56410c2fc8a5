/* A program built against an installed liborvexks: it reaches both
 * libraries through the installed headers and exits 0 when they answer. */
#define _POSIX_C_SOURCE 200809L

#include <stdio.h>

#include <orvexks/orvexks.h>
#include <orvexnt/nt_thread.h>

static int ascending(const void *a, const void *b, void *context) {
  (void)context;
  return *(const int *)a - *(const int *)b;
}

int main(void) {
  stg_area_t area = stg_create_area(256);
  int *v = area == STG_AREA_NULL ? NULL : stg_alloc(area, 3 * sizeof *v);
  list_t *list = area == STG_AREA_NULL ? NULL : list_create(area, 0);
  if (v == NULL || list == NULL) {
    fprintf(stderr, "consumer: storage area failed\n");
    return 1;
  }
  v[0] = 3, v[1] = 1, v[2] = 2;
  ks_qsort(v, 3, sizeof *v, ascending, NULL);
  list_append(list, v);
  int ok = v[0] == 1 && v[1] == 2 && v[2] == 3 && list_length(list) == 1 &&
           nt_get_current_thread_id() != 0;
  stg_delete_area(&area);
  printf("consumer: %s\n", ok ? "ok" : "FAILED");
  return ok ? 0 : 1;
}
