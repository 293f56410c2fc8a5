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

/* ---- Starting programs, the file-creation mask and process utilities.
 * A command line runs through the command interpreter: $COMSPEC when set,
 * else /bin/sh, with "-c". Its %NAME% references are replaced by the
 * variables' values (unknown names stay as written) and its first word is
 * looked up as a program file (as written, then with ".com", ".exe",
 * ".bat" or ".cmd" appended, in the current directory and then $PATH). An
 * argument vector runs its program directly, arguments unchanged. Results
 * are the child's exit code (128 + the signal for a child ended by a
 * signal), or -1 with errno (and *err_out, when given) when it cannot be
 * started. While a window writer takes the output (imsg_in_gui), the
 * child's standard output and error are captured and printed as messages
 * line by line. */

/* Size of the buffers of sysutl_get_shell_info, sysutl_format_edit_cmd and
 * sysutl_platform_description. */
#define SYSUTL_PATH_SIZE 1024

/* Phases of a listener's calls. */
#define SYSUTL_LISTENER_START 1 /* before the child starts */
#define SYSUTL_LISTENER_TICK 2  /* each interval while it runs */
#define SYSUTL_LISTENER_END 3   /* after it ended: status is the result */

/* Modes of sysutl_invoke_general_redirect. */
#define SYSUTL_INVOKE_CMDLINE 0 /* prog_or_cmd is a command line */
#define SYSUTL_INVOKE_ARGV 1    /* a program and its argument vector */

typedef void (*sysutl_listener_fn_t)(void *arg, int phase, int status);
/* Called back while a child runs; an interval of 0 means no ticks. A child
 * that cannot be started still gets the end call, with status -1. */
typedef struct sysutl_listener {
  sysutl_listener_fn_t callback;
  void *arg;
  uint32_t interval; /* milliseconds */
} sysutl_listener_t;

KS_API int sysutl_system_redirect(const char *cmdline, int *err_out);
KS_API int sysutl_system_redirect_with_listener(
    const char *cmdline, const sysutl_listener_t *listener, int *err_out);
/* argv as for execv: argv[0] is the program's name, null-terminated. */
KS_API int sysutl_invokev_redirect(const char *prog, char *const argv[],
                                   int *err_out);
/* mode SYSUTL_INVOKE_CMDLINE ignores argv; SYSUTL_INVOKE_ARGV runs
 * prog_or_cmd with argv. Another mode gives -1 with EINVAL. */
KS_API int sysutl_invoke_general_redirect(int mode, const char *prog_or_cmd,
                                          char *const argv[], int *err_out);
KS_API int sysutl_invoke_general_redirect_with_listener(
    int mode, const char *prog_or_cmd, char *const argv[],
    const sysutl_listener_t *listener, int *err_out);
/* The interpreter on cmdline without capturing anything: the first waits
 * and returns the exit code, the second returns 0 once the child started
 * (it is not the caller's child to wait for). -1 with errno on failure. */
KS_API int sysutl_system_no_window(const char *cmdline);
KS_API int sysutl_invoke_no_window_no_wait(const char *cmdline);

/* The interpreter's full path, its file name and its command switch ("-c"),
 * each into a buffer of SYSUTL_PATH_SIZE bytes; any may be null. With
 * system_only $COMSPEC is ignored. 0. */
KS_API int sysutl_get_shell_info(char *path_out, char *name_out,
                                 char *switch_out, int system_only);
/* "cd / && EDITOR 'FILE'" into buf (SYSUTL_PATH_SIZE bytes; a quote inside
 * FILE is written as '\''). Returns buf. */
KS_API char *sysutl_format_edit_cmd(char *buf, const char *editor,
                                    const char *file);

/* Applies a file the user edited: 0 when it is accepted. */
typedef int (*sysutl_apply_fn_t)(void *arg, const char *file);
/* Runs the editor ($VISUAL, else $EDITOR, else "vi") on file, then asks
 * proceed_question (when given; any answer but yes returns 1), then calls
 * apply; a failure with a retry question answered yes edits again. Returns
 * apply's result, or 1 when the editor cannot be started (reported on log;
 * null log: standard error). Defaults are answer bits (IMSG_ANSWER_*). */
KS_API int sysutl_edit_and_apply_until_ok(const char *file, FILE *log,
                                          const char *proceed_question,
                                          int proceed_default,
                                          const char *retry_question,
                                          int retry_default, void *arg,
                                          sysutl_apply_fn_t apply);
/* The same for the text of a message list, written to a temporary file
 * (apply gets its host path) that is removed afterwards. */
KS_API int sysutl_edit_content_from_imsg_list_and_apply_until_ok(
    imsg_list_t *list, FILE *log, const char *proceed_question,
    int proceed_default, const char *retry_question, int retry_default,
    void *arg, sysutl_apply_fn_t apply);

/* The file-creation mask. sysutl_initialize_umask sets it once to add, or
 * to the current mask with add's bits when use_current is set. get reports
 * it (0, or 1 before initialisation, with a message). set applies mask
 * and keeps other threads' set calls waiting until restore puts the saved
 * mask back (0, or 1 with a message when used before initialisation or
 * twice without restore). */
KS_API int sysutl_get_umask(uint32_t *mask_out);
KS_API void sysutl_initialize_umask(int use_current, uint32_t add);
KS_API int sysutl_set_umask(uint32_t mask);
KS_API int sysutl_restore_umask(void);

/* Closes descriptors from .. 19. */
KS_API void sysutl_close_fds(int from);
/* Writes a file's data to disk; the stream is flushed first. 0, or -1
 * with errno. */
KS_API int sysutl_fsync(int fd);
KS_API int sysutl_fsync_fptr(FILE *stream);
/* "SYSTEM RELEASE (MACHINE)" of uname into buf (SYSUTL_PATH_SIZE bytes),
 * or "UNKNOWN_HW_PLATFORM". Returns buf. */
KS_API char *sysutl_platform_description(char *buf);

/* The family's message table. */
KS_API const ks_msg_table_t *sysutl_ks_msg_table_adr(void);
KS_API const ks_msg_table_t *_sysutl_ks_msg_table_adr(void);

KS_END_DECLS

#endif
