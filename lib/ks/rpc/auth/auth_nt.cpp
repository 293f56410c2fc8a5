// AUTH_NT: a credential that carries the caller's NT identity (user,
// primary group and domain groups as SIDs). On the wire each SID is split
// into its prefix (every sub-authority but the last) and its relative
// identifier; equal prefixes travel once, so the user and groups of one
// domain share a single prefix:
//
//   time stamp, machine name,
//   k (entry index of the primary group, 1 when we encode),
//   p prefixes: {sub-authority count c, 6-byte authority as opaque, c words},
//   n entries:  {prefix index, relative identifier}
//
// Entry 0 is the user, entry k the primary group, the rest the groups.
#include <cstdlib>
#include <cstring>

#include "internal/report_line.h"
#include "rpc/auth/rpc_auth.h"

namespace {

constexpr uint64_t kNtAuthority = 5;
constexpr uint32_t kDomainRelative = 21;  // first sub-authority of domain SIDs
constexpr uint32_t kMaxEntries = 35;      // user, primary group, 33 groups
constexpr uint32_t kMaxPrefixSubs = 8;
constexpr uint32_t kMaxSidSubs = kMaxPrefixSubs + 1;
// A credential body is at most MAX_AUTH_BYTES; a prefix takes at least 12
// of them and an entry 8, which bounds what a decoder has to hold.
constexpr uint32_t kMaxWirePrefixes = MAX_AUTH_BYTES / 12;
constexpr uint32_t kMaxWireEntries = MAX_AUTH_BYTES / 8;

struct sid_prefix {
  uint64_t authority;
  uint32_t count;
  uint32_t subs[kMaxPrefixSubs];
};

struct sid_entry {
  uint32_t prefix;
  uint32_t rid;
};

template <uint32_t kPrefixes, uint32_t kEntries>
struct sid_table {
  uint32_t group_index;  // k
  uint32_t prefix_count;
  uint32_t entry_count;
  sid_prefix prefixes[kPrefixes];
  sid_entry entries[kEntries];
};

using encode_table = sid_table<kMaxEntries, kMaxEntries>;
using decode_table = sid_table<kMaxWirePrefixes, kMaxWireEntries>;

bool same_prefix(const sid_prefix &a, const sid_prefix &b) {
  return a.authority == b.authority && a.count == b.count &&
         memcmp(a.subs, b.subs, a.count * sizeof a.subs[0]) == 0;
}

// Appends a SID as {prefix, relative identifier}. SIDs without a
// sub-authority or with more than can travel are left out.
void add_sid(encode_table *t, const nt_sid_t *sid) {
  if (!nt_sid_is_valid(sid)) return;
  unsigned subs = nt_sid_sub_authority_count(sid);
  if (subs == 0 || subs > kMaxSidSubs) return;
  sid_prefix prefix = {};
  prefix.authority = nt_sid_get_authority(sid);
  prefix.count = subs - 1;
  for (unsigned i = 0; i + 1 < subs; ++i)
    prefix.subs[i] = nt_sid_get_sub_authority(sid, i);
  uint32_t index = 0;
  while (index < t->prefix_count && !same_prefix(t->prefixes[index], prefix))
    ++index;
  if (index == t->prefix_count) t->prefixes[t->prefix_count++] = prefix;
  t->entries[t->entry_count++] = {index,
                                  nt_sid_get_sub_authority(sid, subs - 1)};
}

bool is_domain_relative(const nt_sid_t *sid) {
  return nt_sid_is_valid(sid) && nt_sid_get_authority(sid) == kNtAuthority &&
         nt_sid_sub_authority_count(sid) >= 1 &&
         nt_sid_get_sub_authority(sid, 0) == kDomainRelative;
}

bool_t xdr_prefix(XDR *xdrs, sid_prefix *prefix) {
  int32_t count = static_cast<int32_t>(prefix->count);
  if (!xdr_int32_t(xdrs, &count) || count < 0 ||
      count > static_cast<int32_t>(kMaxPrefixSubs))
    return FALSE;
  prefix->count = static_cast<uint32_t>(count);
  char authority[6];
  for (int i = 0; i < 6; ++i)
    authority[i] = static_cast<char>(prefix->authority >> (8 * (5 - i)));
  if (!xdr_opaque(xdrs, authority, sizeof authority)) return FALSE;
  prefix->authority = 0;
  for (int i = 0; i < 6; ++i)
    prefix->authority =
        (prefix->authority << 8) | static_cast<unsigned char>(authority[i]);
  for (uint32_t i = 0; i < prefix->count; ++i)
    if (!xdr_u_int32_t(xdrs, &prefix->subs[i])) return FALSE;
  return TRUE;
}

// Codes items 3 to 7 of the wire form; max_* bound what decoding accepts.
template <uint32_t kPrefixes, uint32_t kEntries>
bool_t xdr_table(XDR *xdrs, sid_table<kPrefixes, kEntries> *t) {
  if (!xdr_u_int32_t(xdrs, &t->group_index) ||
      !xdr_u_int32_t(xdrs, &t->prefix_count) || t->prefix_count > kPrefixes)
    return FALSE;
  for (uint32_t i = 0; i < t->prefix_count; ++i)
    if (!xdr_prefix(xdrs, &t->prefixes[i])) return FALSE;
  if (!xdr_u_int32_t(xdrs, &t->entry_count) || t->entry_count > kEntries)
    return FALSE;
  for (uint32_t i = 0; i < t->entry_count; ++i)
    if (!xdr_u_int32_t(xdrs, &t->entries[i].prefix) ||
        !xdr_u_int32_t(xdrs, &t->entries[i].rid))
      return FALSE;
  return TRUE;
}

bool_t encode_parms(XDR *xdrs, struct authnt_parms *p) {
  if (!xdr_u_int32_t(xdrs, &p->ant_time) ||
      !xdr_string(xdrs, &p->ant_machname, MAX_MACHINE_NAME))
    return FALSE;
  encode_table t;
  t.group_index = 1;
  t.prefix_count = 0;
  t.entry_count = 0;
  add_sid(&t, p->ant_user);
  add_sid(&t, p->ant_group);
  for (uint32_t i = 0; i < p->ant_len && t.entry_count < kMaxEntries; ++i)
    if (is_domain_relative(p->ant_groups[i])) add_sid(&t, p->ant_groups[i]);
  return xdr_table(xdrs, &t);
}

// A SID from an entry, or null when the entry names no usable prefix.
nt_sid_t *rebuild(const decode_table &t, uint32_t entry) {
  const sid_entry &e = t.entries[entry];
  if (e.prefix >= t.prefix_count) return nullptr;
  const sid_prefix &prefix = t.prefixes[e.prefix];
  if (prefix.count >= kMaxPrefixSubs) return nullptr;
  uint32_t subs[kMaxSidSubs];
  memcpy(subs, prefix.subs, prefix.count * sizeof subs[0]);
  subs[prefix.count] = e.rid;
  return nt_sid_alloc_from(prefix.authority, prefix.count + 1, subs);
}

void free_parms_sids(struct authnt_parms *p, uint32_t groups) {
  nt_sid_free(p->ant_user);
  nt_sid_free(p->ant_group);
  p->ant_user = p->ant_group = nullptr;
  if (p->ant_groups == nullptr) return;
  for (uint32_t i = 0; i < groups; ++i) {
    nt_sid_free(p->ant_groups[i]);
    p->ant_groups[i] = nullptr;
  }
}

bool_t decode_parms(XDR *xdrs, struct authnt_parms *p) {
  if (!xdr_u_int32_t(xdrs, &p->ant_time) ||
      !xdr_string(xdrs, &p->ant_machname, MAX_MACHINE_NAME))
    return FALSE;
  decode_table t = {};
  if (!xdr_table(xdrs, &t)) return FALSE;
  uint32_t k = t.group_index;
  if (k == 0 || k >= t.entry_count) return FALSE;
  p->ant_user = rebuild(t, 0);
  p->ant_group = rebuild(t, k);
  uint32_t count = t.entry_count - (k + 1);
  bool own_array = p->ant_groups == nullptr;
  if (!own_array && count > p->ant_len) count = p->ant_len;
  if (own_array && count > 0) {
    p->ant_groups = static_cast<nt_sid_t **>(calloc(count, sizeof(nt_sid_t *)));
    if (p->ant_groups == nullptr) ksi_report("xdr_authnt_parms: out of memory");
  }
  bool ok = p->ant_user != nullptr && p->ant_group != nullptr &&
            (count == 0 || p->ant_groups != nullptr);
  uint32_t made = 0;
  for (; ok && made < count; ++made) {
    p->ant_groups[made] = rebuild(t, k + 1 + made);
    ok = p->ant_groups[made] != nullptr;
  }
  if (ok) {
    p->ant_len = count;
    return TRUE;
  }
  free_parms_sids(p, made);
  if (own_array) {
    free(p->ant_groups);
    p->ant_groups = nullptr;
  }
  p->ant_len = 0;
  return FALSE;
}

bool_t restamp_nt(char *body, uint32_t length) {
  struct authnt_parms parms = {};
  XDR xdrs;
  xdrmem_create(&xdrs, body, length, XDR_DECODE);
  bool_t ok = xdr_authnt_parms(&xdrs, &parms);
  if (ok) {
    parms.ant_time = ksi_auth_time_now();
    xdrmem_create(&xdrs, body, length, XDR_ENCODE);
    ok = xdr_authnt_parms(&xdrs, &parms);
  }
  xdr_free(reinterpret_cast<xdrproc_t>(xdr_authnt_parms), &parms);
  return ok;
}

const ksi_auth_flavor nt_flavor = {
    ksi_auth_marshal_max, "auth_nt.c - Fatal marshalling problem", restamp_nt};

const struct auth_ops nt_ops = {ksi_auth_full_nextverf, ksi_auth_full_marshal,
                                ksi_auth_full_validate, ksi_auth_full_refresh,
                                ksi_auth_full_destroy};

}  // namespace

extern "C" {

KS_API bool_t xdr_authnt_parms(XDR *xdrs, struct authnt_parms *p) {
  switch (xdrs->x_op) {
    case XDR_ENCODE:
      return encode_parms(xdrs, p);
    case XDR_DECODE:
      return decode_parms(xdrs, p);
    case XDR_FREE:
      free_parms_sids(p, p->ant_len);
      free(p->ant_groups);
      p->ant_groups = nullptr;
      p->ant_len = 0;
      return xdr_string(xdrs, &p->ant_machname, MAX_MACHINE_NAME);
  }
  return FALSE;
}

KS_API AUTH *authnt_create(const char *machname, const nt_sid_t *user,
                           const nt_sid_t *group, int32_t len,
                           nt_sid_t *const *groups) {
  struct authnt_parms parms;
  parms.ant_time = ksi_auth_time_now();
  parms.ant_machname = const_cast<char *>(machname);
  parms.ant_user = const_cast<nt_sid_t *>(user);
  parms.ant_group = const_cast<nt_sid_t *>(group);
  parms.ant_len = len < 0 ? 0 : static_cast<uint32_t>(len);
  parms.ant_groups = const_cast<nt_sid_t **>(groups);
  char body[MAX_AUTH_BYTES];
  XDR xdrs;
  // Groups that do not fit are dropped from the end.
  for (;;) {
    xdrmem_create(&xdrs, body, sizeof body, XDR_ENCODE);
    if (xdr_authnt_parms(&xdrs, &parms)) break;
    if (parms.ant_len == 0) {
      ksi_report("authnt_create: xdr_authnt_parms failed");
      return nullptr;
    }
    parms.ant_len--;
  }
  return ksi_auth_full_create(&nt_ops, &nt_flavor, AUTH_NT, body,
                              XDR_GETPOS(&xdrs),
                              "authnt_create: out of memory");
}

}  // extern "C"
