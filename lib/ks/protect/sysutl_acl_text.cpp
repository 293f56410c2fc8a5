// The text form of an access list: one line per entry with the account,
// the access mask, a one-letter summary and the tag; a mask without a
// summary is spelled out right by right on the lines that follow.
#include <orvexks/sysutl_acl.h>
#include <orvexnt/nt_accounts.h>
#include <orvexnt/nt_security.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "internal/alloc_fault.h"
#include "protect/sysutl_acl_impl.h"

namespace {

struct Right {
  const char *name;
  uint32_t mask;
};

// In the order the text lists them.
constexpr Right kRights[] = {
    {"STANDARD_RIGHTS_ALL", NT_STANDARD_RIGHTS_ALL},
    {"DELETE", NT_DELETE},
    {"READ_CONTROL", NT_READ_CONTROL},
    {"WRITE_DAC", NT_WRITE_DAC},
    {"WRITE_OWNER", NT_WRITE_OWNER},
    {"SYNCHRONIZE", NT_SYNCHRONIZE},
    {"STANDARD_RIGHTS_REQUIRED", NT_STANDARD_RIGHTS_REQUIRED},
    {"SPECIFIC_RIGHTS_ALL", NT_SPECIFIC_RIGHTS_ALL},
    {"GENERIC_READ", NT_GENERIC_READ},
    {"GENERIC_WRITE", NT_GENERIC_WRITE},
    {"GENERIC_EXECUTE", NT_GENERIC_EXECUTE},
    {"FILE_GENERIC_READ", NT_FILE_GENERIC_READ},
    {"FILE_GENERIC_WRITE", NT_FILE_GENERIC_WRITE},
    {"FILE_GENERIC_EXECUTE", NT_FILE_GENERIC_EXECUTE},
    {"FILE_READ_DATA", NT_FILE_READ_DATA},
    {"FILE_WRITE_DATA", NT_FILE_WRITE_DATA},
    {"FILE_APPEND_DATA", NT_FILE_APPEND_DATA},
    {"FILE_READ_EA", NT_FILE_READ_EA},
    {"FILE_WRITE_EA", NT_FILE_WRITE_EA},
    {"FILE_EXECUTE", NT_FILE_EXECUTE},
    {"FILE_READ_ATTRIBUTES", NT_FILE_READ_ATTRIBUTES},
    {"FILE_WRITE_ATTRIBUTES", NT_FILE_WRITE_ATTRIBUTES},
};

const char *ksi_tag_name(int tag) {
  switch (tag) {
    case SYSUTL_ACL_USER_OBJ:
      return "USER_OBJ";
    case SYSUTL_ACL_USER:
      return "USER";
    case SYSUTL_ACL_GROUP_OBJ:
      return "GROUP_OBJ";
    case SYSUTL_ACL_GROUP:
      return "GROUP";
    case SYSUTL_ACL_OTHER:
      return "OTHER";
    default:
      return nullptr;  // MASK and unset tags have no text
  }
}

const char *ksi_summary(uint32_t mask) {
  if (mask == NT_FILE_ALL_ACCESS || (mask & NT_GENERIC_ALL)) return "F";
  if (mask == 0x1301bf) return "C";
  if (mask == 0x1200a9) return "R";
  return "";
}

// The account of a SID as "DOMAIN\name" (well-known groups by their own
// names), or its SID text when no account has it; written into buf.
void ksi_account(const nt_sid_t *sid, char *buf, size_t size) {
  if (nt_group_sid_t *g = nt_getgrsid_sid(sid)) {
    snprintf(buf, size, "%s", g->gr_name);
    free(g);
  } else if (nt_passwd_sid_t *p = nt_getpwsid_sid(sid)) {
    snprintf(buf, size, "%s", p->pw_name);
    free(p);
  } else if (nt_sid_to_str(sid, buf, size) == nullptr) {
    snprintf(buf, size, "?");
  }
}

// A growing heap text; false once memory ran out.
class Text {
 public:
  Text() = default;
  Text(const Text &) = delete;
  ~Text() { free(buf_); }

  bool printf(const char *fmt, ...) __attribute__((format(printf, 2, 3))) {
    va_list ap;
    va_start(ap, fmt);
    char line[NT_ACCOUNT_NAME_MAX + 64];
    const int n = vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    return n >= 0 && append(line, static_cast<size_t>(n));
  }

  // Hands the text over (at least 16 bytes, so that sysutl_acl_free can
  // look at it safely); null when memory ran out.
  char *release(size_t *len_out) {
    if (!append("", 0)) return nullptr;
    if (len_out != nullptr) *len_out = len_;
    char *t = buf_;
    buf_ = nullptr;
    return t;
  }

 private:
  bool append(const char *s, size_t n) {
    if (len_ + n + 1 > cap_) {
      size_t cap = cap_ ? cap_ * 2 : 256;
      while (cap < len_ + n + 1) cap *= 2;
      auto *grown = static_cast<char *>(nt_realloc(buf_, cap));
      if (grown == nullptr) return false;
      buf_ = grown;
      cap_ = cap;
    }
    memcpy(buf_ + len_, s, n);
    len_ += n;
    buf_[len_] = '\0';
    return true;
  }

  char *buf_ = nullptr;
  size_t len_ = 0, cap_ = 0;
};

}  // namespace

extern "C" {

KS_API int sysutl_acl_to_text(sysutl_acl_t acl_h, size_t *len_out,
                              char **text_out) {
  if (acl_h == nullptr) return 0;
  ksi_acl *acl = ksi_acl_of(acl_h);
  if (acl == nullptr || text_out == nullptr) return EINVAL;
  *text_out = nullptr;
  Text text;
  for (ksi_acl_entry *e = ksi_acl_first(acl); e; e = ksi_acl_next(acl, e)) {
    const char *tag = ksi_tag_name(e->tag);
    if (tag == nullptr || e->sid == nullptr) return EINVAL;
    char account[NT_ACCOUNT_NAME_MAX];
    ksi_account(e->sid, account, sizeof account);
    const char *summary = ksi_summary(e->mask);
    if (!text.printf("%s:(%08x)%s\t%s\r\n", account, e->mask, summary, tag))
      return ENOMEM;
    if (*summary != '\0') continue;
    char fmt[32];
    snprintf(fmt, sizeof fmt, "%%%ds%%s\r\n",
             static_cast<int>(strlen(account)) + 2);
    for (const Right &r : kRights)
      if ((e->mask & r.mask) == r.mask && !text.printf(fmt, "", r.name))
        return ENOMEM;
  }
  *text_out = text.release(len_out);
  return *text_out ? 0 : ENOMEM;
}

}  // extern "C"
