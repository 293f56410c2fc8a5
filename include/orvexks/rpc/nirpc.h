/* The duplicate request cache for non-idempotent calls: before running a
 * procedure whose effect must happen once, a server asks whether the call
 * is new, a retransmission of one still running, a retransmission of one
 * already answered (whose saved reply it resends), or older than the last
 * call seen from that caller.
 *
 * A caller is its socket address (req->rq_xprt->xp_rtaddr) together with
 * a 64-bit key that the protocol chooses (for example the caller's boot
 * time); its calls carry growing 32-bit sequence numbers. A saved reply is
 * dropped 300 seconds after it was saved, through the event loop's timers
 * (rt.h): a server that keeps replies must run the loop.
 *
 * For one call: nirpc_fetch; on NIRPC_NEW run the procedure, nirpc_save the
 * encoded reply, send it and nirpc_set_finish; on NIRPC_DUPLICATE send the
 * copied reply again; on NIRPC_STALE and NIRPC_INPROGRESS send nothing.
 *
 * Every function may be called from any thread; each holds raises off and
 * takes the lock of the caller's bucket while it works. None is a delivery
 * point. Running out of memory ends the process. */
#ifndef ORVEXKS_RPC_NIRPC_H
#define ORVEXKS_RPC_NIRPC_H

#include <orvexks/ks_base.h>

#include <stdint.h>

KS_BEGIN_DECLS

struct svc_req;

/* Results of nirpc_fetch. */
#define NIRPC_NEW 0        /* run the procedure */
#define NIRPC_STALE 1      /* older than the caller's last call: drop it */
#define NIRPC_DUPLICATE 2  /* answered before: the saved reply was copied */
#define NIRPC_INPROGRESS 3 /* still running: drop it */

/* Called with a saved reply and 1 before the cache frees its copy of it. */
typedef void (*nirpc_release_t)(void *reply, int flag);

/* Looks the call (caller, key, seq) up. A call with a higher sequence than
 * the caller's last (or sequence 0 after another) is new and drops the
 * caller's saved reply. For NIRPC_DUPLICATE the saved reply's first size
 * bytes go to buf (when not null) and its full length to *len_out (when
 * not null). */
KS_API int nirpc_fetch(struct svc_req *req, uint64_t key, uint32_t seq,
                       void *buf, uint32_t size, uint32_t *len_out);
/* Keeps a copy of the len bytes of reply as the answer to (caller, key,
 * seq) for 300 seconds; nothing when the caller has moved on to a later
 * sequence. release, when not null, is called with the cache's copy before
 * it is freed. At most one reply is saved per fetched call. */
KS_API void nirpc_save(struct svc_req *req, uint64_t key, uint32_t seq,
                       const void *reply, uint32_t len,
                       nirpc_release_t release);
/* Marks the call (caller, key, seq) as no longer running, so that its
 * retransmissions get the saved reply. */
KS_API void nirpc_set_finish(struct svc_req *req, uint64_t key, uint32_t seq);

KS_END_DECLS

#endif
