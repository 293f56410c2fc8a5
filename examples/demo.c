/* A small tool built on liborvexks, as a tour of its foundation families:
 * start-up, the application name, numbered messages of every kind from the
 * tool's own message table, traces, a storage area, a list, a stack,
 * ks_qsort, two threads sharing a raise-mode mutex, a protected region that
 * a raise reaches, and an exit through fault management that runs
 * registered exit handlers.
 *
 *     demo [--daemon]
 *
 * With --daemon the tool's messages go to the event log (ORVEX_EVENTLOG
 * names a file to use instead). TRACE_VERBOSITY=2 TRACE_SUBSYS=demo shows
 * its traces. */
#define _POSIX_C_SOURCE 200809L /* the interface uses POSIX thread types */

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <orvexks/orvexks.h>

#define DEMO_STATUS 42u
#define DEMO_ROUNDS 10000
#define DEMO_LINE_SIZE 128

/* The tool's messages, by index. */
enum {
  DEMO_USAGE,
  DEMO_NO_DAEMON,
  DEMO_NO_AREA,
  DEMO_NO_THREAD,
  DEMO_TRACE_STEP,
  DEMO_KIND_SHOWN,
  DEMO_ERROR_TEXT,
  DEMO_GREETING,
  DEMO_LIST,
  DEMO_STACK,
  DEMO_SORTED,
  DEMO_COUNTED,
  DEMO_CAUGHT,
  DEMO_EXITING,
  DEMO_EXIT_HANDLER,
  DEMO_MESSAGE_COUNT
};

static const char *const demo_texts[DEMO_MESSAGE_COUNT] = {
    "usage: %s [--daemon]\n",
    "cannot switch to daemon mode\n",
    "no storage area\n",
    "cannot create a thread\n",
    "step %d: %s\n",
    "a message of kind %d (%s)\n",
    "opening \"%s\" failed: %s\n",
    "demo: %s\n",
    "demo: list of %d:%s\n",
    "demo: stack pops%s\n",
    "demo: sorted descending: %d %d %d %d %d\n",
    "demo: two threads counted to %ld\n",
    "demo: the cleanup handler caught status %d\n",
    "demo: exiting through pfm_exit\n",
    "demo: exit handler \"%s\" ran with code %d\n",
};

/* Catalog numbers: stable keys for translations, with room between. */
static const int16_t demo_ids[DEMO_MESSAGE_COUNT] = {
    1, 2, 3, 4, 10, 11, 12, 20, 21, 22, 23, 24, 25, 26, 27,
};

static const ks_msg_table_t demo_table = {
    "ks_lib", "demo", 99, DEMO_MESSAGE_COUNT, demo_texts, demo_ids,
};

static qmthread_mutex_t counter_lock = QMTHREAD_MUTEX_INITIALIZER;
static long counter;

/* A trace line costs one comparison unless tracing is asked for. */
static void trace_step(int level, const char *what) {
  static int step;
  ++step;
  if (imsg_get_desired_verbosity() >= level &&
      imsg_should_trace(demo_table.subsys, level))
    imsg_print(IMSG_TRACE, &demo_table, DEMO_TRACE_STEP, step, what);
}

/* Ends the tool through fault management, so exit handlers run. The
 * fallback exit serves processes of type 2 and 3, where pfm_exit with the
 * C runtime's exit function returns; this tool is of type 1. */
static void leave(int code) {
  pfm_exit(code);
  exit(code);
}

static void fail(int message) {
  imsg_print(IMSG_ERROR, &demo_table, message);
  leave(1);
}

static void every_kind(void) {
  static const char *const names[] = {
      "ok",      "output",        "info",  "output, alternate",
      "warning", "plain warning", "error", "plain error",
      "trace",   "plain trace",   "other",
  };
  trace_step(1, "message kinds");
  for (int kind = IMSG_OK; kind <= IMSG_OTHER; ++kind) {
    /* Trace kinds are printed only when tracing is wanted. */
    if (kind == IMSG_TRACE || kind == IMSG_TRACE_PLAIN) continue;
    imsg_print(kind, &demo_table, DEMO_KIND_SHOWN, kind, names[kind]);
  }
  /* Error numbers have texts of their own. */
  imsg_print(IMSG_ERROR, &demo_table, DEMO_ERROR_TEXT, "/no/such/file",
             imsg_strerror(ENOENT));
}

static int compare_ints(const void *a, const void *b, void *context) {
  int x = *(const int *)a, y = *(const int *)b;
  int order = (x > y) - (x < y);
  return *(const int *)context ? -order : order;
}

/* Appends " word" to line, as far as it fits. */
static void append_word(char *line, const char *word) {
  size_t used = strlen(line);
  snprintf(line + used, DEMO_LINE_SIZE - used, " %s", word);
}

static void storage_and_containers(void) {
  trace_step(1, "storage and containers");
  stg_area_t area = stg_create_area(1024);
  if (area == STG_AREA_NULL) fail(DEMO_NO_AREA);
  char *greeting = stg_area_strdup(area, "hello from a storage area");
  int *numbers = stg_alloc(area, 5 * sizeof *numbers);
  imsg_print(IMSG_OK, &demo_table, DEMO_GREETING, greeting);

  /* A list whose elements live in the area. */
  list_t *words = list_create(area, 0);
  list_append(words, "first");
  list_append(words, "second");
  list_append(words, "third");
  char line[DEMO_LINE_SIZE] = "";
  void *data;
  for (list_elem_t *e = list_next(words, NULL, &data); e != NULL;
       e = list_next(words, e, &data))
    append_word(line, (const char *)data);
  imsg_print(IMSG_OK, &demo_table, DEMO_LIST, list_length(words), line);

  /* A stack pops its frames newest first. */
  ks_stack_t *stack = stack_create(area, 0);
  stack_push(stack, "bottom");
  stack_varlen_push(stack, "top", 4);
  uint32_t size;
  line[0] = '\0';
  while (stack_pop(stack, &data, &size) == 0)
    append_word(line, (const char *)data);
  imsg_print(IMSG_OK, &demo_table, DEMO_STACK, line);
  stack_destroy(&stack);

  /* ks_qsort hands the caller's context to the comparison. */
  static const int unsorted[5] = {5, 3, 9, 1, 7};
  for (int i = 0; i < 5; i++) numbers[i] = unsorted[i];
  int descending = 1;
  ks_qsort(numbers, 5, sizeof *numbers, compare_ints, &descending);
  imsg_print(IMSG_OK, &demo_table, DEMO_SORTED, numbers[0], numbers[1],
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
  trace_step(1, "two threads");
  qmthread_t tids[2];
  for (int i = 0; i < 2; i++)
    if (qmthread_create(&tids[i], NULL, count_up, NULL) != 0)
      fail(DEMO_NO_THREAD);
  for (int i = 0; i < 2; i++) qmthread_join(tids[i], NULL);
  imsg_print(IMSG_OK, &demo_table, DEMO_COUNTED, counter);
}

static void fail_deep_inside(int depth) {
  trace_step(2, "one level down");
  if (depth > 0)
    fail_deep_inside(depth - 1);
  else
    pfm_raise(DEMO_STATUS);
  /* Not reached: the raise leaves every frame up to the region. */
}

static void protected_region(void) {
  trace_step(1, "a protected region");
  pfm_cleanup_rec rec;
  rec.status = setjmp(rec.jmpbuf);
  if (pfm_cleanup_start(&rec, 0) == 0) {
    fail_deep_inside(3);
    pfm_cleanup_rls(&rec); /* not reached: the raise leaves the region */
  } else {
    imsg_print(IMSG_OK, &demo_table, DEMO_CAUGHT, (int)rec.status);
    /* The handler runs with raises inhibited; resume after the region. */
    pfm_enable();
  }
}

static void say_goodbye(int code, void *arg, struct on_exit_entry *entry) {
  imsg_print(IMSG_OK, &demo_table, DEMO_EXIT_HANDLER, (const char *)arg, code);
  free(entry); /* the entry is handed over to its handler */
}

int main(int argc, char **argv) {
  /* The caller of ks_system_init becomes the attached thread: it takes
   * interrupts and ends the process through pfm_exit. */
  ks_system_init();
  imsg_set_app_name(argv[0]);

  /* Exit handlers run newest first: "goodbye" last. */
  pfm_on_exit(say_goodbye, "goodbye");
  pfm_on_exit(say_goodbye, "see you");

  if (argc > 2 || (argc == 2 && strcmp(argv[1], "--daemon") != 0)) {
    imsg_print(IMSG_ERROR, &demo_table, DEMO_USAGE, imsg_get_app_name());
    leave(2);
  }
  if (argc == 2 && imsg_init_daemon() != 0) fail(DEMO_NO_DAEMON);

  every_kind();
  storage_and_containers();
  two_threads();
  protected_region();

  imsg_print(IMSG_OK, &demo_table, DEMO_EXITING);
  leave(0);
  return 0;
}
