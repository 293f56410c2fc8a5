/* A small supervisor on the event loop of liborvexks: it starts the
 * commands given on its command line, reports each death with its exit
 * code (128 + the signal for a command ended by a signal), and restarts an
 * ended command after a short pause. SIGINT or SIGTERM stops it: the
 * library turns the signal into an interrupt raised out of the loop, and
 * the supervisor kills its children and reports their deaths before it
 * ends.
 *
 *     supervisor [-r RESTARTS] COMMAND...
 *
 * Each COMMAND is a shell command line. -r limits the restarts of each
 * command (unlimited by default); the supervisor ends by itself once no
 * command is left running. */
#define _POSIX_C_SOURCE 200809L /* the interface uses POSIX thread types */

#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/pidfd.h>
#include <sys/wait.h>

#include <orvexks/orvexks.h>

extern char **environ;

/* The supervisor's messages, by index. */
enum {
  SV_USAGE,
  SV_STARTED,
  SV_ENDED,
  SV_CANT_START,
  SV_GIVING_UP,
  SV_STOPPING,
  SV_MESSAGE_COUNT
};

static const char *const sv_texts[SV_MESSAGE_COUNT] = {
    "usage: %s [-r RESTARTS] COMMAND...\n",
    "supervisor: started [%s] as pid %u\n",
    "supervisor: [%s] (pid %u) ended with exit code %u\n",
    "cannot start [%s]: %s\n",
    "supervisor: [%s] is not restarted again\n",
    "supervisor: interrupted, stopping the children\n",
};

static const int16_t sv_ids[SV_MESSAGE_COUNT] = {1, 2, 3, 4, 5, 6};

static const ks_msg_table_t sv_table = {
    "ks_lib", "supervisor", 98, SV_MESSAGE_COUNT, sv_texts, sv_ids,
};

struct command {
  const char *line;
  long restarts_left; /* -1: unlimited */
};

/* Loop-thread state: the loop's callbacks all run on this thread. */
static int active; /* commands running or waiting for their restart */
static int stopping;

static void command_ended(uint32_t pid, uint32_t exit_code, void *arg,
                          void *record);

static void command_gone(void) {
  if (--active == 0) rt_shutdown();
}

/* Starts the command and announces it to the child tracker, which calls
 * command_ended on the loop when it ends. */
static void start_command(void *arg) {
  struct command *c = arg;
  if (stopping) {
    command_gone();
    return;
  }
  char *argv[] = {"/bin/sh", "-c", (char *)c->line, NULL};
  pid_t pid;
  int err = posix_spawn(&pid, argv[0], NULL, NULL, argv, environ);
  if (err == 0) {
    int pidfd = pidfd_open(pid, 0);
    if (pidfd >= 0 && rt_proc_birth_announcement((uint32_t)pid, pidfd,
                                                 command_ended, c) == 0) {
      imsg_print(IMSG_OK, &sv_table, SV_STARTED, c->line, (unsigned)pid);
      return;
    }
    err = errno;
    kill(pid, SIGKILL); /* never leave an untracked child */
    waitpid(pid, NULL, 0);
  }
  imsg_print(IMSG_ERROR, &sv_table, SV_CANT_START, c->line, strerror(err));
  command_gone();
}

/* The books are kept before printing: printing is where an interrupt may
 * be raised out of the loop. */
static void command_ended(uint32_t pid, uint32_t exit_code, void *arg,
                          void *record) {
  struct command *c = arg;
  (void)record;
  int restart = !stopping && c->restarts_left != 0;
  if (restart) {
    struct timeval pause = {0, 200000};
    restart = rt_sched_rel(start_command, c, &pause) != NULL;
    if (restart && c->restarts_left > 0) --c->restarts_left;
  }
  if (!restart) command_gone();
  imsg_print(IMSG_OK, &sv_table, SV_ENDED, c->line, (unsigned)pid,
             (unsigned)exit_code);
  if (!restart && !stopping)
    imsg_print(IMSG_OK, &sv_table, SV_GIVING_UP, c->line);
}

int main(int argc, char **argv) {
  ks_system_init();
  imsg_set_app_name("supervisor");
  int first = 1;
  long restarts = -1;
  if (argc > 2 && strcmp(argv[1], "-r") == 0) {
    restarts = strtol(argv[2], NULL, 10);
    first = 3;
  }
  int count = argc - first;
  if (count < 1) {
    imsg_print(IMSG_ERROR, &sv_table, SV_USAGE, argv[0]);
    return 2;
  }
  struct command *commands = calloc((size_t)count, sizeof *commands);
  if (commands == NULL) return 1;
  active = count;
  for (int i = 0; i < count; ++i) {
    commands[i].line = argv[first + i];
    commands[i].restarts_left = restarts;
    rt_sched(start_command, &commands[i], 0);
  }

  pfm_cleanup_rec rec;
  rec.status = setjmp(rec.jmpbuf);
  if (pfm_cleanup_start(&rec, 0) == 0) {
    rt_run();
    pfm_cleanup_rls(&rec);
  } else {
    pfm_enable(); /* the handler runs with raises held off */
    if (rec.status != PFM_STATUS_INTERRUPT) pfm_raise((uint32_t)rec.status);
    imsg_print(IMSG_OK, &sv_table, SV_STOPPING);
    stopping = 1;
    rt_proc_killall();
    rt_run(); /* until every command's end was reported */
  }
  free(commands);
  pfm_exit(0);
}
