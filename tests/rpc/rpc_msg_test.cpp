// Call and reply messages (against a foreign peer too), client
// authentication handles, server authenticators and error texts.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <orvexks/rpc/clnt.h>
#include <orvexks/rpc/svc.h>

#include "rpc/command_output.h"
#include "rpc/msg/rpc_enum.h"

namespace {

using Bytes = std::vector<char>;

// Encodes with a filter into a memory stream at the given misalignment
// (1 forces the word-by-word path).
template <typename T>
Bytes encode(bool_t (*filter)(XDR *, T *), T *obj, int misalign = 0) {
  alignas(8) static char buf[4096 + 8];
  XDR xdrs;
  xdrmem_create(&xdrs, buf + misalign, 4096, XDR_ENCODE);
  EXPECT_TRUE(filter(&xdrs, obj));
  return Bytes(buf + misalign, buf + misalign + XDR_GETPOS(&xdrs));
}

template <typename T>
bool decode(bool_t (*filter)(XDR *, T *), T *obj, const Bytes &bytes,
            int misalign = 0) {
  alignas(8) static char buf[4096 + 8];
  if (!bytes.empty()) memcpy(buf + misalign, bytes.data(), bytes.size());
  XDR xdrs;
  xdrmem_create(&xdrs, buf + misalign, static_cast<uint32_t>(bytes.size()),
                XDR_DECODE);
  return filter(&xdrs, obj) != 0;
}

uint32_t word(const Bytes &b, size_t index) {
  uint32_t w;
  memcpy(&w, b.data() + 4 * index, 4);
  return ntohl(w);
}

// The values the peer's scenarios use.
constexpr uint32_t kXid = 0x12345678u;
int32_t unix_gids[] = {100, 4, 27};
char unix_host[] = "peerhost";

Bytes unix_body() {
  struct authunix_parms p = {1700000000u, unix_host, 1000, 100, 3, unix_gids};
  return encode(xdr_ks_authunix_parms, &p);
}

rpc_msg call_msg(Bytes *cred_body, bool with_unix) {
  rpc_msg msg = {};
  msg.rm_xid = kXid;
  msg.rm_direction = CALL;
  msg.rm_call.cb_rpcvers = 2;
  msg.rm_call.cb_prog = 100003;
  msg.rm_call.cb_vers = 3;
  msg.rm_call.cb_proc = 7;
  if (with_unix) {
    *cred_body = unix_body();
    msg.rm_call.cb_cred = {AUTH_UNIX, cred_body->data(),
                           static_cast<uint32_t>(cred_body->size())};
  }
  return msg;
}

uint32_t result_value = 42;

rpc_msg reply_msg(const std::string &kind) {
  rpc_msg msg = {};
  msg.rm_xid = kXid;
  msg.rm_direction = REPLY;
  if (kind == "reply_success" || kind == "reply_prog_mismatch") {
    msg.rm_reply.rp_stat = MSG_ACCEPTED;
    if (kind == "reply_success") {
      msg.acpted_rply.ar_stat = SUCCESS;
      msg.acpted_rply.ar_results.where = &result_value;
      msg.acpted_rply.ar_results.proc =
          reinterpret_cast<xdrproc_t>(xdr_u_int32_t);
    } else {
      msg.acpted_rply.ar_stat = PROG_MISMATCH;
      msg.acpted_rply.ar_vers.low = 2;
      msg.acpted_rply.ar_vers.high = 4;
    }
  } else {
    msg.rm_reply.rp_stat = MSG_DENIED;
    if (kind == "reply_auth_error") {
      msg.rjcted_rply.rj_stat = AUTH_ERROR;
      msg.rjcted_rply.rj_why = AUTH_TOOWEAK;
    } else {
      msg.rjcted_rply.rj_stat = RPC_MISMATCH;
      msg.rjcted_rply.rj_vers.low = 2;
      msg.rjcted_rply.rj_vers.high = 2;
    }
  }
  return msg;
}

#ifdef TIRPC_PEER_PATH
// Runs the peer; returns what it printed, or fails the test.
std::string run_peer(const std::string &args) {
  std::string command = std::string(TIRPC_PEER_PATH) + " " + args;
  int status = -1;
  std::string out = command_output(command, &status);
  EXPECT_EQ(0, status) << command;
  return out;
}

Bytes read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void write_file(const std::string &path, const Bytes &b) {
  std::ofstream(path, std::ios::binary)
      .write(b.data(), static_cast<std::streamsize>(b.size()));
}

std::string temp_path(const std::string &name) {
  return testing::TempDir() + "rpc_msg_" + std::to_string(getpid()) + "_" +
         name;
}

TEST(PeerInterop, CallMessagesMatchByteForByteBothWays) {
  const char *expected_call =
      "xid=305419896\ndirection=0\nrpcvers=2\nprog=100003\nvers=3\nproc=7\n";
  for (bool with_unix : {false, true}) {
    std::string scenario = with_unix ? "call_unix" : "call_none";
    std::string path = temp_path(scenario);
    run_peer("encode " + scenario + " " + path);
    Bytes theirs = read_file(path);
    Bytes body;
    rpc_msg msg = call_msg(&body, with_unix);
    EXPECT_EQ(theirs, encode(xdr_ks_callmsg, &msg, 0)) << scenario;
    EXPECT_EQ(theirs, encode(xdr_ks_callmsg, &msg, 1))
        << scenario << " word by word";

    write_file(path, encode(xdr_ks_callmsg, &msg));
    std::string printed = run_peer("decode " + scenario + " " + path);
    std::string want =
        std::string(expected_call) +
        (with_unix ? "cred=1/40\nverf=0/0\ntime=1700000000\nhost=peerhost\n"
                     "uid=1000\ngid=100\ngids=100,4,27\n"
                   : "cred=0/0\nverf=0/0\n");
    EXPECT_EQ(want, printed);

    rpc_msg back = {};
    ASSERT_TRUE(decode(xdr_ks_callmsg, &back, theirs));
    EXPECT_EQ(kXid, back.rm_xid);
    EXPECT_EQ(7u, back.rm_call.cb_proc);
    ASSERT_EQ(body.size(), back.rm_call.cb_cred.oa_length);
    if (!body.empty()) {
      EXPECT_EQ(0,
                memcmp(body.data(), back.rm_call.cb_cred.oa_base, body.size()));
    }
    xdr_free(reinterpret_cast<xdrproc_t>(xdr_ks_callmsg), &back);
    unlink(path.c_str());
  }
}

TEST(PeerInterop, RepliesMatchByteForByteBothWays) {
  struct Case {
    const char *scenario, *tail;
  } cases[] = {
      {"reply_success", "stat=0\nverf=0/0\naccept=0\nresult=42\n"},
      {"reply_prog_mismatch", "stat=0\nverf=0/0\naccept=2\nlow=2\nhigh=4\n"},
      {"reply_auth_error", "stat=1\nreject=1\nwhy=5\n"},
      {"reply_rpc_mismatch", "stat=1\nreject=0\nlow=2\nhigh=2\n"},
  };
  for (const Case &c : cases) {
    std::string path = temp_path(c.scenario);
    run_peer(std::string("encode ") + c.scenario + " " + path);
    Bytes theirs = read_file(path);
    rpc_msg msg = reply_msg(c.scenario);
    EXPECT_EQ(theirs, encode(xdr_ks_replymsg, &msg, 0)) << c.scenario;
    EXPECT_EQ(theirs, encode(xdr_ks_replymsg, &msg, 1)) << c.scenario;
    write_file(path, encode(xdr_ks_replymsg, &msg));
    EXPECT_EQ(std::string("xid=305419896\ndirection=1\n") + c.tail,
              run_peer(std::string("decode ") + c.scenario + " " + path));

    uint32_t result = 0;
    rpc_msg back = {};
    back.acpted_rply.ar_results.where = &result;
    back.acpted_rply.ar_results.proc =
        reinterpret_cast<xdrproc_t>(xdr_u_int32_t);
    ASSERT_TRUE(decode(xdr_ks_replymsg, &back, theirs)) << c.scenario;
    rpc_err err = {};
    _ks_seterr_reply(&back, &err);
    if (std::string(c.scenario) == "reply_success") {
      EXPECT_EQ(42u, result);
      EXPECT_EQ(RPC_SUCCESS, err.re_status);
    }
    if (std::string(c.scenario) == "reply_auth_error") {
      EXPECT_EQ(RPC_AUTHERROR, err.re_status);
      EXPECT_EQ(AUTH_TOOWEAK, err.re_why);
    }
    unlink(path.c_str());
  }
}
#endif

TEST(CallMessage, MalformedInputFailsAtEveryTruncation) {
  Bytes body;
  rpc_msg msg = call_msg(&body, true);
  Bytes good = encode(xdr_ks_callmsg, &msg);
  for (int misalign : {0, 1}) {
    for (size_t len = 0; len < good.size(); ++len) {
      rpc_msg back = {};
      EXPECT_FALSE(decode(xdr_ks_callmsg, &back,
                          Bytes(good.begin(), good.begin() + len), misalign))
          << len;
      xdr_free(reinterpret_cast<xdrproc_t>(xdr_ks_callmsg), &back);
    }
  }
  // A reply is not a call. (The 400-byte limit on bodies is tested with
  // every byte present in xdr_limits_test.)
  Bytes reply = good;
  reply[7] = 1;
  rpc_msg back = {};
  EXPECT_FALSE(decode(xdr_ks_callmsg, &back, reply));
}

TEST(CallMessage, DecodesIntoCallerBuffersAndKeepsForeignRpcVersions) {
  Bytes body;
  rpc_msg msg = call_msg(&body, true);
  msg.rm_call.cb_rpcvers =
      3;  // the server answers RPC_MISMATCH; decoding succeeds
  Bytes wire = encode(xdr_ks_callmsg, &msg);
  char cred[MAX_AUTH_BYTES], verf[MAX_AUTH_BYTES];
  for (int misalign : {0, 1}) {
    rpc_msg back = {};
    back.rm_call.cb_cred.oa_base = cred;
    back.rm_call.cb_verf.oa_base = verf;
    ASSERT_TRUE(decode(xdr_ks_callmsg, &back, wire, misalign));
    EXPECT_EQ(3u, back.rm_call.cb_rpcvers);
    EXPECT_EQ(cred, back.rm_call.cb_cred.oa_base);
    EXPECT_EQ(0, memcmp(cred, body.data(), body.size()));
  }
  rpc_msg hdr = msg;
  hdr.rm_direction = REPLY;
  Bytes h = encode(xdr_ks_callhdr, &hdr);
  ASSERT_EQ(20u, h.size());
  for (size_t i : {0, 3, 4}) EXPECT_EQ(word(wire, i), word(h, i)) << i;
  EXPECT_EQ(2u, word(h, 2)) << "callhdr forces RPC version 2";
  EXPECT_EQ(0u, word(h, 1)) << "and direction CALL";
}

TEST(ReplyMessage, UnknownStatusesFail) {
  rpc_msg msg = reply_msg("reply_auth_error");
  Bytes wire = encode(xdr_ks_replymsg, &msg);
  Bytes bad_stat = wire;
  bad_stat[11] = 2;  // reply status 2
  Bytes bad_reject = wire;
  bad_reject[15] = 2;  // reject status 2
  for (const Bytes &b : {bad_stat, bad_reject}) {
    rpc_msg back = {};
    EXPECT_FALSE(decode(xdr_ks_replymsg, &back, b));
    EXPECT_FALSE(decode(xdr_ks_replymsg, &back, b, 1));
  }
}

TEST(ErrorMapping, RepliesMapOntoClientStatuses) {
  struct Case {
    reply_stat rp;
    int32_t stat;
    enum clnt_stat want;
    int32_t s1, s2;
  } cases[] = {{MSG_ACCEPTED, 1, RPC_PROGUNAVAIL, 0, 0},
               {MSG_ACCEPTED, 3, RPC_PROCUNAVAIL, 0, 0},
               {MSG_ACCEPTED, 4, RPC_CANTDECODEARGS, 0, 0},
               {MSG_ACCEPTED, 5, RPC_SYSTEMERROR, 0, 0},
               {MSG_ACCEPTED, 9, RPC_FAILED, 0, 9},
               {MSG_DENIED, 7, RPC_FAILED, 1, 7},
               {MSG_ACCEPTED, -4, RPC_FAILED, 4, 0}};  // -4: reply status 4
  for (const Case &c : cases) {
    rpc_msg msg = {};
    if (c.stat < 0)
      ksi_set_enum_word(&msg.rm_reply.rp_stat, -c.stat);
    else
      msg.rm_reply.rp_stat = c.rp;
    if (c.rp == MSG_ACCEPTED)
      ksi_set_enum_word(&msg.acpted_rply.ar_stat, c.stat);
    else
      ksi_set_enum_word(&msg.rjcted_rply.rj_stat, c.stat);
    rpc_err err = {};
    _ks_seterr_reply(&msg, &err);
    EXPECT_EQ(c.want, err.re_status);
    if (c.want == RPC_FAILED) {
      EXPECT_EQ(c.s1, err.re_lb.s1);
      if (c.stat >= 0) {
        EXPECT_EQ(c.s2, err.re_lb.s2);
      }
    }
  }
  rpc_msg vers = reply_msg("reply_rpc_mismatch");
  rpc_err err = {};
  _ks_seterr_reply(&vers, &err);
  EXPECT_EQ(RPC_VERSMISMATCH, err.re_status);
  EXPECT_EQ(2u, err.re_vers.high);
}

// ---- Error texts through a client whose last error the test sets.

rpc_err fake_error;
void fake_geterr(CLIENT *, rpc_err *e) { *e = fake_error; }
const clnt_ops fake_ops = {nullptr, nullptr, fake_geterr,
                           nullptr, nullptr, nullptr};

std::string sperror(rpc_err e, const char *prefix = "cl") {
  fake_error = e;
  CLIENT cl = {};
  cl.cl_ops = &fake_ops;
  return ks_clnt_sperror(&cl, prefix);
}

TEST(ErrorTexts, StatusAndDetailTexts) {
  EXPECT_STREQ("RPC: Success", ks_clnt_sperrno(RPC_SUCCESS));
  EXPECT_STREQ("RPC: Unknown protocol", ks_clnt_sperrno(RPC_UNKNOWNPROTO));
  EXPECT_STREQ("RPC: (unknown error code)",
               ks_clnt_sperrno(static_cast<clnt_stat>(18)));

  rpc_err e = {};
  e.re_status = RPC_CANTRECV;
  e.re_errno = 10054;
  EXPECT_EQ(
      "cl: RPC: Unable to receive; errno = [WINSOCK] Connection reset by peer",
      sperror(e));
  e.re_errno = ENOENT;
  EXPECT_EQ(
      std::string("cl: RPC: Unable to receive; errno = ") + strerror(ENOENT),
      sperror(e));
  e.re_errno = 777777;
  EXPECT_EQ("cl: RPC: Unable to receive; error 777777", sperror(e));
  e = {};
  e.re_status = RPC_AUTHERROR;
  e.re_why = AUTH_TOOWEAK;
  EXPECT_EQ("cl: RPC: Authentication error; why = Client credential too weak",
            sperror(e));
  ksi_set_enum_word(&e.re_why, 9);
  EXPECT_EQ(
      "cl: RPC: Authentication error; why = (unknown authentication error - 9)",
      sperror(e));
  e = {};
  e.re_status = RPC_PROGVERSMISMATCH;
  e.re_vers = {2, 3};
  EXPECT_EQ(
      "cl: RPC: Program/version mismatch; low version = 2, high version = 3",
      sperror(e));
  e = {};
  e.re_status = RPC_UNKNOWNADDR;
  e.re_lb = {1, -1};
  EXPECT_EQ("cl: RPC: (unknown error code); s1 = 1, s2 = 4294967295",
            sperror(e));
  e = {};
  e.re_status = RPC_TIMEDOUT;
  EXPECT_EQ("cl: RPC: Timed out", sperror(e));
  EXPECT_EQ(255u, sperror(e, std::string(300, 'p').c_str()).size())
      << "truncated to the buffer";
}

TEST(ErrorTexts, CreationErrorIsPerThread) {
  rpc_createerr *mine = ks_rpc_get_createerr();
  ASSERT_NE(nullptr, mine);
  *mine = {};
  mine->cf_stat = RPC_SYSTEMERROR;
  mine->cf_error.re_errno = 10061;
  EXPECT_STREQ("mk: RPC: Remote system error - [WINSOCK] Connection refused",
               ks_clnt_spcreateerror("mk"));
  mine->cf_error.re_errno = 888888;
  EXPECT_STREQ("mk: RPC: Remote system error - Error 888888",
               ks_clnt_spcreateerror("mk"));
  mine->cf_stat = RPC_PMAPFAILURE;
  mine->cf_error.re_status = RPC_TIMEDOUT;
  EXPECT_STREQ("mk: RPC: Port mapper failure - RPC: Timed out",
               ks_clnt_spcreateerror("mk"));
  mine->cf_error.re_status = static_cast<clnt_stat>(20);
  EXPECT_STREQ("mk: RPC: Port mapper failure - RPC: (unknown error code)",
               ks_clnt_spcreateerror("mk"));
  std::thread other([&] {
    rpc_createerr *theirs = ks_rpc_get_createerr();
    EXPECT_NE(mine, theirs);
    EXPECT_EQ(RPC_SUCCESS, theirs->cf_stat) << "zeroed on first use";
  });
  other.join();
  EXPECT_EQ(mine, ks_rpc_get_createerr());
}

// ---- Client authentication handles.

Bytes marshal(AUTH *auth) {
  alignas(4) char buf[1024];
  XDR xdrs;
  xdrmem_create(&xdrs, buf, sizeof buf, XDR_ENCODE);
  EXPECT_TRUE(KS_AUTH_MARSHALL(auth, &xdrs));
  return Bytes(buf, buf + XDR_GETPOS(&xdrs));
}

// The credential body a client handle sends.
Bytes cred_body(const AUTH *a) {
  return Bytes(a->ah_cred.oa_base, a->ah_cred.oa_base + a->ah_cred.oa_length);
}

TEST(AuthHandles, NoneIsSharedAndMarshalsEmptyCredentials) {
  AUTH *a = ks_authnone_create();
  EXPECT_EQ(a, ks_authnone_create());
  EXPECT_EQ(Bytes(16, 0), marshal(a));
  EXPECT_TRUE(KS_AUTH_VALIDATE(a, &a->ah_verf));
  EXPECT_FALSE(KS_AUTH_REFRESH(a));
  KS_AUTH_DESTROY(a);
}

TEST(AuthHandles, UnixSendsAtMostSixteenGroups) {
  int32_t gids[20];
  for (int i = 0; i < 20; ++i) gids[i] = 500 + i;
  AUTH *a = ks_authunix_create("host", 1000, 100, 20, gids);
  ASSERT_NE(nullptr, a);
  EXPECT_EQ(AUTH_UNIX, a->ah_cred.oa_flavor);
  authunix_parms p = {};
  Bytes body = cred_body(a);
  ASSERT_TRUE(decode(xdr_ks_authunix_parms, &p, body));
  EXPECT_EQ(16u, p.aup_len);
  EXPECT_EQ(515, p.aup_gids[15]);
  EXPECT_STREQ("host", p.aup_machname);
  xdr_free(reinterpret_cast<xdrproc_t>(xdr_ks_authunix_parms), &p);
  // Marshalled: flavour, length, body, then the AUTH_NONE verifier.
  Bytes m = marshal(a);
  ASSERT_EQ(8 + body.size() + 8, m.size());
  EXPECT_EQ(1u, word(m, 0));
  EXPECT_EQ(body, Bytes(m.begin() + 8,
                        m.begin() + 8 + static_cast<long>(body.size())));
  KS_AUTH_DESTROY(a);

  AUTH *d = ks_authunix_create_default();
  ASSERT_NE(nullptr, d);
  p = {};
  ASSERT_TRUE(decode(xdr_ks_authunix_parms, &p, cred_body(d)));
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  EXPECT_STREQ(host, p.aup_machname);
  EXPECT_EQ(0, p.aup_uid);
  EXPECT_EQ(0u, p.aup_len);
  xdr_free(reinterpret_cast<xdrproc_t>(xdr_ks_authunix_parms), &p);
  KS_AUTH_DESTROY(d);
}

TEST(AuthHandles, UnixBodyOfSeventeenGroupsIsRefused) {
  for (uint32_t count : {16u, 17u}) {
    Bytes body = unix_body();  // its group count is word 6
    ASSERT_EQ(3u, word(body, 6));
    uint32_t be = htonl(count);
    memcpy(body.data() + 4 * 6, &be, 4);
    body.resize(body.size() + 4 * (count - 3), 0);
    authunix_parms p = {};
    EXPECT_EQ(count <= 16, decode(xdr_ks_authunix_parms, &p, body)) << count;
    xdr_free(reinterpret_cast<xdrproc_t>(xdr_ks_authunix_parms), &p);
  }
}

TEST(AuthHandles, ShortHandCredentialUntilRefused) {
  AUTH *a = ks_authunix_create("host", 1, 1, 0, nullptr);
  ASSERT_NE(nullptr, a);
  char *orig = a->ah_cred.oa_base;
  EXPECT_FALSE(KS_AUTH_REFRESH(a)) << "already on the full credential";
  // The server's verifier carries the short-hand credential.
  char sh_body[] = "abcd";
  opaque_auth sh = {AUTH_SHORT, sh_body, 4};
  Bytes verf_body = encode(xdr_ks_opaque_auth, &sh);
  opaque_auth verf = {AUTH_SHORT, verf_body.data(),
                      static_cast<uint32_t>(verf_body.size())};
  EXPECT_TRUE(KS_AUTH_VALIDATE(a, &verf));
  EXPECT_EQ(AUTH_SHORT, a->ah_cred.oa_flavor);
  Bytes m = marshal(a);
  EXPECT_EQ(8u + 4 + 8, m.size());
  EXPECT_EQ(2u, word(m, 0));
  // A refused short-hand: back to the full credential, re-stamped.
  EXPECT_TRUE(KS_AUTH_REFRESH(a));
  EXPECT_EQ(orig, a->ah_cred.oa_base);
  EXPECT_EQ(1u, word(marshal(a), 0));
  // A verifier that does not decode also falls back.
  EXPECT_TRUE(KS_AUTH_VALIDATE(a, &verf));
  opaque_auth broken = {AUTH_SHORT, verf_body.data(), 3};
  EXPECT_TRUE(KS_AUTH_VALIDATE(a, &broken));
  EXPECT_EQ(orig, a->ah_cred.oa_base);
  KS_AUTH_DESTROY(a);
}

// ---- AUTH_NT.

nt_sid_t *domain_sid(uint32_t rid, uint32_t domain = 7) {
  return nt_sid_alloc(NT_SID_AUTHORITY_NT, 5, 21u, 1u, 2u, domain, rid);
}

// A user and a group of one domain, freed with the test.
struct DomainIds {
  nt_sid_t *user = domain_sid(1000), *group = domain_sid(1001);
  ~DomainIds() {
    nt_sid_free(user);
    nt_sid_free(group);
  }
};

TEST(AuthNt, OneDomainTravelsAsOnePrefix) {
  DomainIds ids;
  nt_sid_t *user = ids.user, *group = ids.group;
  AUTH *a = authnt_create("h", user, group, 0, nullptr);
  ASSERT_NE(nullptr, a);
  EXPECT_EQ(AUTH_NT, a->ah_cred.oa_flavor);
  Bytes b = cred_body(a);
  // time, name "h" (2 words), k, p, prefix {4, authority (2 words), 4 subs}, n,
  // 2 entries
  ASSERT_EQ(4u * (1 + 2 + 2 + 7 + 1 + 4), b.size());
  EXPECT_EQ(1u, word(b, 3));  // k
  EXPECT_EQ(1u, word(b, 4));  // one prefix
  EXPECT_EQ(4u, word(b, 5));
  EXPECT_EQ(0x00050000u, word(b, 7));  // authority bytes 5 and 6, then padding
  EXPECT_EQ(2u, word(b, 12));          // two entries
  EXPECT_EQ(1000u, word(b, 14));
  EXPECT_EQ(1001u, word(b, 16));
  authnt_parms p = {};
  ASSERT_TRUE(decode(xdr_authnt_parms, &p, b));
  EXPECT_TRUE(nt_sid_equal(user, p.ant_user));
  EXPECT_TRUE(nt_sid_equal(group, p.ant_group));
  EXPECT_EQ(0u, p.ant_len);
  xdr_free(reinterpret_cast<xdrproc_t>(xdr_authnt_parms), &p);
  KS_AUTH_DESTROY(a);
}

TEST(AuthNt, ManyGroupsAreCutAndForeignGroupsLeftOut) {
  DomainIds ids;
  nt_sid_t *user = ids.user, *group = ids.group;
  std::vector<nt_sid_t *> groups;
  groups.push_back(
      nt_sid_alloc(NT_SID_AUTHORITY_NT, 2, 32u, 544u));  // Administrators
  for (uint32_t i = 0; i < 40; ++i)
    groups.push_back(domain_sid(2001 + 2 * i, 7 + i % 2));
  AUTH *a = authnt_create("h", user, group, static_cast<int32_t>(groups.size()),
                          groups.data());
  ASSERT_NE(nullptr, a);
  EXPECT_LE(a->ah_cred.oa_length, static_cast<uint32_t>(MAX_AUTH_BYTES));
  authnt_parms p = {};
  ASSERT_TRUE(decode(xdr_authnt_parms, &p, cred_body(a)));
  EXPECT_GT(p.ant_len, 20u);
  EXPECT_LE(p.ant_len, 33u);
  for (uint32_t i = 0; i < p.ant_len; ++i)
    EXPECT_TRUE(nt_sid_equal(groups[i + 1], p.ant_groups[i])) << i;
  xdr_free(reinterpret_cast<xdrproc_t>(xdr_authnt_parms), &p);
  EXPECT_TRUE(KS_AUTH_VALIDATE(a, &a->ah_verf));
  KS_AUTH_DESTROY(a);
  for (nt_sid_t *g : groups) nt_sid_free(g);
}

TEST(AuthNt, MalformedTablesFail) {
  DomainIds ids;
  nt_sid_t *user = ids.user, *group = ids.group;
  AUTH *a = authnt_create("h", user, group, 0, nullptr);
  Bytes good = cred_body(a);
  auto with_word = [&](size_t index, uint32_t value) {
    Bytes b = good;
    uint32_t be = htonl(value);
    memcpy(b.data() + 4 * index, &be, 4);
    return b;
  };
  for (const Bytes &b : {with_word(3, 0), with_word(3, 2), with_word(13, 1),
                         with_word(5, 9), with_word(4, 1000)}) {
    authnt_parms p = {};
    EXPECT_FALSE(decode(xdr_authnt_parms, &p, b));
    EXPECT_EQ(nullptr, p.ant_user);
    xdr_free(reinterpret_cast<xdrproc_t>(xdr_authnt_parms), &p);
  }
  KS_AUTH_DESTROY(a);
}

// ---- Server authentication.

struct Request {
  SVCXPRT xprt = {};
  alignas(8) char area[KS_SVC_CLNTCRED_SIZE];
  svc_req req = {};
  rpc_msg msg = {};
  Request(int flavor, Bytes *body) {
    req.rq_xprt = &xprt;
    req.rq_clntcred = area;
    xprt.xp_verf.oa_flavor = 99;
    xprt.xp_verf.oa_length = 9;
    msg.rm_call.cb_cred = {flavor, body ? body->data() : nullptr,
                           body ? static_cast<uint32_t>(body->size()) : 0};
  }
  auth_stat run() { return _ks_authenticate(&req, &msg); }
};

auth_stat flavor9_handler(svc_req *rq, rpc_msg *) {
  rq->rq_xprt->xp_verf.oa_flavor = 9;
  return AUTH_TOOWEAK;
}

TEST(ServerAuth, FlavoursAndRegistrations) {
  Request none(AUTH_NONE, nullptr);
  EXPECT_EQ(AUTH_OK, none.run());
  EXPECT_EQ(0, none.xprt.xp_verf.oa_flavor);
  EXPECT_EQ(0u, none.xprt.xp_verf.oa_length);
  EXPECT_EQ(AUTH_REJECTEDCRED, Request(AUTH_SHORT, nullptr).run());
  EXPECT_EQ(AUTH_REJECTEDCRED, Request(9, nullptr).run());
  EXPECT_EQ(1, ks_svc_auth_reg(AUTH_UNIX, flavor9_handler));
  EXPECT_EQ(0, ks_svc_auth_reg(9, flavor9_handler));
  EXPECT_EQ(1, ks_svc_auth_reg(9, flavor9_handler));
  Request nine(9, nullptr);
  EXPECT_EQ(AUTH_TOOWEAK, nine.run());
  EXPECT_EQ(9, nine.xprt.xp_verf.oa_flavor);
  EXPECT_EQ(9, nine.req.rq_cred.oa_flavor);
}

TEST(ServerAuth, UnixCredentialsInlineAndWordByWordAgree) {
  alignas(8) char aligned[MAX_AUTH_BYTES + 8];
  Bytes body = unix_body();
  for (int misalign : {0, 1}) {
    memcpy(aligned + misalign, body.data(), body.size());
    Request r(AUTH_UNIX, &body);
    r.msg.rm_call.cb_cred.oa_base = aligned + misalign;
    ASSERT_EQ(AUTH_OK, r.run()) << misalign;
    auto *p = static_cast<authunix_parms *>(r.req.rq_clntcred);
    EXPECT_STREQ("peerhost", p->aup_machname);
    EXPECT_EQ(1000, p->aup_uid);
    ASSERT_EQ(3u, p->aup_len);
    EXPECT_EQ(27, p->aup_gids[2]);
  }
  // More than 16 groups, a long name, a body shorter than its counts say.
  Bytes many = body;
  uint32_t seventeen = htonl(17);
  memcpy(many.data() + 24, &seventeen, 4);
  Bytes long_name = body;
  uint32_t n256 = htonl(256);
  memcpy(long_name.data() + 4, &n256, 4);
  for (const Bytes &b : {many, long_name}) {
    Bytes copy = b;
    EXPECT_EQ(AUTH_BADCRED, Request(AUTH_UNIX, &copy).run());
  }
  Bytes short_body(body.begin(), body.end() - 4);
  testing::internal::CaptureStdout();
  EXPECT_EQ(AUTH_BADCRED, Request(AUTH_UNIX, &short_body).run());
  EXPECT_EQ("bad auth_len gid 3 str 8 auth 36\n",
            testing::internal::GetCapturedStdout());
}

TEST(ServerAuth, NtCredentialsLandInTheScratchArea) {
  DomainIds ids;
  nt_sid_t *user = ids.user, *group = ids.group;
  std::vector<nt_sid_t *> groups;
  for (uint32_t i = 0; i < 33; ++i) groups.push_back(domain_sid(3001 + 2 * i));
  AUTH *a = authnt_create("client", user, group, 33, groups.data());
  ASSERT_NE(nullptr, a);
  Bytes body = cred_body(a);
  Request r(AUTH_NT, &body);
  ASSERT_EQ(AUTH_OK, r.run());
  auto *p = static_cast<authnt_parms *>(r.req.rq_clntcred);
  auto inside = [&](const void *ptr) {
    return ptr >= r.area && ptr < r.area + KS_SVC_CLNTCRED_SIZE;
  };
  EXPECT_TRUE(inside(p->ant_user));
  EXPECT_TRUE(nt_sid_equal(user, p->ant_user));
  EXPECT_TRUE(nt_sid_equal(group, p->ant_group));
  EXPECT_STREQ("client", p->ant_machname);
  EXPECT_GT(p->ant_len, 0u);
  for (uint32_t i = 0; i < p->ant_len; ++i) {
    EXPECT_TRUE(inside(p->ant_groups[i]));
    EXPECT_TRUE(nt_sid_equal(groups[i], p->ant_groups[i]));
  }
  Bytes garbage = {1, 2, 3};
  EXPECT_EQ(AUTH_BADCRED, Request(AUTH_NT, &garbage).run());
  KS_AUTH_DESTROY(a);
  for (nt_sid_t *g : groups) nt_sid_free(g);
}

}  // namespace
