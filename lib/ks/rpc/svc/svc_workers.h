// The worker pool of the threaded service loop.
#pragma once

#include <orvexks/rpc/svc.h>

#include <cstdint>

// True once threaded mode was chosen and the workers and the update-select
// pipe are made.
bool ksi_svc_threaded();
// Hands a transport, or a datagram clone holding its request, to the first
// idle worker, waiting while every worker is busy.
void ksi_svc_hand_to_worker(SVCXPRT *xprt);
// Clears xprt from the worker serving it, so that its socket is not put
// back. REQUIRES: the transport-table write lock.
void ksi_svc_workers_forget_locked(const SVCXPRT *xprt);
// ks_rpc_control requests 2 to 5.
bool ksi_svc_worker_control(int request, int32_t *value);
