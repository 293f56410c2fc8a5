/* A tour of the foundation families of liborvexks: a storage area, a list,
 * a stack, ks_qsort, the library lock, two threads sharing a raise-mode
 * mutex, a protected region that a raise reaches, and an exit through fault
 * management that runs a registered exit handler. */
#define _POSIX_C_SOURCE 200809L /* the interface uses POSIX thread types */

#include <stdio.h>
#include <stdlib.h>

#include <orvexks/orvexks.h>

#define DEMO_STATUS 42u
#define DEMO_ROUNDS 10000

static qmthread_mutex_t counter_lock = QMTHREAD_MUTEX_INITIALIZER;
static long counter;

static int compare_ints(const void *a, const void *b, void *context) {
  int x = *(const int *)a, y = *(const int *)b;
  int order = (x > y) - (x < y);
  return *(const int *)context ? -order : order;
}

static void storage_and_containers(void) {
  stg_area_t area = stg_create_area(1024);
  if (area == STG_AREA_NULL) {
    fprintf(stderr, "demo: no storage area\n");
    exit(1);
  }
  char *greeting = stg_area_strdup(area, "hello from a storage area");
  int *numbers = stg_alloc(area, 5 * sizeof *numbers);
  printf("demo: %s\n", greeting);

  /* A list whose elements live in the area. */
  list_t *words = list_create(area, 0);
  list_append(words, "first");
  list_append(words, "second");
  list_append(words, "third");
  printf("demo: list of %d:", list_length(words));
  void *data;
  for (list_elem_t *e = list_next(words, NULL, &data); e != NULL;
       e = list_next(words, e, &data))
    printf(" %s", (const char *)data);
  printf("\n");

  /* A stack pops its frames newest first. */
  ks_stack_t *stack = stack_create(area, 0);
  stack_push(stack, "bottom");
  stack_varlen_push(stack, "top", 4);
  uint32_t size;
  printf("demo: stack pops");
  while (stack_pop(stack, &data, &size) == 0)
    printf(" %s", (const char *)data);
  printf("\n");
  stack_destroy(&stack);

  /* ks_qsort hands the caller's context to the comparison. */
  static const int unsorted[5] = {5, 3, 9, 1, 7};
  for (int i = 0; i < 5; i++) numbers[i] = unsorted[i];
  int descending = 1;
  ks_qsort(numbers, 5, sizeof *numbers, compare_ints, &descending);
  printf("demo: sorted descending: %d %d %d %d %d\n", numbers[0], numbers[1],
         numbers[2], numbers[3], numbers[4]);

  /* One call releases every allocation of the area. */
  stg_delete_area(&area);
}

/* Raise-mode mutex: while a thread holds it, asynchronous raises wait. */
static void *count_up(void *arg) {
  (void)arg;
  for (int i = 0; i < DEMO_ROUNDS; i++) {
    qmthread_mutex_lock(&counter_lock);
    counter++;
    qmthread_mutex_unlock(&counter_lock);
  }
  return NULL;
}

static void two_threads(void) {
  qmthread_t tids[2];
  for (int i = 0; i < 2; i++) {
    if (qmthread_create(&tids[i], NULL, count_up, NULL) != 0) {
      fprintf(stderr, "demo: cannot create a thread\n");
      exit(1);
    }
  }
  for (int i = 0; i < 2; i++) qmthread_join(tids[i], NULL);
  printf("demo: two threads counted to %ld\n", counter);
}

static void fail_deep_inside(int depth) {
  if (depth > 0)
    fail_deep_inside(depth - 1);
  else
    pfm_raise(DEMO_STATUS);
  printf("demo: not reached: the raise leaves every frame up to the region\n");
}

static void protected_region(void) {
  pfm_cleanup_rec rec;
  rec.status = setjmp(rec.jmpbuf);
  if (pfm_cleanup_start(&rec, 0) == 0) {
    fail_deep_inside(3);
    pfm_cleanup_rls(&rec); /* not reached: the raise leaves the region */
  } else {
    printf("demo: the cleanup handler caught status %d\n", (int)rec.status);
    /* The handler runs with raises inhibited; resume after the region. */
    pfm_enable();
  }
}

static void say_goodbye(int code, void *arg, struct on_exit_entry *entry) {
  printf("demo: exit handler \"%s\" ran with code %d\n", (const char *)arg,
         code);
  free(entry); /* the entry is handed over to its handler */
}

int main(void) {
  /* The library lock makes this thread the attached thread; it keeps the
   * outermost level until pfm_exit releases it. The lock is recursive. */
  qmthread_enter_critical_section();
  qmthread_enter_critical_section();
  qmthread_leave_critical_section();
  pfm_init();
  pfm_on_exit(say_goodbye, "goodbye");

  storage_and_containers();
  two_threads();
  protected_region();

  printf("demo: exiting through pfm_exit\n");
  fflush(stdout);
  pfm_exit(0);
  return 0;
}
