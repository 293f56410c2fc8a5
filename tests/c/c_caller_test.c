/* The library as a C11 program sees it: a protected region written with
 * setjmp and the cleanup records, a raise from below caught and passed on,
 * lists and storage areas through their C declarations. Each failed check
 * prints its file, line and condition; the exit status counts them. */
#include <orvexks/list.h>
#include <orvexks/pfm.h>
#include <orvexks/stg.h>

#include <setjmp.h>
#include <stdio.h>
#include <string.h>

static int failures;

#define CHECK(cond)                                                            \
  do {                                                                         \
    if (!(cond)) {                                                             \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      ++failures;                                                              \
    }                                                                          \
  } while (0)

static void raise_from_below(uint32_t status) { pfm_raise(status); }

/* An inner region cleans up and raises again; the outer one resumes. */
static void raises_reach_the_handlers(void) {
  pfm_cleanup_rec outer, inner;
  volatile int steps = 0;
  uint32_t entry = pfm_inhibit_count();
  outer.status = setjmp(outer.jmpbuf);
  if (pfm_cleanup_start(&outer, 0) == 0) {
    inner.status = setjmp(inner.jmpbuf);
    if (pfm_cleanup_start(&inner, 0) == 0) {
      steps += 1;
      raise_from_below(42);
      CHECK(!"pfm_raise returned");
    } else {
      CHECK(inner.status == 42);
      CHECK(inner.magic == MAGIC_TRIPPED);
      steps += 10;
      pfm_raise((uint32_t)inner.status);
    }
  } else {
    CHECK(outer.status == 42);
    steps += 100;
    pfm_enable();
  }
  CHECK(steps == 111);
  CHECK(pfm_inhibit_count() == entry);

  /* A region left normally. */
  outer.status = setjmp(outer.jmpbuf);
  if (pfm_cleanup_start(&outer, 0) == 0) {
    PFM_ASSERT(outer.magic == MAGIC_SET);
    CHECK(pfm_cleanup_rls(&outer) == 0);
  } else {
    CHECK(!"no raise expected");
  }
  CHECK(outer.magic == MAGIC_TRIPPED);
}

/* Lists whose elements and attributes live in a storage area. */
static void lists_in_an_area(void) {
  stg_area_t area = stg_create_area(256);
  CHECK(area != STG_AREA_NULL);
  list_t *list = list_create(area, 8);
  CHECK(list != NULL);
  static char words[3][8] = {"one", "two", "three"};
  for (int i = 0; i < 3; ++i) CHECK(list_append(list, words[i]) != NULL);
  CHECK(list_length(list) == 3);

  void *data = NULL;
  list_elem_t *e = list_next(list, NULL, &data);
  CHECK(e != NULL && strcmp((const char *)data, "one") == 0);
  e = list_next(list, e, &data);
  list_remove(list, e);
  CHECK(list_length(list) == 2);
  CHECK(list_final(list, &data) != NULL &&
        strcmp((const char *)data, "three") == 0);

  char *copy = stg_area_strdup(area, "kept in the area");
  CHECK(copy != NULL && strcmp(copy, "kept in the area") == 0);
  list_destroy(list);
  stg_delete_area(&area);
  CHECK(area == STG_AREA_NULL);

  char *heap = stg_strdup("heap");
  CHECK(heap != NULL && strcmp(heap, "heap") == 0);
  stg_free(heap);
}

int main(void) {
  pfm_init();
  raises_reach_the_handlers();
  lists_in_an_area();
  if (failures == 0) printf("c_caller_test: all checks passed\n");
  return failures == 0 ? 0 : 1;
}
