// The SID record: construction from UNIX ids and NT SIDs, the NT form of a
// record, equality, and the hash and key comparison of SID-keyed tables.
//
// The record stores an NT SID's sub-authorities most significant byte
// first, unlike the NT binary form (little-endian), so that the same bytes
// serve as memory record, hash key and wire item on every host.
#include <cstring>

#include <orvexnt/nt_accounts.h>
#include <orvexnt/nt_sid.h>

#include "identity/credutl_internal.h"
#include "identity/credutl_msgs.h"
#include "msg/msg_out.h"

static_assert(sizeof(credutl_sid_t) == CREDUTL_SID_SIZE,
              "the SID record is a fixed 34-byte item");

namespace {

constexpr size_t kNtHeader = 8;  // revision, count, 6 authority bytes

void put_be32(unsigned char *p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
}

uint32_t get_be32(const unsigned char *p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) |
         (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

void make_unix_sid(uint32_t id, unsigned char kind, credutl_sid_t *sid_out) {
  std::memset(sid_out, 0, sizeof *sid_out);
  sid_out->length = CREDUTL_SID_UNIX_LENGTH;
  sid_out->type = CREDUTL_SID_TYPE_UNIX;
  put_be32(sid_out->data, id);
  sid_out->data[4] = kind;
}

uint32_t unix_sid_id(const credutl_sid_t *sid, unsigned char kind) {
  KSI_CREDUTL_ASSERT(sid->type == CREDUTL_SID_TYPE_UNIX,
                     "sid_p->type == CREDUTL_SID_TYPE_UNIX");
  if (sid->length != CREDUTL_SID_UNIX_LENGTH || sid->data[4] != kind)
    return CREDUTL_ID_NOBODY;
  return get_be32(sid->data);
}

// Copies an NT SID that must fit size bytes into out.
void copy_nt_sid(const nt_sid_t *nt, size_t size, void *out) {
  size_t sidlen = nt_sid_length(nt);
  KSI_CREDUTL_ASSERT(sidlen <= size, "sidlen <= sid_size");
  std::memcpy(out, nt, sidlen);
}

}  // namespace

extern "C" {

const credutl_sid_t CREDUTL_SID_NOBODY = {
    CREDUTL_SID_PLACEHOLDER_LENGTH, CREDUTL_SID_TYPE_NOBODY, {0}};
const credutl_sid_t CREDUTL_SID_DONTCARE = {
    CREDUTL_SID_PLACEHOLDER_LENGTH, CREDUTL_SID_TYPE_DONTCARE, {0}};

void credutl_unix_uid_to_sid(credutl_uid_t uid, credutl_sid_t *sid_out) {
  make_unix_sid(uid, CREDUTL_SID_UNIX_UID, sid_out);
}

void credutl_unix_gid_to_sid(credutl_gid_t gid, credutl_sid_t *sid_out) {
  make_unix_sid(gid, CREDUTL_SID_UNIX_GID, sid_out);
}

credutl_uid_t credutl_sid_to_unix_uid(const credutl_sid_t *sid) {
  return unix_sid_id(sid, CREDUTL_SID_UNIX_UID);
}

credutl_gid_t credutl_sid_to_unix_gid(const credutl_sid_t *sid) {
  return unix_sid_id(sid, CREDUTL_SID_UNIX_GID);
}

void credutl_nt_sid_to_sid(const void *nt_sid, credutl_sid_t *sid_out) {
  const auto *nt = static_cast<const nt_sid_t *>(nt_sid);
  KSI_CREDUTL_ASSERT(nt_sid_is_valid(nt), "nt_sid_is_valid(nt_sid)");
  std::memset(sid_out, 0, sizeof *sid_out);
  size_t sidlen = nt_sid_length(nt);
  if (sidlen > CREDUTL_SID_DATA_SIZE) {
    if (ksi_trace_on(kKsiCredutlSubsys, 2)) {
      char text[NT_SID_STRING_MAX];
      imsg_print(IMSG_TRACE, &ksi_credutl_msgs, KSI_CREDUTL_SID_WONT_FIT,
                 nt_sid_to_str(nt, text, sizeof text));
    }
    *sid_out = CREDUTL_SID_NOBODY;
    return;
  }
  sid_out->length = static_cast<signed char>(sidlen + 2);
  sid_out->type = CREDUTL_SID_TYPE_NT;
  const auto *bytes = static_cast<const unsigned char *>(nt_sid);
  std::memcpy(sid_out->data, bytes, kNtHeader);  // revision, count, authority
  // The binary form keeps each sub-authority little-endian after the
  // header; the record keeps it big-endian. Read in place: this runs for
  // every group of every cracked credential.
  for (size_t i = kNtHeader; i < sidlen; i += 4) {
    const unsigned char *le = bytes + i;
    put_be32(sid_out->data + i, static_cast<uint32_t>(le[0]) |
                                    static_cast<uint32_t>(le[1]) << 8 |
                                    static_cast<uint32_t>(le[2]) << 16 |
                                    static_cast<uint32_t>(le[3]) << 24);
  }
}

void credutl_sid_to_nt_sid(const credutl_sid_t *sid, size_t size,
                           void *nt_out) {
  std::memset(nt_out, 0, size);
  if (sid->type == CREDUTL_SID_TYPE_NOBODY ||
      sid->type == CREDUTL_SID_TYPE_DONTCARE) {
    const nt_sid_t *stand_in = nt_get_enum_sid(NT_ENUM_SID_NOBODY);
    KSI_CREDUTL_ASSERT(stand_in != nullptr, "nobody_sid != NULL");
    copy_nt_sid(stand_in, size, nt_out);
    return;
  }
  KSI_CREDUTL_ASSERT(sid->type == CREDUTL_SID_TYPE_NT,
                     "cred_sidp->type == CREDUTL_SID_TYPE_NT");
  KSI_CREDUTL_ASSERT(CREDUTL_IS_VALID_SID(sid), "CREDUTL_IS_VALID_SID(sidp)");
  unsigned char revision = sid->data[0];
  unsigned count = sid->data[1];
  uint64_t authority = 0;
  for (size_t k = 2; k < kNtHeader; ++k)
    authority = authority << 8 | sid->data[k];
  uint32_t subs[CREDUTL_SID_DATA_SIZE / 4];
  for (unsigned k = 0; k < count; ++k)
    subs[k] = get_be32(sid->data + kNtHeader + 4 * k);
  nt_sid_t *built = nt_sid_alloc_from(authority, count, subs);
  KSI_CREDUTL_ASSERT(built != nullptr, "\"!AllocateAndInitializeSid()\" == 0");
  copy_nt_sid(built, size, nt_out);
  const auto *bytes = static_cast<const unsigned char *>(nt_out);
  KSI_CREDUTL_ASSERT(bytes[0] == revision, "isidp->Revision == revision");
  KSI_CREDUTL_ASSERT(nt_sid_is_valid(built), "nt_sid_is_valid(isidp)");
  size_t sidlen = nt_sid_length(built);
  size_t i = static_cast<size_t>(sid->length) - 2;
  KSI_CREDUTL_ASSERT(sidlen == i, "sidlen == i");
  nt_sid_free(built);
}

int credutl_sid_eq(const credutl_sid_t *a, const credutl_sid_t *b) {
  if (a == b) return 1;
  if (a->length != b->length) return 0;
  return std::memcmp(a, b, ksi_sid_span(a)) == 0;
}

uint32_t credutl_sid_hash_fn(const void *key) {
  const auto *sid = static_cast<const credutl_sid_t *>(key);
  auto t = static_cast<signed char>(sid->type);
  if (t < 0 || t > CREDUTL_SID_TYPE_NT) return 0;
  auto h = static_cast<uint32_t>(t);
  if (t <= CREDUTL_SID_TYPE_DONTCARE) return h;
  size_t span = ksi_sid_span(sid);
  for (size_t i = 2; i < span; ++i) {
    auto b = static_cast<uint32_t>(
        static_cast<int32_t>(static_cast<signed char>(sid->data[i - 2])));
    h = h + ((h << 7) ^ b);
  }
  return h;
}

int credutl_sid_keycmp_fn(const void *key_a, const void *key_b) {
  const auto *a = static_cast<const credutl_sid_t *>(key_a);
  const auto *b = static_cast<const credutl_sid_t *>(key_b);
  auto t = static_cast<signed char>(a->type);
  if (t != static_cast<signed char>(b->type) || t < 0) return 0;
  if (t <= CREDUTL_SID_TYPE_DONTCARE) return 1;
  if (t > CREDUTL_SID_TYPE_NT) return 0;
  if (a->length != b->length) return 0;
  return std::memcmp(a, b, ksi_sid_span(a)) == 0;
}

}  // extern "C"
