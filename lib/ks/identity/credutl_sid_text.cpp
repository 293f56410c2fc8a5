// Text forms of the SID record:
//
//   NOBODY, DONTCARE            the placeholders
//   UNIX:UID-<id>, UNIX:GID-<id> UNIX SIDs, the id as signed decimal
//   NT:S-1-...                  NT SIDs in the platform's notation
//   SID:<type>.<hex>            any record, byte for byte (the raw form)
//
// Every record has a text of at most 184 characters, and each text parses
// back to the record it came from.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <orvexnt/nt_sid.h>

#include "identity/credutl_internal.h"

namespace {

constexpr size_t kTextMax = CREDUTL_SID_STR_SIZE - 1;  // 184 characters
// The raw form's hex text is at most 64 characters (32 data bytes), well
// inside the 182 that the text's size leaves for it.
static_assert(4 + 3 + 1 + 2 * CREDUTL_SID_DATA_SIZE < kTextMax);

bool has_prefix(const char *s, const char *prefix) {
  return std::strncmp(s, prefix, std::strlen(prefix)) == 0;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "UNIX:" has been seen; rest is "UID-<id>" or "GID-<id>". The id is a
// decimal number that may carry a sign, so the reserved ids read as -2 and
// -1 as well as in their unsigned form.
int parse_unix(const char *rest, credutl_sid_t *sid_out) {
  unsigned char kind;
  if (std::strncmp(rest, "UID-", 4) == 0)
    kind = CREDUTL_SID_UNIX_UID;
  else if (std::strncmp(rest, "GID-", 4) == 0)
    kind = CREDUTL_SID_UNIX_GID;
  else
    return 1;
  const char *digits = rest + 4;
  const char *first_digit = digits + (*digits == '-' || *digits == '+');
  if (!std::isdigit(static_cast<unsigned char>(*first_digit))) return 1;
  char *end;
  errno = 0;
  long long id = std::strtoll(digits, &end, 10);
  if (errno != 0 || *end != '\0' || id < INT32_MIN || id > UINT32_MAX) return 1;
  if (kind == CREDUTL_SID_UNIX_UID)
    credutl_unix_uid_to_sid(static_cast<credutl_uid_t>(id), sid_out);
  else
    credutl_unix_gid_to_sid(static_cast<credutl_gid_t>(id), sid_out);
  return 0;
}

int parse_nt(const char *rest, credutl_sid_t *sid_out) {
  nt_sid_t *nt = nt_str_to_sid(rest);
  if (nt == nullptr) return 1;
  credutl_nt_sid_to_sid(nt, sid_out);
  nt_sid_free(nt);
  return 0;
}

// "SID:" has been seen at the start of text: "<type>.<hex pairs>". Bytes
// are taken while two hex digits follow, up to the record's 32 data bytes
// and never past character 184 of the text.
int parse_raw(const char *text, credutl_sid_t *sid_out) {
  const char *type_text = text + 4;
  char *end;
  errno = 0;
  long type = std::strtol(type_text, &end, 10);
  if (end == type_text || errno != 0 || type >= 256) return 1;
  std::memset(sid_out, 0, sizeof *sid_out);
  sid_out->type = static_cast<unsigned char>(type);
  sid_out->length = 2;
  const char *dot = std::strchr(type_text, '.');
  if (dot == nullptr) return 1;
  const char *p = dot + 1;
  for (size_t n = 0; n < CREDUTL_SID_DATA_SIZE; ++n, p += 2) {
    if (static_cast<size_t>(p - text) + 2 > kTextMax) break;
    int hi = hex_value(p[0]);
    int lo = hi < 0 ? -1 : hex_value(p[1]);
    if (lo < 0) break;
    sid_out->data[n] = static_cast<unsigned char>(hi << 4 | lo);
    sid_out->length++;
  }
  return 0;
}

}  // namespace

extern "C" {

char *credutl_sid_to_str_raw(const credutl_sid_t *sid, char *buf) {
  int len = std::snprintf(buf, CREDUTL_SID_STR_SIZE, "SID:%d.", sid->type);
  size_t pos = static_cast<size_t>(len);
  size_t span = ksi_sid_span(sid);
  for (size_t i = 2; i < span; ++i) {
    std::snprintf(buf + pos, 3, "%02x", sid->data[i - 2]);
    pos += 2;
  }
  buf[pos] = '\0';
  return buf;
}

char *credutl_sid_to_str(const credutl_sid_t *sid, char *buf) {
  switch (sid->type) {
    case CREDUTL_SID_TYPE_NOBODY:
      std::strcpy(buf, "NOBODY");
      return buf;
    case CREDUTL_SID_TYPE_DONTCARE:
      std::strcpy(buf, "DONTCARE");
      return buf;
    case CREDUTL_SID_TYPE_UNIX:
      if (sid->length == CREDUTL_SID_UNIX_LENGTH) {
        unsigned char type = sid->data[4];
        KSI_CREDUTL_ASSERT(
            type == CREDUTL_SID_UNIX_UID || type == CREDUTL_SID_UNIX_GID,
            "type == CREDUTL_SID_UNIX_UID || type == CREDUTL_SID_UNIX_GID");
        bool is_uid = type == CREDUTL_SID_UNIX_UID;
        int32_t id =
            static_cast<int32_t>(is_uid ? credutl_sid_to_unix_uid(sid)
                                        : credutl_sid_to_unix_gid(sid));
        std::snprintf(buf, CREDUTL_SID_STR_SIZE, "%s%s-%d",
                      "UNIX:", is_uid ? "UID" : "GID", id);
        return buf;
      }
      break;
    case CREDUTL_SID_TYPE_NT: {
      // A damaged NT record (say, one parsed from a raw text) has no NT
      // form; it is shown raw rather than stopping the process.
      if (!ksi_sid_has_nt_form(sid)) break;
      unsigned char nt[CREDUTL_NT_SID_BUF_SIZE];
      credutl_sid_to_nt_sid(sid, sizeof nt, nt);
      std::strcpy(buf, "NT:");
      nt_sid_to_str(reinterpret_cast<const nt_sid_t *>(nt), buf + 3,
                    CREDUTL_SID_STR_SIZE - 3);
      return buf;
    }
    default:
      break;
  }
  return credutl_sid_to_str_raw(sid, buf);
}

int credutl_str_to_sid(const char *str, credutl_sid_t *sid_out) {
  if (std::strcmp(str, "NOBODY") == 0) {
    *sid_out = CREDUTL_SID_NOBODY;
    return 0;
  }
  if (std::strcmp(str, "DONTCARE") == 0) {
    *sid_out = CREDUTL_SID_DONTCARE;
    return 0;
  }
  if (has_prefix(str, "UNIX:")) return parse_unix(str + 5, sid_out);
  if (has_prefix(str, "NT:")) return parse_nt(str + 3, sid_out);
  if (has_prefix(str, "SID:")) return parse_raw(str, sid_out);
  return 1;
}

}  // extern "C"
