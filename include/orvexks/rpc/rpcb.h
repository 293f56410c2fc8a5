/* Transport selection and address binding: transport descriptions, the
 * port-mapper (version 2) and rpcbind (versions 3 and 4) records and
 * clients, universal addresses, and binding sockets to dynamic ports. */
#ifndef ORVEXKS_RPC_RPCB_H
#define ORVEXKS_RPC_RPCB_H

#include <orvexks/ks_base.h>
#include <orvexks/rpc/clnt.h>
#include <orvexks/rpc/xdr.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>

KS_BEGIN_DECLS

/* Semantics of a transport. */
#define NC_TPI_CLTS 1     /* datagrams */
#define NC_TPI_COTS 2     /* connection */
#define NC_TPI_COTS_ORD 3 /* connection with orderly release */
#define NC_TPI_RAW 4
/* Flag bit: the transport is visible to the "visible" network types. */
#define NC_VISIBLE 1

/* A transport description. A caller may build its own record naming one of
 * the built-in netids ("udp6", "tcp6", "udp", "tcp"); every function reads
 * the fields. */
struct netconfig {
  char *nc_netid;
  uint32_t nc_semantics;
  uint32_t nc_flag;
  char *nc_protofmly; /* "inet" or "inet6" */
  char *nc_proto;     /* "udp" or "tcp" */
  char *nc_device;
  uint32_t nc_nlookups;
  char **nc_lookups;
};

#define PMAPPORT 111
#define PMAPPROG 100000
#define PMAPVERS 2
#define RPCBPROG 100000
#define RPCBVERS 3
#define RPCBVERS4 4

/* A port-mapper mapping; the port in host order. */
struct pmap {
  uint32_t pm_prog;
  uint32_t pm_vers;
  uint32_t pm_prot; /* 6 TCP, 17 UDP */
  uint32_t pm_port;
};

struct pmaplist {
  struct pmap pml_map;
  struct pmaplist *pml_next;
};

/* An rpcbind mapping: the address is a universal address. */
struct rpcb {
  uint32_t r_prog;
  uint32_t r_vers;
  char *r_netid;
  char *r_addr;
  char *r_owner;
};

struct rpcblist {
  struct rpcb rpcb_map;
  struct rpcblist *rpcb_next;
};

/* Bind sd to a port of the dynamic range 49152-65535: 0, or -1 with errno
 * set to the Windows Sockets error number (10048 when every port is taken,
 * 10047 for a family other than IPv4 or IPv6). A null sa binds the
 * wildcard address of the socket's family. */
KS_API int ks_bindresvport(int sd, struct sockaddr *sa);
/* As ks_bindresvport; for a UDP socket without sa, the host part of hint
 * is the local address bound. */
KS_API int ks_bindresvport_sa(int sd, struct sockaddr *sa,
                              const struct sockaddr *hint);
/* 127.0.0.1, port 111; returns 0. */
KS_API int ks_get_myaddress(struct sockaddr_in *addr);

/* Port-mapper style registration on the local binder; protocol 6 or 17,
 * port in host order. */
KS_API bool_t ks_pmap_set(uint32_t prog, uint32_t vers, int protocol,
                          uint16_t port);
KS_API bool_t ks_pmap_unset(uint32_t prog, uint32_t vers);
/* The port (host order) of prog/vers/protocol at addr's port mapper, 0 on
 * failure with the reason in the creation error. */
KS_API uint16_t ks_pmap_getport(struct sockaddr_in *addr, uint32_t prog,
                                uint32_t vers, uint32_t protocol);

/* rpcbind clients. Failures leave the reason in the creation error. */
KS_API bool_t ks_rpcb_set(uint32_t prog, uint32_t vers,
                          const struct netconfig *nconf,
                          const struct netbuf *addr);
/* A null nconf unsets every transport. */
KS_API bool_t ks_rpcb_unset(uint32_t prog, uint32_t vers,
                            const struct netconfig *nconf);
/* Copies the address into addr when it fits addr->maxlen. */
KS_API bool_t ks_rpcb_getaddr(uint32_t prog, uint32_t vers,
                              const struct netconfig *nconf,
                              struct netbuf *addr, const char *host);
/* Free with xdr_free(xdr_ks_rpcblist_ptr, &list). */
KS_API struct rpcblist *ks_rpcb_getmaps(const struct netconfig *nconf,
                                        const char *host);
KS_API enum clnt_stat ks_rpcb_rmtcall(
    const struct netconfig *nconf, const char *host, uint32_t prog,
    uint32_t vers, uint32_t proc, xdrproc_t xdrargs, void *argsp,
    xdrproc_t xdrres, void *resp, struct timeval tout, struct netbuf *addr_ptr);
KS_API bool_t ks_rpcb_gettime(const char *host, time_t *timep);
/* Free the text with free(). */
KS_API char *ks_rpcb_taddr2uaddr(const struct netconfig *nconf,
                                 const struct netbuf *taddr);
/* Free with free(nb->buf) and free(nb). */
KS_API struct netbuf *ks_rpcb_uaddr2taddr(const struct netconfig *nconf,
                                          const char *uaddr);

KS_API bool_t xdr_ks_pmap(XDR *xdrs, struct pmap *p);
KS_API bool_t xdr_ks_pmaplist(XDR *xdrs, struct pmaplist **rp);
KS_API bool_t xdr_ks_pmaplist_ptr(XDR *xdrs, struct pmaplist **rp);
KS_API bool_t xdr_ks_rpcb(XDR *xdrs, struct rpcb *p);
KS_API bool_t xdr_ks_rpcblist_ptr(XDR *xdrs, struct rpcblist **rp);

KS_END_DECLS

#endif
