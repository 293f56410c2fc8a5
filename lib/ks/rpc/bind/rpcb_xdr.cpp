// XDR filters of the binder protocol. Lists are coded iteratively, so a
// long list costs no stack, and decoding stops at kRpcbListMax entries.
#include <cstdlib>
#include <cstring>

#include "rpc/bind/rpcb_prot.h"
#include "rpc/xdr/xdr_stream.h"

namespace {

constexpr uint32_t kNetbufMax = 1024;

// Codes a list of nodes linked through their next member: a presence
// boolean before each node and false at the end. Free mode frees every
// node after its contents.
template <typename Node, typename ElemFn, typename NextFn>
bool_t code_list(XDR *xdrs, Node **head, ElemFn elem, NextFn next_of) {
  if (xdrs->x_op == XDR_FREE) {
    Node *node = *head;
    while (node != nullptr) {
      Node *next = *next_of(node);
      elem(xdrs, node);
      free(node);
      node = next;
    }
    *head = nullptr;
    return TRUE;
  }
  Node **link = head;
  for (uint32_t count = 0;; count++) {
    bool_t more = *link != nullptr;
    if (!xdr_bool(xdrs, &more)) return FALSE;
    if (!more) {
      if (xdrs->x_op == XDR_DECODE) *link = nullptr;
      return TRUE;
    }
    if (xdrs->x_op == XDR_DECODE) {
      if (count >= kRpcbListMax) return FALSE;
      *link = static_cast<Node *>(calloc(1, sizeof(Node)));
      if (*link == nullptr) return FALSE;
    }
    if (!elem(xdrs, *link)) return FALSE;
    link = next_of(*link);
  }
}

bool_t code_string(XDR *xdrs, char **sp) {
  return xdr_string(xdrs, sp, kRpcbStringMax);
}

}  // namespace

bool_t ksi_xdr_uaddr(XDR *xdrs, char **sp) { return code_string(xdrs, sp); }

bool_t ksi_xdr_netbuf(XDR *xdrs, struct netbuf *nb) {
  if (!xdr_u_int32_t(xdrs, &nb->maxlen)) return FALSE;
  char *buf = static_cast<char *>(nb->buf);
  // A failed decode may have allocated: the record keeps it for freeing.
  bool_t ok = xdr_bytes(xdrs, &buf, &nb->len, kNetbufMax);
  nb->buf = buf;
  return ok;
}

KSI_XDR_CALLS_FILTERS
bool_t ksi_xdr_rmtcallargs(XDR *xdrs, ksi_rmtcallargs *p) {
  if (xdrs->x_op != XDR_ENCODE) return FALSE;
  if (!xdr_u_int32_t(xdrs, &p->prog) || !xdr_u_int32_t(xdrs, &p->vers) ||
      !xdr_u_int32_t(xdrs, &p->proc))
    return FALSE;
  // The length goes before the arguments but is known only after them:
  // leave a word, encode, step back and fill it in.
  uint32_t len_pos = XDR_GETPOS(xdrs);
  uint32_t zero = 0;
  if (!xdr_u_int32_t(xdrs, &zero)) return FALSE;
  uint32_t args_pos = XDR_GETPOS(xdrs);
  if (!(*p->argsproc)(xdrs, p->argsp)) return FALSE;
  uint32_t end_pos = XDR_GETPOS(xdrs);
  uint32_t len = end_pos - args_pos;
  if (!XDR_SETPOS(xdrs, len_pos) || !xdr_u_int32_t(xdrs, &len)) return FALSE;
  return XDR_SETPOS(xdrs, end_pos);
}

namespace {

// Decodes counted bytes through a filter: the count is checked against
// what the stream still holds, the bytes are copied out and decoded by
// their own memory stream.
KSI_XDR_CALLS_FILTERS
bool_t decode_counted(XDR *xdrs, xdrproc_t proc, void *objp) {
  uint32_t len;
  if (!xdr_u_int32_t(xdrs, &len)) return FALSE;
  if (len > ksi_xdr_bytes_left(xdrs) || len > 0x40000) return FALSE;
  char *bytes = static_cast<char *>(malloc(len + 1));
  if (bytes == nullptr) return FALSE;
  bool_t ok = xdr_opaque(xdrs, bytes, len);
  if (ok) {
    XDR inner;
    xdrmem_create(&inner, bytes, len, XDR_DECODE);
    ok = (*proc)(&inner, objp);
    XDR_DESTROY(&inner);
  }
  free(bytes);
  return ok;
}

}  // namespace

bool_t ksi_xdr_rmtcallres(XDR *xdrs, ksi_rmtcallres *p) {
  if (xdrs->x_op == XDR_FREE) return code_string(xdrs, &p->addr);
  if (xdrs->x_op != XDR_DECODE) return FALSE;
  return code_string(xdrs, &p->addr) &&
         decode_counted(xdrs, p->resproc, p->resp);
}

bool_t ksi_xdr_pmap_rmtcallres(XDR *xdrs, ksi_pmap_rmtcallres *p) {
  if (xdrs->x_op != XDR_DECODE) return xdrs->x_op == XDR_FREE;
  return xdr_u_int32_t(xdrs, &p->port) &&
         decode_counted(xdrs, p->resproc, p->resp);
}

bool_t ksi_xdr_rpcb_entry_list_ptr(XDR *xdrs, ksi_rpcb_entry_list **rp) {
  return code_list(
      xdrs, rp,
      [](XDR *x, ksi_rpcb_entry_list *n) -> bool_t {
        ksi_rpcb_entry *e = &n->entry;
        return code_string(x, &e->r_maddr) && code_string(x, &e->r_nc_netid) &&
               xdr_u_int32_t(x, &e->r_nc_semantics) &&
               code_string(x, &e->r_nc_protofmly) &&
               code_string(x, &e->r_nc_proto);
      },
      [](ksi_rpcb_entry_list *n) { return &n->next; });
}

extern "C" {

KS_API bool_t xdr_ks_pmap(XDR *xdrs, struct pmap *p) {
  return xdr_u_int32_t(xdrs, &p->pm_prog) && xdr_u_int32_t(xdrs, &p->pm_vers) &&
         xdr_u_int32_t(xdrs, &p->pm_prot) && xdr_u_int32_t(xdrs, &p->pm_port);
}

KS_API bool_t xdr_ks_pmaplist(XDR *xdrs, struct pmaplist **rp) {
  return code_list(
      xdrs, rp,
      [](XDR *x, struct pmaplist *n) { return xdr_ks_pmap(x, &n->pml_map); },
      [](struct pmaplist *n) { return &n->pml_next; });
}

KS_API bool_t xdr_ks_pmaplist_ptr(XDR *xdrs, struct pmaplist **rp) {
  return xdr_ks_pmaplist(xdrs, rp);
}

KS_API bool_t xdr_ks_rpcb(XDR *xdrs, struct rpcb *p) {
  return xdr_u_int32_t(xdrs, &p->r_prog) && xdr_u_int32_t(xdrs, &p->r_vers) &&
         code_string(xdrs, &p->r_netid) && code_string(xdrs, &p->r_addr) &&
         code_string(xdrs, &p->r_owner);
}

KS_API bool_t xdr_ks_rpcblist_ptr(XDR *xdrs, struct rpcblist **rp) {
  return code_list(
      xdrs, rp,
      [](XDR *x, struct rpcblist *n) { return xdr_ks_rpcb(x, &n->rpcb_map); },
      [](struct rpcblist *n) { return &n->rpcb_next; });
}

}  // extern "C"
