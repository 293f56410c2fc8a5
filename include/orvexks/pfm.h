/* Fault management: protected regions, raises, inhibition, signals, exit
 * handlers, panic and assertions.
 *
 * A protected region:
 *
 *     pfm_cleanup_rec rec;
 *     rec.status = setjmp(rec.jmpbuf);
 *     if (pfm_cleanup_start(&rec, 0) == 0) {
 *         ... body ...
 *         pfm_cleanup_rls(&rec);
 *     } else {
 *         ... cleanup, then pfm_raise(rec.status) or pfm_enable() ...
 *     }
 *
 * A raise leaves frames by longjmp: locals the cleanup code reads must be
 * volatile, and abandoned frames must own nothing that needs releasing. */
#ifndef ORVEXKS_PFM_H
#define ORVEXKS_PFM_H

/* ks_base.h comes first: it picks the POSIX feature set of the system
 * headers. */
#include <orvexks/ks_base.h>

#include <setjmp.h>
#include <sys/select.h>

#include <orvexks/imsg.h>
#include <orvexks/qmthread.h>

KS_BEGIN_DECLS

#define MAGIC_SET 0xFA01BEEFu
#define MAGIC_TRIPPED 0x05FE4110u

/* The status the library posts for an interrupt. */
#define PFM_STATUS_INTERRUPT 4u

typedef struct pfm_cleanup_rec {
  uint32_t magic;
  struct pfm_cleanup_rec *prev;
  jmp_buf jmpbuf;
  int32_t inh;
  int32_t inh_susp;
  qmthread_t thr_id;
  int32_t status;
} pfm_cleanup_rec;

typedef struct pfm_thread_state pfm_thread_state_t;

/* Delivery points. A status posted to a thread (pfm_notify_qm_thread, an
 * interrupt) is raised in that thread only at a delivery check, and only
 * when the thread's inhibit count is 0: pfm_cleanup_start, pfm_test_raise,
 * pfm_inhibit, pfm_enable, pfm_inhibit_count, pfm_inhibit_suspend,
 * pfm_enable_suspend, pfm_inhibit_suspend_count, and in a type-2 process
 * also pfm_cleanup_rls and pfm_cleanup_reset. Message output (imsg_print)
 * ends with one too, so every function documented as printing is a
 * delivery point. Taking or releasing a mutex is not: a raise-mode lock
 * only raises the inhibit count while held (qmthread.h). A check also ends
 * the process through a pending pfm_exit. Records, counts and raises are
 * per thread; nothing here takes a caller-visible lock. */

/* Arms rec after rec.status = setjmp(rec.jmpbuf), with a delivery check
 * first. Status 0 (the setjmp): pushes rec as the thread's innermost record,
 * remembering the inhibit counts, and returns 0. Non-zero (a raise came
 * back): rec must be the innermost armed record of this thread; pops it,
 * sets the inhibit count to the saved count + 1 (the handler runs
 * inhibited) and returns the status. inhibit is normally 0. */
KS_API int pfm_cleanup_start(pfm_cleanup_rec *rec, int32_t inhibit);
/* Ends the protected region: rec must be the innermost armed record. */
KS_API int pfm_cleanup_rls(pfm_cleanup_rec *rec);
/* Re-arms a tripped record inside its handler and lowers the inhibit count
 * by one (pfm_enable), so the region is protected again. */
KS_API int pfm_cleanup_reset(pfm_cleanup_rec *rec);
/* Jumps to the innermost armed record of this thread with status (non-zero)
 * and does not return. Without a record it becomes pfm_exit(status): the
 * attached thread ends the process, another thread ends itself. On the
 * signal-delivery thread it posts the status instead. */
KS_API void pfm_raise(uint32_t status);
/* A delivery check for the given thread state (null: the caller's). */
KS_API void pfm_test_raise(pfm_thread_state_t *state);
/* Delivery check, then holds asynchronous raises off (count + 1). */
KS_API void pfm_inhibit(void);
/* Lowers the count by one, then a delivery check. Below 0 is a fault. */
KS_API void pfm_enable(void);
/* The caller's inhibit count (read before the delivery check it makes). */
KS_API uint32_t pfm_inhibit_count(void);
/* Delivery checks kept for callers of the suspend interface; the suspend
 * count itself is only saved and restored by protected regions. */
KS_API void pfm_inhibit_suspend(void);
KS_API void pfm_enable_suspend(void);
KS_API uint32_t pfm_inhibit_suspend_count(void);
/* Posts status to every registered thread and wakes the attached thread's
 * select through the notification channel. Any thread may call it; the
 * status is raised by each thread at its own next delivery check. */
KS_API void pfm_notify_qm_thread(uint32_t status);
/* The readable end of the notification channel (a loopback datagram
 * socket, opened on first use and kept until pfm_exit completes); -1 when
 * it cannot be opened. The descriptor belongs to the library. */
KS_API int pfm_get_notify_channel(void);
/* select() that a posted status interrupts. The caller must hold exactly
 * one inhibit (count 1), or the process aborts. On the attached thread a
 * status posted during the wait gives -1 with errno EINTR, and the
 * channel's datagrams are consumed. */
KS_API int pfm_select_inhibited(int nfds, fd_set *readfds, fd_set *writefds,
                                fd_set *exceptfds, struct timeval *timeout);

/* Process types. */
#define PFM_PROCESS_INVALID 0u
#define PFM_PROCESS_DEFAULT 1u
#define PFM_PROCESS_DEFERRED 2u
#define PFM_PROCESS_EXTERNAL 3u

typedef void (*pfm_signal_t)(int sig, uint32_t sigbit);
struct on_exit_entry;
typedef void (*pfm_exit_handler_t)(int code, void *arg,
                                   struct on_exit_entry *entry);
struct on_exit_entry {
  pfm_exit_handler_t handler;
  void *arg;
  struct on_exit_entry *next;
};
typedef void (*pfm_exit_fn_t)(int code);

/* Initialises fault management once (later calls do nothing): records the
 * signals' initial handlers, installs the interrupt handler for SIGINT and
 * SIGTERM and makes the caller the attached thread, unless the process type
 * is PFM_PROCESS_EXTERNAL. Another thread already attached is a fault. The
 * functions below that need it call it themselves. */
KS_API void pfm_init(void);
/* Chooses the process type (1, 2 or 3) unless one was chosen, then
 * initialises. Type 0, or type 3 after initialisation, is a fault. */
KS_API void pfm_proc_init(uint32_t type);
/* Chooses PFM_PROCESS_EXTERNAL when no type was chosen, without
 * initialising; returns the type now in force. */
KS_API uint32_t pfm_external_proc_init(void);
KS_API uint32_t pfm_proc(void);
/* 1 in an external (type 3) process. */
KS_API int pfm_in_safe_mode(void);
/* 0 for SIG_BLOCK (0) and SIG_UNBLOCK (1), which change nothing; any other
 * value is a fault. */
KS_API int pfm_proc_asignals(int how);
/* Requests handler (SIG_DFL, SIG_IGN or a function) for signal sig and
 * returns the previously requested one. A function runs on the library's
 * signal-delivery thread with (sig, 1 << (sig - 1)); there pfm_raise posts
 * and pfm_exit is deferred to the attached thread. A fault in an external
 * process. */
KS_API pfm_signal_t pfm_signal(int sig, pfm_signal_t handler);
/* Registers an exit handler. pfm_exit (and the C runtime's exit) runs the
 * handlers newest first while holding the fault-management mutex, so that
 * handlers registered meanwhile also run and two exits never run the same
 * handler: a handler must not wait for another thread that registers a
 * handler, calls pfm_signal or pfm_set_exit. Each handler receives its
 * entry and frees it; the library does not. */
KS_API void pfm_on_exit(pfm_exit_handler_t handler, void *arg);
/* Replaces the function pfm_exit ends the process with (initially exit);
 * returns the previous one. */
KS_API pfm_exit_fn_t pfm_set_exit(pfm_exit_fn_t fn);
/* On the attached thread: runs the exit handlers, then (except in type 2
 * and 3 processes still using exit, where it returns) leaves the library
 * lock completely, stops the signal-delivery thread, closes the channel and
 * calls the exit function with code. On another thread: ends that thread
 * only (qmthread_exit). On the signal-delivery thread: records the exit for
 * the attached thread's next delivery check and returns. */
KS_API void pfm_exit(int code);
/* Prints "***ABORT***  'file':line" (kind 6) and aborts: the abort text goes
 * to pfm_abort_buffer, the abort hook runs, the process ends. Delivery is
 * held off first, so no pending status can turn the abort into a raise. */
KS_NORETURN KS_API void pfm_panic(const char *file, int line);
/* As pfm_panic with "PFM_ASSERT:(condition) failed: 'file':line". */
KS_NORETURN KS_API void pfm_assert_fail(const char *condition, const char *file,
                                        int line);

/* Every abort of fault management stores "pfm_abort: ..." here, calls the
 * abort hook (when set) with the code 0xC5C5DEAD and the text, then ends
 * the process with abort(). */
#define PFM_ABORT_CODE 0xC5C5DEADu
#define PFM_ABORT_BUFFER_SIZE 2048
KS_API extern char pfm_abort_buffer[PFM_ABORT_BUFFER_SIZE];
typedef void (*pfm_abort_hook_t)(uint32_t code, const char *text);
/* Sets the abort hook (null: none) and returns the previous one. The hook
 * runs on the aborting thread and cannot stop the abort. */
KS_API pfm_abort_hook_t pfm_set_abort_hook(pfm_abort_hook_t hook);

/* pfm_assert_fail with the condition's text, file and line when cond is
 * false. */
#define PFM_ASSERT(cond) \
  ((cond) ? (void)0 : pfm_assert_fail(#cond, __FILE__, __LINE__))

/* The "pfm" message table. */
KS_API const ks_msg_table_t *pfm_ks_msg_table_adr(void);
KS_API const ks_msg_table_t *_pfm_ks_msg_table_adr(void);

KS_END_DECLS

#endif
