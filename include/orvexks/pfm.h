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

KS_API int pfm_cleanup_start(pfm_cleanup_rec *rec, int32_t inhibit);
KS_API int pfm_cleanup_rls(pfm_cleanup_rec *rec);
KS_API int pfm_cleanup_reset(pfm_cleanup_rec *rec);
KS_API void pfm_raise(uint32_t status);
KS_API void pfm_test_raise(pfm_thread_state_t *state);
KS_API void pfm_inhibit(void);
KS_API void pfm_enable(void);
KS_API uint32_t pfm_inhibit_count(void);
KS_API void pfm_inhibit_suspend(void);
KS_API void pfm_enable_suspend(void);
KS_API uint32_t pfm_inhibit_suspend_count(void);
KS_API void pfm_notify_qm_thread(uint32_t status);
KS_API int pfm_get_notify_channel(void);
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

KS_API void pfm_init(void);
KS_API void pfm_proc_init(uint32_t type);
KS_API uint32_t pfm_external_proc_init(void);
KS_API uint32_t pfm_proc(void);
KS_API int pfm_in_safe_mode(void);
KS_API int pfm_proc_asignals(int how);
KS_API pfm_signal_t pfm_signal(int sig, pfm_signal_t handler);
/* Registers an exit handler. pfm_exit (and the C runtime's exit) runs the
 * handlers newest first while holding the fault-management mutex, so that
 * handlers registered meanwhile also run and two exits never run the same
 * handler: a handler must not wait for another thread that registers a
 * handler, calls pfm_signal or pfm_set_exit. Each handler receives its
 * entry and frees it; the library does not. */
KS_API void pfm_on_exit(pfm_exit_handler_t handler, void *arg);
KS_API pfm_exit_fn_t pfm_set_exit(pfm_exit_fn_t fn);
KS_API void pfm_exit(int code);
KS_NORETURN KS_API void pfm_panic(const char *file, int line);
KS_NORETURN KS_API void pfm_assert_fail(const char *condition,
                                        const char *file, int line);

/* Every abort of fault management stores "pfm_abort: ..." here, calls the
 * abort hook (when set) with the code 0xC5C5DEAD and the text, then ends
 * the process with abort(). */
#define PFM_ABORT_CODE 0xC5C5DEADu
#define PFM_ABORT_BUFFER_SIZE 2048
KS_API extern char pfm_abort_buffer[PFM_ABORT_BUFFER_SIZE];
typedef void (*pfm_abort_hook_t)(uint32_t code, const char *text);
KS_API pfm_abort_hook_t pfm_set_abort_hook(pfm_abort_hook_t hook);

#define PFM_ASSERT(cond) \
  ((cond) ? (void)0 : pfm_assert_fail(#cond, __FILE__, __LINE__))

KS_API const ks_msg_table_t *pfm_ks_msg_table_adr(void);
KS_API const ks_msg_table_t *_pfm_ks_msg_table_adr(void);

KS_END_DECLS

#endif
