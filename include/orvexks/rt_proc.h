/* Child process tracking. A program announces each child it started with a
 * pidfd; a watcher thread waits on the pidfds and reports each death to the
 * event loop (rt.h), where the announcement's callback runs with the exit
 * code: the child's status, or 128 + signal for a child ended by a signal.
 * The death is taken with waitid, which also reaps the child. */
#ifndef ORVEXKS_RT_PROC_H
#define ORVEXKS_RT_PROC_H

#include <orvexks/ks_base.h>

#include <orvexks/imsg.h>

KS_BEGIN_DECLS

/* Called on the event-loop thread when the child pid ended; record is the
 * tracker's record of the child, valid during the call only. */
typedef void (*rt_proc_callback_t)(uint32_t pid, uint32_t exit_code, void *arg,
                                   void *record);

/* Creates the tracker once: 0 when it exists, -1 when it could not be
 * created. The other rt_proc_ functions call it first (abort on failure). */
KS_API int rt_proc_initialize(void);
/* Announces the child pid of the calling process with its pidfd
 * (pidfd_open(pid, 0)); the tracker owns pidfd from then on and closes it
 * after the death. cb may be null: the child is then reaped silently.
 * 0, or 1 when no memory was left (the child is killed, reported). */
KS_API int rt_proc_birth_announcement(uint32_t pid, int pidfd,
                                      rt_proc_callback_t cb, void *arg);
/* Drops the callback of pid, which is still reaped silently: 0, or -1 when
 * pid is not an announced living child. */
KS_API int rt_proc_disown(uint32_t pid);
/* Sends SIGKILL to every announced child: 0, or -1 when there was none.
 * Records go when the deaths arrive. */
KS_API int rt_proc_killall(void);
/* 1 when any announced child has not yet been reported dead, else 0. */
KS_API int rt_proc_any_procs(void);
/* 1 when pid is an announced child not yet reported dead, else 0. */
KS_API int rt_proc_alive(uint32_t pid);

/* 1 when the process pid exists (also one of another user), else 0. */
KS_API int procutl_exists(uint32_t pid);
/* Sends SIGKILL to pid: 0 sent, 1 when it could not be. */
KS_API int procutl_terminate(uint32_t pid);

/* The family's message table. */
KS_API const ks_msg_table_t *rt_proc_ks_msg_table_adr(void);
KS_API const ks_msg_table_t *_rt_proc_ks_msg_table_adr(void);

KS_END_DECLS

#endif
