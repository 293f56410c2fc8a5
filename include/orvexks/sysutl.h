/* Hosts, sockets and addresses, process invocation and pipes. */
#ifndef ORVEXKS_SYSUTL_H
#define ORVEXKS_SYSUTL_H

/* First: it chooses the POSIX feature set the system headers below need. */
#include <orvexks/ks_base.h>

#include <netdb.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>

#include <orvexks/credutl.h>
#include <orvexks/imsg.h>

KS_BEGIN_DECLS

/* A transport address: buffer of maxlen bytes, len of them in use. */
#ifndef ORVEXKS_NETBUF_DEFINED
#define ORVEXKS_NETBUF_DEFINED
struct netbuf {
  uint32_t maxlen;
  uint32_t len;
  void *buf;
};
#endif

/* The library's own address family codes, used where an address travels. */
#define SYSUTL_KS_AF_UNSPEC 0
#define SYSUTL_KS_AF_INET 1
#define SYSUTL_KS_AF_INET6 2

/* Size of the canonical-name buffer of sysutl_host_canonical. */
#define SYSUTL_CANONICAL_NAME_SIZE 256

/* ---- This host. */

/* This host's name, computed once; "UnknownHost" when it has none. */
KS_API const char *sysutl_myhostname(void);
/* A 32-bit id of this host: the first IPv4 address of its name (the bytes
 * as stored, network order), else the last four bytes of its first IPv6
 * address; 0 when the name does not resolve. */
KS_API uint32_t sysutl_myhostid(void);

/* ---- Resolution. QUILL_IP_VERSION "4" or "6" restricts it to IPv4 or
 * IPv6; any other value, or none, allows both. Results are 0 or a Windows
 * Sockets code (11001 for an unknown host, 11003 for an empty answer). */

/* The canonical name of a host into out (SYSUTL_CANONICAL_NAME_SIZE bytes);
 * on failure "<unresolvable canonical name>" and 1. */
KS_API int sysutl_host_canonical(const char *hostname, char *out);
/* The addresses of name: first taken as a numeric address, then looked up.
 * The caller releases *result_out with freeaddrinfo; null on failure. */
KS_API int sysutl_host_addr(const char *name, const char *service, int socktype,
                            struct addrinfo **result_out);
/* The same, for numeric addresses only (no name-service query). */
KS_API int sysutl_host_addr_numeric(const char *name,
                                    struct addrinfo **result_out);
/* The host and service names of an address (getnameinfo); the numeric
 * variant gives the numeric texts. 1 for an unsupported family; 1 and
 * "<unresolvable numeric address>" in host when the lookup fails. */
KS_API int sysutl_host_name(const struct sockaddr *sa, size_t hostlen,
                            char *host, size_t servlen, char *serv);
KS_API int sysutl_host_numeric(const struct sockaddr *sa, size_t hostlen,
                               char *host, size_t servlen, char *serv);

/* ---- Socket addresses. Only AF_INET and AF_INET6 are supported; for any
 * other family the operations return 1 (or 0 where they answer a size or a
 * predicate). Ports are in network byte order. */

/* "[host]:port" of an address with numeric host and port, cut to size;
 * "<unresolvable address>" when it cannot be formatted. Returns out. */
KS_API char *sysutl_sockaddr_to_str(const struct sockaddr *sa, size_t size,
                                    char *out);
/* The same for the address a network buffer points to. */
KS_API char *sysutl_netbuf_to_str(const struct netbuf *nb, size_t size,
                                  char *out);
KS_API int sysutl_sockaddr_size(const struct sockaddr *sa);
KS_API int sysutl_sockaddr_set_port(struct sockaddr *sa, uint16_t port);
KS_API int sysutl_sockaddr_get_port(const struct sockaddr *sa,
                                    uint16_t *port_out);
KS_API int sysutl_copy_sockaddr(struct sockaddr *dst,
                                const struct sockaddr *src);
/* 1 when family and every byte of the address record are equal. */
KS_API int sysutl_sockaddr_equal(const struct sockaddr *a,
                                 const struct sockaddr *b);
/* 1 when family and host address are equal; ports are ignored. */
KS_API int sysutl_sockaddr_host_equal(const struct sockaddr *a,
                                      const struct sockaddr *b);
/* A zeroed address of family with port 0 and the wildcard or the loopback
 * address. sa must hold a record of that family. */
KS_API int sysutl_sockaddr_any_init(int family, struct sockaddr *sa);
KS_API int sysutl_sockaddr_loopback_init(int family, struct sockaddr *sa);
/* IPv4-mapped IPv6 addresses (::ffff:a.b.c.d). */
KS_API int sysutl_is_addr_v4mapped(const struct sockaddr *sa);
KS_API int sysutl_get_v4mapped_addr(const struct sockaddr *sa6,
                                    struct in_addr *out4);
/* Writes the mapped form of sa4's address into sa6 and makes sa6 IPv6;
 * its port, flow information and scope are kept. */
KS_API int sysutl_set_ipv4_as_ipv6mapped(const struct sockaddr *sa4,
                                         struct sockaddr *sa6);
/* Host family (AF_INET, AF_INET6) to the library's code and back. */
KS_API int sysutl_sa_family_to_ks_addrfamily(int af);
KS_API int sysutl_ks_addrfamily_to_sa_family(int ks_family);

/* ---- Sockets. */

/* The number of descriptors held in a socket set. */
KS_API int sysutl_fd_set_popcount(const fd_set *set);
/* seconds * 1,000,000 + microseconds of the time of day, cut to 32 bits. */
KS_API int32_t sysutl_sock_port_uniquifier(void);
/* No source of random bytes here: does nothing and returns 1. */
KS_API int sysutl_get_random_bytes(void *buf, size_t size);
/* A connected pair of loopback stream sockets: pair_out[0] the accepted
 * end, pair_out[1] the connecting end (non-blocking). A non-zero flag makes
 * the accepted end close on exec, else the connecting end. 0, or 1 after a
 * message. */
KS_API int sysutl_pipe(int flag, int pair_out[2]);
/* The descriptor limit of the process (the soft RLIMIT_NOFILE). */
KS_API int sysutl_get_max_fds(void);
KS_API int sysutl_pipe_close(int s);
KS_API int sysutl_set_socket_nonblocking(int s, int on);
KS_API int sysutl_accept(int s, struct sockaddr *sa, socklen_t *len);
/* on = 0 lets child processes inherit the descriptor, on != 0 closes it on
 * exec. 1 with errno on failure. */
KS_API int sysutl_set_cloexec_file(int fd, int on);
KS_API int sysutl_set_cloexec_other(int handle, int on);

/* ---- The current user, and names and SIDs of accounts and groups. */

/* Size of the per-thread buffers of sysutl_usid_to_user and
 * sysutl_gsid_to_group. */
#define SYSUTL_NAME_BUF_SIZE 256

/* Name styles of sysutl_usid_to_user and sysutl_gsid_to_group. */
#define SYSUTL_NAME_SHORT 1     /* the name after "DOMAIN\" */
#define SYSUTL_NAME_QUALIFIED 2 /* "DOMAIN\name" */
#define SYSUTL_NAME_CONTEXT                                      \
  3                                  /* qualified, or short when \
                                        QUILLMERE_DISABLE_NAME_TYPE_CONTEXT is set */
#define SYSUTL_NAME_FULL 4           /* the account's full name (users only) */
#define SYSUTL_NAME_SHORT_PLUS 5     /* short, blanks turned into '+' */
#define SYSUTL_NAME_QUALIFIED_PLUS 6 /* qualified, blanks turned into '+' */
#define SYSUTL_NAME_QUALIFIED_PLUS_ALT 7 /* the same as 6 */

/* Copies of the process's user SID and primary group SID. */
KS_API void sysutl_myusid(credutl_sid_t *out);
KS_API void sysutl_mygsid(credutl_sid_t *out);
/* The current user's short login name, primary group name and full name,
 * kept per thread while the user (or group) does not change. */
KS_API const char *sysutl_myloginname(void);
KS_API const char *sysutl_mygroupname(void);
KS_API const char *sysutl_myfullname(void);
/* The SID of a user (its own, or its primary group's) or of a group; name
 * may also be a SID text. 0, or 2 for an unknown name, which is reported
 * unless quiet. */
KS_API int sysutl_user_to_usid(const char *name, int quiet,
                               credutl_sid_t *sid_out);
KS_API int sysutl_user_to_gsid(const char *name, int quiet,
                               credutl_sid_t *sid_out);
KS_API int sysutl_group_to_gsid(const char *name, int quiet,
                                credutl_sid_t *sid_out);
/* The name of the account or group of sid in a style (SYSUTL_NAME_*), in a
 * per-thread buffer of SYSUTL_NAME_BUF_SIZE bytes; the SID's text form
 * when there is no such account or the style does not apply. *found_out
 * (when given) tells whether the account is known. */
KS_API const char *sysutl_usid_to_user(const credutl_sid_t *sid, int style,
                                       int *found_out);
KS_API const char *sysutl_gsid_to_group(const credutl_sid_t *sid, int style,
                                        int *found_out);
/* The full-name field of an account (valid until this thread's next
 * account lookup), or null when the account is unknown. */
KS_API const char *sysutl_user_to_fullname(const char *name);
/* Copies an account's home directory into out (size bytes, cut to fit) and
 * returns 1; 0 when the account is unknown. */
KS_API int sysutl_get_homedir(const char *name, size_t size, char *out);

/* The family's message table. */
KS_API const ks_msg_table_t *sysutl_ks_msg_table_adr(void);
KS_API const ks_msg_table_t *_sysutl_ks_msg_table_adr(void);

KS_END_DECLS

#endif
