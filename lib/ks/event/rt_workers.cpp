// The RPC server's worker threads, set and read through the event loop's
// interface.

#include <orvexks/pfm.h>
#include <orvexks/rpc/svc.h>
#include <orvexks/rt.h>

#include "event/rt_msgs.h"

extern "C" {

KS_API int rt_set_worker_threads(int32_t count) {
  // A negative count is no setting at all: refused, nothing changes.
  if (count < 0) return 1;
  int32_t mode = count != 0 ? 1 : 0;
  if (!ks_rpc_control(KS_RPC_SVC_THREADED_SET, &mode)) {
    imsg_print(IMSG_ERROR, &ksi_rt_msgs, KSI_RT_CANT_SET_MULTITHREAD);
    return 1;
  }
  if (mode == 1 && !ks_rpc_control(KS_RPC_SVC_NWORKERS_SET, &count)) {
    imsg_print(IMSG_ERROR, &ksi_rt_msgs, KSI_RT_CANT_SET_WORKERS);
    return 1;
  }
  PFM_ASSERT(ks_svc_setup_threads());
  return 0;
}

KS_API int rt_get_worker_threads(int32_t *count) {
  int32_t mode = 0;
  if (!ks_rpc_control(KS_RPC_SVC_THREADED_GET, &mode)) {
    imsg_print(IMSG_ERROR, &ksi_rt_msgs, KSI_RT_CANT_GET_MULTITHREAD);
    return 1;
  }
  if (mode == 0) {
    *count = 0;
    return 0;
  }
  if (!ks_rpc_control(KS_RPC_SVC_NWORKERS_GET, count)) {
    imsg_print(IMSG_ERROR, &ksi_rt_msgs, KSI_RT_CANT_GET_WORKERS);
    return 1;
  }
  return 0;
}

}  // extern "C"
