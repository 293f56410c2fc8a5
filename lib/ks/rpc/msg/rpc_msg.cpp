// Call and reply message filters. Calls and reply headers are coded from
// one inline block when the stream offers it (aligned memory streams, the
// record-marking stream within a fragment), and word by word otherwise;
// both paths give the same bytes and accept the same input.
#include <orvexks/rpc/rpc_msg.h>

#include <cstdlib>
#include <cstring>

#include "internal/alloc_fault.h"
#include "rpc/msg/rpc_enum.h"
#include "rpc/xdr/xdr_stream.h"

namespace {

static_assert(sizeof(enum msg_type) == sizeof(enum_t));
static_assert(sizeof(enum reply_stat) == sizeof(enum_t));
static_assert(sizeof(enum accept_stat) == sizeof(enum_t));
static_assert(sizeof(enum reject_stat) == sizeof(enum_t));
static_assert(sizeof(enum auth_stat) == sizeof(enum_t));

constexpr uint32_t kCallHeaderWords = 8;  // xid through the credential's length
constexpr uint32_t kReplyHeaderWords = 3;  // xid, direction, reply status

template <typename E>
enum_t *as_enum(E *e) {
  return reinterpret_cast<enum_t *>(e);
}

// Writes a body and its padding into an inline block; returns the word
// after it.
int32_t *put_inline_body(int32_t *buf, const struct opaque_auth *oa) {
  if (oa->oa_length == 0) return buf;
  char *bytes = reinterpret_cast<char *>(buf);
  uint32_t padded = RNDUP(oa->oa_length);
  memcpy(bytes, oa->oa_base, oa->oa_length);
  memset(bytes + oa->oa_length, 0, padded - oa->oa_length);
  return reinterpret_cast<int32_t *>(bytes + padded);
}

bool_t encode_call_inline(XDR *xdrs, struct rpc_msg *msg) {
  const struct call_body *cb = &msg->rm_call;
  uint32_t size = (kCallHeaderWords + 2) * BYTES_PER_XDR_UNIT +
                  RNDUP(cb->cb_cred.oa_length) + RNDUP(cb->cb_verf.oa_length);
  int32_t *buf = XDR_INLINE(xdrs, size);
  if (buf == nullptr) return FALSE;
  IXDR_PUT_U_INT32(buf, msg->rm_xid);
  IXDR_PUT_ENUM(buf, ksi_enum_word(msg->rm_direction));
  IXDR_PUT_U_INT32(buf, cb->cb_rpcvers);
  IXDR_PUT_U_INT32(buf, cb->cb_prog);
  IXDR_PUT_U_INT32(buf, cb->cb_vers);
  IXDR_PUT_U_INT32(buf, cb->cb_proc);
  IXDR_PUT_ENUM(buf, cb->cb_cred.oa_flavor);
  IXDR_PUT_U_INT32(buf, cb->cb_cred.oa_length);
  buf = put_inline_body(buf, &cb->cb_cred);
  IXDR_PUT_ENUM(buf, cb->cb_verf.oa_flavor);
  IXDR_PUT_U_INT32(buf, cb->cb_verf.oa_length);
  put_inline_body(buf, &cb->cb_verf);
  return TRUE;
}

// Reads a credential or verifier body of oa_length bytes (already checked
// against MAX_AUTH_BYTES) into oa_base, allocating it when null.
bool_t decode_body(XDR *xdrs, struct opaque_auth *oa) {
  uint32_t len = oa->oa_length;
  if (len == 0) return TRUE;
  if (len > ksi_xdr_bytes_left(xdrs)) return FALSE;
  if (oa->oa_base == nullptr) {
    oa->oa_base = static_cast<char *>(nt_malloc(len));
    if (oa->oa_base == nullptr) {
      ksi_xdr_out_of_memory("xdr_bytes");
      return FALSE;
    }
  }
  int32_t *buf = XDR_INLINE(xdrs, RNDUP(len));
  if (buf == nullptr) return xdr_opaque(xdrs, oa->oa_base, len);
  memcpy(oa->oa_base, buf, len);
  return TRUE;
}

// Flavour and length of an opaque_auth, from a block if possible.
bool_t decode_auth_head(XDR *xdrs, struct opaque_auth *oa) {
  int32_t *buf = XDR_INLINE(xdrs, 2 * BYTES_PER_XDR_UNIT);
  if (buf != nullptr) {
    oa->oa_flavor = IXDR_GET_ENUM(buf);
    oa->oa_length = IXDR_GET_U_INT32(buf);
  } else if (!xdr_enum(xdrs, &oa->oa_flavor) ||
             !xdr_u_int32_t(xdrs, &oa->oa_length)) {
    return FALSE;
  }
  return oa->oa_length <= MAX_AUTH_BYTES;
}

bool_t decode_call_inline(XDR *xdrs, struct rpc_msg *msg, bool_t *used_inline) {
  int32_t *buf = XDR_INLINE(xdrs, kCallHeaderWords * BYTES_PER_XDR_UNIT);
  *used_inline = buf != nullptr;
  if (buf == nullptr) return FALSE;
  struct call_body *cb = &msg->rm_call;
  msg->rm_xid = IXDR_GET_U_INT32(buf);
  ksi_set_enum_word(&msg->rm_direction, IXDR_GET_ENUM(buf));
  if (ksi_enum_word(msg->rm_direction) != CALL) return FALSE;
  cb->cb_rpcvers = IXDR_GET_U_INT32(buf);
  cb->cb_prog = IXDR_GET_U_INT32(buf);
  cb->cb_vers = IXDR_GET_U_INT32(buf);
  cb->cb_proc = IXDR_GET_U_INT32(buf);
  cb->cb_cred.oa_flavor = IXDR_GET_ENUM(buf);
  cb->cb_cred.oa_length = IXDR_GET_U_INT32(buf);
  return cb->cb_cred.oa_length <= MAX_AUTH_BYTES &&
         decode_body(xdrs, &cb->cb_cred) &&
         decode_auth_head(xdrs, &cb->cb_verf) &&
         decode_body(xdrs, &cb->cb_verf);
}

bool_t call_word_by_word(XDR *xdrs, struct rpc_msg *msg) {
  struct call_body *cb = &msg->rm_call;
  return xdr_u_int32_t(xdrs, &msg->rm_xid) &&
         xdr_enum(xdrs, as_enum(&msg->rm_direction)) &&
         ksi_enum_word(msg->rm_direction) == CALL &&
         xdr_u_int32_t(xdrs, &cb->cb_rpcvers) &&
         xdr_u_int32_t(xdrs, &cb->cb_prog) &&
         xdr_u_int32_t(xdrs, &cb->cb_vers) &&
         xdr_u_int32_t(xdrs, &cb->cb_proc) &&
         xdr_ks_opaque_auth(xdrs, &cb->cb_cred) &&
         xdr_ks_opaque_auth(xdrs, &cb->cb_verf);
}

bool_t reply_body_arm(XDR *xdrs, struct rpc_msg *msg) {
  struct reply_body *rb = &msg->rm_reply;
  switch (ksi_enum_word(rb->rp_stat)) {
    case MSG_ACCEPTED:
      return xdr_ks_accepted_reply(xdrs, &rb->rp_acpt);
    case MSG_DENIED:
      return xdr_ks_rejected_reply(xdrs, &rb->rp_rjct);
  }
  return FALSE;
}

// The reply status as a union: arm 0 accepted, arm 1 rejected, no default.
const struct xdr_discrim reply_arms[] = {
    {MSG_ACCEPTED, reinterpret_cast<xdrproc_t>(xdr_ks_accepted_reply)},
    {MSG_DENIED, reinterpret_cast<xdrproc_t>(xdr_ks_rejected_reply)},
    {0, nullptr}};

}  // namespace

extern "C" {

KS_API bool_t xdr_ks_opaque_auth(XDR *xdrs, struct opaque_auth *ap) {
  return xdr_enum(xdrs, &ap->oa_flavor) &&
         xdr_bytes(xdrs, &ap->oa_base, &ap->oa_length, MAX_AUTH_BYTES);
}

KS_API bool_t xdr_ks_des_block(XDR *xdrs, union des_block *blkp) {
  return xdr_opaque(xdrs, blkp->c, sizeof blkp->c);
}

KS_API bool_t xdr_ks_callhdr(XDR *xdrs, struct rpc_msg *msg) {
  if (xdrs->x_op != XDR_ENCODE) return FALSE;
  msg->rm_direction = CALL;
  msg->rm_call.cb_rpcvers = RPC_MSG_VERSION;
  return xdr_u_int32_t(xdrs, &msg->rm_xid) &&
         xdr_enum(xdrs, as_enum(&msg->rm_direction)) &&
         xdr_u_int32_t(xdrs, &msg->rm_call.cb_rpcvers) &&
         xdr_u_int32_t(xdrs, &msg->rm_call.cb_prog) &&
         xdr_u_int32_t(xdrs, &msg->rm_call.cb_vers);
}

KS_API bool_t xdr_ks_callmsg(XDR *xdrs, struct rpc_msg *msg) {
  struct call_body *cb = &msg->rm_call;
  if (xdrs->x_op == XDR_ENCODE) {
    if (ksi_enum_word(msg->rm_direction) != CALL ||
        cb->cb_cred.oa_length > MAX_AUTH_BYTES ||
        cb->cb_verf.oa_length > MAX_AUTH_BYTES)
      return FALSE;
    if (encode_call_inline(xdrs, msg)) return TRUE;
  } else if (xdrs->x_op == XDR_DECODE) {
    bool_t used_inline = FALSE;
    bool_t ok = decode_call_inline(xdrs, msg, &used_inline);
    if (used_inline) return ok;
  }
  // Free mode, or a stream that gives no inline block.
  return call_word_by_word(xdrs, msg);
}

KS_API bool_t xdr_ks_replymsg(XDR *xdrs, struct rpc_msg *msg) {
  struct reply_body *rb = &msg->rm_reply;
  if (xdrs->x_op == XDR_ENCODE || xdrs->x_op == XDR_DECODE) {
    int32_t *buf = XDR_INLINE(xdrs, kReplyHeaderWords * BYTES_PER_XDR_UNIT);
    if (buf != nullptr) {
      if (xdrs->x_op == XDR_ENCODE) {
        if (ksi_enum_word(msg->rm_direction) != REPLY) return FALSE;
        IXDR_PUT_U_INT32(buf, msg->rm_xid);
        IXDR_PUT_ENUM(buf, ksi_enum_word(msg->rm_direction));
        IXDR_PUT_ENUM(buf, ksi_enum_word(rb->rp_stat));
      } else {
        msg->rm_xid = IXDR_GET_U_INT32(buf);
        ksi_set_enum_word(&msg->rm_direction, IXDR_GET_ENUM(buf));
        if (ksi_enum_word(msg->rm_direction) != REPLY) return FALSE;
        ksi_set_enum_word(&rb->rp_stat, IXDR_GET_ENUM(buf));
      }
      return reply_body_arm(xdrs, msg);
    }
  }
  return xdr_u_int32_t(xdrs, &msg->rm_xid) &&
         xdr_enum(xdrs, as_enum(&msg->rm_direction)) &&
         ksi_enum_word(msg->rm_direction) == REPLY &&
         xdr_union(xdrs, as_enum(&rb->rp_stat),
                   reinterpret_cast<char *>(&rb->ru), reply_arms, nullptr);
}

KSI_XDR_CALLS_FILTERS
KS_API bool_t xdr_ks_accepted_reply(XDR *xdrs, struct accepted_reply *ar) {
  if (!xdr_ks_opaque_auth(xdrs, &ar->ar_verf) ||
      !xdr_enum(xdrs, as_enum(&ar->ar_stat)))
    return FALSE;
  switch (ksi_enum_word(ar->ar_stat)) {
    case SUCCESS:
      if (ar->ar_results.proc == nullptr) return TRUE;
      return (*ar->ar_results.proc)(xdrs, ar->ar_results.where, 0xFFFFFFFFu);
    case PROG_MISMATCH:
      return xdr_u_int32_t(xdrs, &ar->ar_vers.low) &&
             xdr_u_int32_t(xdrs, &ar->ar_vers.high);
    default:
      return TRUE;
  }
}

KS_API bool_t xdr_ks_rejected_reply(XDR *xdrs, struct rejected_reply *rr) {
  if (!xdr_enum(xdrs, as_enum(&rr->rj_stat))) return FALSE;
  switch (ksi_enum_word(rr->rj_stat)) {
    case RPC_MISMATCH:
      return xdr_u_int32_t(xdrs, &rr->rj_vers.low) &&
             xdr_u_int32_t(xdrs, &rr->rj_vers.high);
    case AUTH_ERROR:
      return xdr_enum(xdrs, as_enum(&rr->rj_why));
  }
  return FALSE;
}

}  // extern "C"
