// Client error reporting: the mapping of an unsuccessful reply onto an
// error record, the texts of call statuses and authentication failures,
// and the per-thread creation error and text buffer.
#include <orvexks/rpc/clnt.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "internal/report_line.h"
#include "rpc/msg/rpc_enum.h"
#include "thread/tls_impl.h"

constexpr size_t kTextSize = 256;

struct ksi_rpc_tls {
  char text[kTextSize];
  struct rpc_createerr createerr;
};

namespace {

ksi_tls_slot_t rpc_slot = KSI_TLS_SLOT_INIT(ksi_rpc_tls, nullptr);

const char *const kStatTexts[] = {
    "RPC: Success",
    "RPC: Can't encode arguments",
    "RPC: Can't decode result",
    "RPC: Unable to send",
    "RPC: Unable to receive",
    "RPC: Timed out",
    "RPC: Incompatible versions of RPC",
    "RPC: Authentication error",
    "RPC: Program unavailable",
    "RPC: Program/version mismatch",
    "RPC: Procedure unavailable",
    "RPC: Server can't decode arguments",
    "RPC: Remote system error",
    "RPC: Unknown host",
    "RPC: Port mapper failure",
    "RPC: Program not registered",
    "RPC: Failed (unspecified error)",
    "RPC: Unknown protocol",
};
constexpr unsigned kStatCount = sizeof kStatTexts / sizeof kStatTexts[0];
constexpr const char *kUnknownStat = "RPC: (unknown error code)";

const char *const kAuthTexts[] = {
    "Authentication OK",
    "Invalid client credential",
    "Server ks_rejected credential",
    "Invalid client verifier",
    "Server ks_rejected verifier",
    "Client credential too weak",
    "Invalid server verifier",
    "Failed (unspecified error)",
};
constexpr unsigned kAuthCount = sizeof kAuthTexts / sizeof kAuthTexts[0];

struct socket_error_text {
  int number;
  const char *text;
};

// Socket error numbers, searched in order; the first match wins.
const socket_error_text kSocketTexts[] = {
    {10004, "[WINSOCK] Interrupted system call"},
    {10009, "[WINSOCK] Bad file descriptor"},
    {10013, "[WINSOCK] Permission denied"},
    {10014, "[WINSOCK] Bad address"},
    {10022, "[WINSOCK] Invalid argument"},
    {10024, "[WINSOCK] Too many open files"},
    {10035, "[WINSOCK] Resource temporarily unavailable"},
    {10036, "[WINSOCK] Operation now in progress"},
    {10037, "[WINSOCK] Operation already in progress"},
    {10038, "[WINSOCK] Socket operation on non-socket"},
    {10039, "[WINSOCK] Destination address required"},
    {10040, "[WINSOCK] Message too long"},
    {10041, "[WINSOCK] Protocol wrong type for socket"},
    {10042, "[WINSOCK] Protocol not available"},
    {10043, "[WINSOCK] Protocol not supported"},
    {10044, "[WINSOCK] Socket type not supported"},
    {10045, "[WINSOCK] Operation not supported"},
    {10046, "[WINSOCK] Protocol family not supported"},
    {10047, "[WINSOCK] Address family not supported by protocol family"},
    {10048, "[WINSOCK] Address already in use"},
    {10049, "[WINSOCK] Can't assign requested address"},
    {10050, "[WINSOCK] Network is down"},
    {10051, "[WINSOCK] Network is unreachable"},
    {10052, "[WINSOCK] Network dropped connection on reset"},
    {10053, "[WINSOCK] Software caused connection abort"},
    {10054, "[WINSOCK] Connection reset by peer"},
    {10055, "[WINSOCK] No buffer space available"},
    {10056, "[WINSOCK] Socket is already connected"},
    {10057, "[WINSOCK] Socket is not connected"},
    {10058, "[WINSOCK] Can't send after socket shutdown"},
    {10059, "[WINSOCK] Too many references: can't splice"},
    {10060, "[WINSOCK] Connection timed out"},
    {10061, "[WINSOCK] Connection refused"},
    {10062, "[WINSOCK] Too many levels of symbolic links"},
    {10063, "[WINSOCK] File name too long"},
    {10064, "[WINSOCK] Host is down"},
    {10065, "[WINSOCK] No route to host"},
    {10066, "[WINSOCK] Directory not empty"},
    {10067, "[WINSOCK] Too many processes"},
    {10068, "[WINSOCK] Too many users"},
    {10069, "[WINSOCK] Disc quota exceeded"},
    {10070, "[WINSOCK] Stale NFS file handle"},
    {10071, "[WINSOCK] Too many levels of remote in path"},
    {10101, "[WINSOCK] Graceful shutdown in progress"},
    {10091, "[WINSOCK] Network subsystem is unavailable"},
    {10092, "[WINSOCK] WINSOCK.DLL version out of range"},
    {10093, "[WINSOCK] Successful WSAStartup not yet performed"},
    {11001, "[WINSOCK] Host not found"},
    {11002, "[WINSOCK] Non-authoritative host not found"},
    {11003, "[WINSOCK] This is a non-recoverable error"},
    {11004, "[WINSOCK] Valid name, no data record of requested type"},
    {10102,
     "[WINSOCK] No more results can be returned by WSALookupServiceNext"},
    {10103,
     "[WINSOCK] A call to WSALookupServiceEnd was made while this call was "
     "still processing"},
    {10104, "[WINSOCK] Invalid procedure table from service provider"},
    {10105, "[WINSOCK] Invalid service provider version number"},
    {10106, "[WINSOCK] Unable to initialize a service provider"},
    {10107, "[WINSOCK] System call failure"},
    {10108, "[WINSOCK] No such service is known"},
    {10109, "[WINSOCK] Class type not found"},
    {10110,
     "[WINSOCK] No more results can be returned by WSALookupServiceNext"},
    {10111,
     "[WINSOCK] A call to WSALookupServiceEnd was made while this call was "
     "still processing"},
    {10112,
     "[WINSOCK] A database query failed because it was actively refused"},
    {997, "[WINSOCK] Overlapped operations will complete later"},
    {996, "[WINSOCK] Overlapped I/O event object not in signaled state"},
    {6, "[WINSOCK] Specified event object handle is invalid"},
    {87, "[WINSOCK] One or more parameters are invalid"},
    {8, "[WINSOCK] Insufficient memory available"},
    {995, "[WINSOCK] Overlapped operation aborted"},
};

// The text of a C library or socket error number, or null.
const char *error_text(int number) {
  if (number >= 1) {
    const char *text = strerrordesc_np(number);
    if (text != nullptr) return text;
  }
  for (const socket_error_text &row : kSocketTexts)
    if (row.number == number) return row.text;
  return nullptr;
}

const char *status_text(int32_t stat) {
  unsigned index = static_cast<unsigned>(stat);
  return index < kStatCount ? kStatTexts[index] : kUnknownStat;
}

const char *auth_text(int why) {
  return why >= 0 && static_cast<unsigned>(why) < kAuthCount ? kAuthTexts[why]
                                                             : nullptr;
}

ksi_rpc_tls *rpc_tls() { return ksi_tls_record<ksi_rpc_tls>(&rpc_slot); }

// Appends to the thread's text buffer, truncating at its end.
struct text_builder {
  char *buf;
  size_t used;

  KS_PRINTF(2, 3) void add(const char *fmt, ...) {
    if (used >= kTextSize - 1) return;
    va_list args;
    va_start(args, fmt);
    int n = vsnprintf(buf + used, kTextSize - used, fmt, args);
    va_end(args);
    if (n > 0) used += static_cast<size_t>(n);
    if (used > kTextSize - 1) used = kTextSize - 1;
  }
};

void write_line(const char *text) {
  if (text != nullptr) ksi_report("%s", text);
}

// Creation failures land here when the thread's record cannot be made.
struct rpc_createerr fallback_createerr;

}  // namespace

extern "C" {

KS_API struct rpc_createerr *ks_rpc_get_createerr(void) {
  ksi_rpc_tls *tls = rpc_tls();
  return tls != nullptr ? &tls->createerr : &fallback_createerr;
}

KS_API void _ks_seterr_reply(struct rpc_msg *msg, struct rpc_err *error) {
  const struct reply_body *rb = &msg->rm_reply;
  switch (ksi_enum_word(rb->rp_stat)) {
    case MSG_ACCEPTED: {
      const struct accepted_reply *ar = &rb->rp_acpt;
      switch (ksi_enum_word(ar->ar_stat)) {
        case SUCCESS:
          error->re_status = RPC_SUCCESS;
          return;
        case PROG_UNAVAIL:
          error->re_status = RPC_PROGUNAVAIL;
          return;
        case PROG_MISMATCH:
          error->re_status = RPC_PROGVERSMISMATCH;
          error->re_vers.low = ar->ar_vers.low;
          error->re_vers.high = ar->ar_vers.high;
          return;
        case PROC_UNAVAIL:
          error->re_status = RPC_PROCUNAVAIL;
          return;
        case GARBAGE_ARGS:
          error->re_status = RPC_CANTDECODEARGS;
          return;
        case SYSTEM_ERR:
          error->re_status = RPC_SYSTEMERROR;
          return;
      }
      error->re_status = RPC_FAILED;
      error->re_lb.s1 = MSG_ACCEPTED;
      error->re_lb.s2 = ksi_enum_word(ar->ar_stat);
      return;
    }
    case MSG_DENIED: {
      const struct rejected_reply *rr = &rb->rp_rjct;
      switch (ksi_enum_word(rr->rj_stat)) {
        case RPC_MISMATCH:
          error->re_status = RPC_VERSMISMATCH;
          error->re_vers.low = rr->rj_vers.low;
          error->re_vers.high = rr->rj_vers.high;
          return;
        case AUTH_ERROR:
          error->re_status = RPC_AUTHERROR;
          ksi_set_enum_word(&error->re_why, ksi_enum_word(rr->rj_why));
          return;
      }
      error->re_status = RPC_FAILED;
      error->re_lb.s1 = MSG_DENIED;
      error->re_lb.s2 = ksi_enum_word(rr->rj_stat);
      return;
    }
  }
  error->re_status = RPC_FAILED;
  error->re_lb.s1 = ksi_enum_word(rb->rp_stat);
}

KS_API const char *ks_clnt_sperrno(enum clnt_stat stat) {
  return status_text(ksi_enum_word(stat));
}

KS_API void ks_clnt_perrno(enum clnt_stat stat) {
  write_line(ks_clnt_sperrno(stat));
}

KS_API char *ks_clnt_sperror(CLIENT *cl, const char *prefix) {
  ksi_rpc_tls *tls = rpc_tls();
  if (tls == nullptr) return nullptr;
  struct rpc_err e;
  memset(&e, 0, sizeof e);
  KS_CLNT_GETERR(cl, &e);
  text_builder out = {tls->text, 0};
  out.buf[0] = '\0';
  out.add("%s: ", prefix);
  out.add("%s", status_text(ksi_enum_word(e.re_status)));
  switch (ksi_enum_word(e.re_status)) {
    case RPC_CANTSEND:
    case RPC_CANTRECV: {
      const char *text = error_text(e.re_errno);
      if (text != nullptr)
        out.add("; errno = %s", text);
      else
        out.add("; error %d", e.re_errno);
      break;
    }
    case RPC_VERSMISMATCH:
    case RPC_PROGVERSMISMATCH:
      out.add("; low version = %u, high version = %u", e.re_vers.low,
              e.re_vers.high);
      break;
    case RPC_AUTHERROR: {
      const char *text = auth_text(ksi_enum_word(e.re_why));
      out.add("; why = ");
      if (text != nullptr)
        out.add("%s", text);
      else
        out.add("(unknown authentication error - %d)", ksi_enum_word(e.re_why));
      break;
    }
    default:
      if (static_cast<unsigned>(ksi_enum_word(e.re_status)) >= kStatCount)
        out.add("; s1 = %u, s2 = %u", static_cast<unsigned>(e.re_lb.s1),
                static_cast<unsigned>(e.re_lb.s2));
      break;
  }
  return out.buf;
}

KS_API void ks_clnt_perror(CLIENT *cl, const char *prefix) {
  write_line(ks_clnt_sperror(cl, prefix));
}

KS_API char *ks_clnt_spcreateerror(const char *prefix) {
  ksi_rpc_tls *tls = rpc_tls();
  if (tls == nullptr) return nullptr;
  const struct rpc_createerr *ce = &tls->createerr;
  text_builder out = {tls->text, 0};
  out.buf[0] = '\0';
  out.add("%s: ", prefix);
  out.add("%s", status_text(ksi_enum_word(ce->cf_stat)));
  if (ksi_enum_word(ce->cf_stat) == RPC_SYSTEMERROR) {
    const char *text = error_text(ce->cf_error.re_errno);
    out.add(" - ");
    if (text != nullptr)
      out.add("%s", text);
    else
      out.add("Error %d", ce->cf_error.re_errno);
  } else if (ksi_enum_word(ce->cf_stat) == RPC_PMAPFAILURE) {
    out.add(" - %s", status_text(ksi_enum_word(ce->cf_error.re_status)));
  }
  return out.buf;
}

KS_API void ks_clnt_pcreateerror(const char *prefix) {
  write_line(ks_clnt_spcreateerror(prefix));
}

}  // extern "C"
