// The binder protocol (RFC 1833): procedure numbers and the records that
// only the library's own binder clients use.
#pragma once

#include <orvexks/rpc/rpcb.h>

// Port mapper, version 2.
constexpr uint32_t kPmapprocSet = 1;
constexpr uint32_t kPmapprocUnset = 2;
constexpr uint32_t kPmapprocGetport = 3;
constexpr uint32_t kPmapprocDump = 4;
constexpr uint32_t kPmapprocCallit = 5;
// rpcbind, versions 3 and 4.
constexpr uint32_t kRpcbprocSet = 1;
constexpr uint32_t kRpcbprocUnset = 2;
constexpr uint32_t kRpcbprocGetaddr = 3;
constexpr uint32_t kRpcbprocDump = 4;
constexpr uint32_t kRpcbprocCallit = 5;
constexpr uint32_t kRpcbprocGettime = 6;
constexpr uint32_t kRpcbprocUaddr2taddr = 7;
constexpr uint32_t kRpcbprocTaddr2uaddr = 8;
constexpr uint32_t kRpcbprocGetaddrlist = 11;

// Longest string of a binder record the clients accept.
constexpr uint32_t kRpcbStringMax = 1024;
// Most entries of a decoded list: a stream cannot make a client allocate
// without bound.
constexpr uint32_t kRpcbListMax = 65536;

// Arguments of an indirect call: the arguments are encoded by argsproc and
// travel as counted bytes.
struct ksi_rmtcallargs {
  uint32_t prog;
  uint32_t vers;
  uint32_t proc;
  xdrproc_t argsproc;
  void *argsp;
};
// Results of an indirect call (rpcbind): the server's universal address
// (allocated) and the results, decoded by resproc.
struct ksi_rmtcallres {
  char *addr;
  xdrproc_t resproc;
  void *resp;
};
// Results of a port-mapper indirect call: the server's port.
struct ksi_pmap_rmtcallres {
  uint32_t port;
  xdrproc_t resproc;
  void *resp;
};
// One entry of an address list (rpcbind version 4).
struct ksi_rpcb_entry {
  char *r_maddr;
  char *r_nc_netid;
  uint32_t r_nc_semantics;
  char *r_nc_protofmly;
  char *r_nc_proto;
};
struct ksi_rpcb_entry_list {
  ksi_rpcb_entry entry;
  ksi_rpcb_entry_list *next;
};

bool_t ksi_xdr_rmtcallargs(XDR *xdrs, ksi_rmtcallargs *p);
bool_t ksi_xdr_rmtcallres(XDR *xdrs, ksi_rmtcallres *p);
bool_t ksi_xdr_pmap_rmtcallres(XDR *xdrs, ksi_pmap_rmtcallres *p);
bool_t ksi_xdr_rpcb_entry_list_ptr(XDR *xdrs, ksi_rpcb_entry_list **rp);
// A universal address: a string of at most kRpcbStringMax bytes.
bool_t ksi_xdr_uaddr(XDR *xdrs, char **sp);
// A transport address: maxlen, then the bytes (at most 1024).
bool_t ksi_xdr_netbuf(XDR *xdrs, struct netbuf *nb);
