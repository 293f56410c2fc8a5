// What the server transports and the dispatcher share: the transport-table
// lock and the settings it guards, waking the service loop, the transport
// kinds the loop treats specially, and the clock of the idle-connection
// cleaner.
#pragma once

#include <orvexks/qmthread.h>
#include <orvexks/rpc/svc.h>

#include <sys/socket.h>
#include <sys/time.h>

#include <cstdint>
#include <ctime>

// ---- Locks (made once, on first use).

// Guards the transport table, ks_svc_fdset and the record-size setting.
qmthread_rwlock_t *ksi_svc_table_lock();

// ---- Settings.

// Maximum record size for connections accepted from now on (0: blocking
// connections). REQUIRES: the transport-table lock.
int32_t ksi_svc_connmaxrec_locked();

// ---- The transport table and the loop.

// True when xprt is in the table. REQUIRES: the transport-table lock.
bool ksi_svc_is_registered_locked(const SVCXPRT *xprt);
// Puts a served socket back into ks_svc_fdset unless its transport was
// unregistered meanwhile. REQUIRES: the transport-table write lock.
void ksi_svc_fdset_restore_locked(const SVCXPRT *xprt);
// Takes a socket out of ks_svc_fdset while a worker serves it.
void ksi_svc_fdset_take(const SVCXPRT *xprt);
// Wakes the loop when it waits in select. REQUIRES: the transport-table
// lock.
void ksi_svc_wake_loop_locked();
// Marks whether the loop waits in select.
void ksi_svc_set_in_select(bool in_select);
// Makes the update-select pipe; aborts the process when it cannot.
void ksi_svc_make_update_pipe();
bool ksi_svc_is_pipe(const SVCXPRT *xprt);

// Copies ks_svc_fdset twice under the transport-table lock; returns one
// more than the highest registered socket (select's first argument).
int ksi_svc_copy_fdset(fd_set *first, fd_set *second);
// The first registered transport whose socket is in ready, its socket
// taken out of ready; null when none is.
SVCXPRT *ksi_svc_take_ready(fd_set *ready);
// Stores in out (room for KS_SVC_MAX_XPRTS) the registered non-blocking
// connections in set idle since before limit; returns their count.
int ksi_svc_collect_idle(const fd_set *set, time_t limit, SVCXPRT **out);

// One round of the service loop: wait at most *timeout for a request,
// serve what is ready or, on a timeout, close idle connections. False when
// waiting failed (errno set).
bool ksi_svc_run_once(struct timeval timeout);

// ---- Transport kinds.

// Connection transports: non-blocking ones are closed by the idle-
// connection cleaner.
bool ksi_svc_is_connection(const SVCXPRT *xprt);
bool ksi_svc_conn_idle_since(const SVCXPRT *xprt, time_t limit);
// A connection transport for a connected socket, unregistered, with its
// addresses unset; null (after "<who>: ks_makefd_xprt: out of memory")
// when memory runs out or the socket cannot be waited on.
SVCXPRT *ksi_svc_make_conn(int fd, uint32_t sendsz, uint32_t recvsz,
                           const char *who);
// Switches a connection to non-blocking records of at most maxrec bytes.
bool ksi_svc_conn_set_nonblock(SVCXPRT *xprt, int32_t maxrec);
// Marks a connection dead: the loop closes it once the request ends.
void ksi_svc_conn_mark_dead(SVCXPRT *xprt);
// Waits at most wait_ms for the caller's next call on a connection whose
// last request is done; true when it came (then read, for a blocking
// connection) or the connection ended, so that ks_svc_process_request
// has something to do.
bool ksi_svc_conn_await_call(SVCXPRT *xprt, int wait_ms);

// Unregisters and destroys the non-blocking connections in set whose last
// receive is more than limit seconds old.
void ksi_svc_clean_idle(const fd_set *set, int limit);

// Dispatches the call a datagram clone received on its own.
void ksi_svc_dispatch_decoded(SVCXPRT *clone);

// ---- Shared helpers.

// The clock of the idle-connection cleaner (tests move it).
time_t ksi_svc_now();
void ksi_svc_set_clock(time_t (*clock)());

// Socket sizes: 0 gives the protocol default, anything is cut to 262144.
uint32_t ksi_svc_size(int sotype, uint32_t size);
// Allocates a transport handle with room for a 128-byte local and caller
// address; null when memory runs out.
SVCXPRT *ksi_svc_alloc_xprt();
// Frees the handle, its addresses, netid and device.
void ksi_svc_free_xprt(SVCXPRT *xprt);
// Stores a caller's address in xp_rtaddr and, for IPv4, xp_raddr.
void ksi_svc_set_caller(SVCXPRT *xprt, const struct sockaddr *sa,
                        socklen_t len);
// Reads the socket's local address into xp_ltaddr; false on failure.
bool ksi_svc_read_local(SVCXPRT *xprt);
// Writes text and a newline (unless it ends in one) to standard error.
void ksi_svc_report(const char *text);
// Operations slots a transport kind does not have end the process.
[[noreturn]] void ksi_svc_bad_op(const char *what);

extern const struct xp_ops2 ksi_svc_no_control;
