// The current user's login, group and full names, and the conversions
// between account or group names and SIDs in the library's name styles.
#include <orvexks/pfm.h>
#include <orvexks/sysutl.h>

#include <cstdlib>
#include <cstring>

#include "host/sysutl_internal.h"
#include "host/sysutl_msgs.h"
#include "msg/msg_out.h"
#include "thread/tls_impl.h"

namespace {

const char kTraceClass[] = "ks/sysutl";
constexpr int kTraceLevel = 4;

}  // namespace

// Per-thread names of the current user, each kept with what it was computed
// for, and the result buffers of the SID-to-name conversions.
struct ksi_sysutl_tls {
  credutl_sid_t login_sid;
  char *login_name;
  credutl_sid_t group_sid;
  char *group_name;
  char *fullname_login;  // the login name the full name belongs to
  char *fullname;
  char user_buf[SYSUTL_NAME_BUF_SIZE];
  char group_buf[SYSUTL_NAME_BUF_SIZE];
};

namespace {

void sysutl_tls_cleanup(void *record) {
  auto *tls = static_cast<ksi_sysutl_tls *>(record);
  free(tls->login_name);
  free(tls->group_name);
  free(tls->fullname_login);
  free(tls->fullname);
}

ksi_tls_slot_t sysutl_slot =
    KSI_TLS_SLOT_INIT(ksi_sysutl_tls, sysutl_tls_cleanup);

// The thread's record, or null when memory runs out.
ksi_sysutl_tls *sysutl_tls() {
  return ksi_tls_record<ksi_sysutl_tls>(&sysutl_slot);
}

void copy_cut(char *dst, size_t size, const char *src) {
  size_t n = strlen(src);
  if (n >= size) n = size - 1;
  memcpy(dst, src, n);
  dst[n] = '\0';
}

// What follows the first '\' of a qualified name, or the whole name.
const char *short_name(const char *qualified) {
  const char *sep = strchr(qualified, '\\');
  return sep != nullptr ? sep + 1 : qualified;
}

void blanks_to_plus(char *text) {
  for (char *p = text; *p != '\0'; ++p)
    if (*p == ' ') *p = '+';
}

struct name_kind {
  int unknown_msg;    // traced when an NT or UNIX SID has no account
  int qualified_msg;  // traced for a known account
  bool has_full_name;
};

const name_kind kUserNames = {KSI_SYSUTL_UNKNOWN_USER,
                              KSI_SYSUTL_TRACE_QUALIFIED_USER, true};
const name_kind kGroupNames = {KSI_SYSUTL_UNKNOWN_GROUP,
                               KSI_SYSUTL_TRACE_QUALIFIED_GROUP, false};

// The text of a known account's names in a style into buf; the SID's text
// form for a style that does not apply.
void styled_name(const credutl_sid_t *sid, int style, const char *qualified,
                 const char *full_name, const name_kind &kind, char *buf) {
  const char *text = nullptr;
  switch (style) {
    case SYSUTL_NAME_SHORT:
    case SYSUTL_NAME_SHORT_PLUS:
      text = short_name(qualified);
      break;
    case SYSUTL_NAME_CONTEXT:
      text = ksi_sysutl_name_type_context_disabled() ? short_name(qualified)
                                                     : qualified;
      break;
    case SYSUTL_NAME_QUALIFIED:
    case SYSUTL_NAME_QUALIFIED_PLUS:
    case SYSUTL_NAME_QUALIFIED_PLUS_ALT:
      text = qualified;
      break;
    case SYSUTL_NAME_FULL:
      if (kind.has_full_name) text = full_name != nullptr ? full_name : "";
      break;
    default:
      break;
  }
  if (text == nullptr) {
    credutl_sid_to_str(sid, buf);
  } else {
    copy_cut(buf, SYSUTL_NAME_BUF_SIZE, text);
    if (style >= SYSUTL_NAME_SHORT_PLUS) blanks_to_plus(buf);
  }
  if (ksi_trace_on(kTraceClass, kTraceLevel))
    imsg_print(IMSG_TRACE, &ksi_sysutl_msgs, kind.qualified_msg, qualified,
               buf);
}

// The common part of the SID-to-name conversions: lookup gives the
// qualified name and full name of sid's account, or false.
template <typename Lookup>
const char *sid_to_name(const credutl_sid_t *sid, int style, int *found_out,
                        const name_kind &kind, char *buf, Lookup lookup) {
  if (found_out != nullptr) *found_out = 0;
  const char *qualified = nullptr;
  const char *full_name = nullptr;
  bool account_type =
      sid->type == CREDUTL_SID_TYPE_UNIX || sid->type == CREDUTL_SID_TYPE_NT;
  if (!account_type || !lookup(sid, &qualified, &full_name)) {
    credutl_sid_to_str(sid, buf);
    if (account_type && ksi_trace_on(kTraceClass, kTraceLevel))
      imsg_print(IMSG_TRACE, &ksi_sysutl_msgs, kind.unknown_msg, buf);
    return buf;
  }
  if (found_out != nullptr) *found_out = 1;
  styled_name(sid, style, qualified, full_name, kind, buf);
  return buf;
}

bool user_lookup(const credutl_sid_t *sid, const char **qualified,
                 const char **full_name) {
  credutl_passwd_sid_t *pw = credutl_getpwsid(sid);
  if (pw == nullptr || pw->user.name == nullptr) return false;
  *qualified = pw->user.name;
  *full_name = pw->gecos;
  return true;
}

bool group_lookup(const credutl_sid_t *sid, const char **qualified,
                  const char **) {
  credutl_group_sid_t *gr = credutl_getgrsid(sid);
  if (gr == nullptr || gr->name == nullptr) return false;
  *qualified = gr->name;
  return true;
}

// Replaces *slot with a copy of text, with raises held off so that the
// kept pointer is never left dangling. False when memory runs out.
bool keep_copy(char **slot, const char *text) {
  char *copy = strdup(text);
  if (copy == nullptr) return false;
  pfm_inhibit();
  free(*slot);
  *slot = copy;
  pfm_enable();
  return true;
}

// A SID text names that SID; otherwise lookup gives the named record's SID.
template <typename Lookup>
int name_to_sid(const char *name, int quiet, credutl_sid_t *sid_out,
                int unknown_msg, Lookup lookup) {
  credutl_sid_t parsed;
  if (credutl_str_to_sid(name, &parsed) == 0) {
    *sid_out = parsed;
    return 0;
  }
  const credutl_sid_t *found = lookup(name);
  if (found == nullptr) {
    if (quiet == 0) imsg_print(IMSG_ERROR, &ksi_sysutl_msgs, unknown_msg, name);
    return 2;
  }
  *sid_out = *found;
  return 0;
}

}  // namespace

extern "C" {

void sysutl_myusid(credutl_sid_t *out) { *out = *credutl_getusid(); }

void sysutl_mygsid(credutl_sid_t *out) { *out = *credutl_getgsid(); }

const char *sysutl_usid_to_user(const credutl_sid_t *sid, int style,
                                int *found_out) {
  ksi_sysutl_tls *tls = sysutl_tls();
  if (tls == nullptr) return nullptr;
  return sid_to_name(sid, style, found_out, kUserNames, tls->user_buf,
                     user_lookup);
}

const char *sysutl_gsid_to_group(const credutl_sid_t *sid, int style,
                                 int *found_out) {
  ksi_sysutl_tls *tls = sysutl_tls();
  if (tls == nullptr) return nullptr;
  return sid_to_name(sid, style, found_out, kGroupNames, tls->group_buf,
                     group_lookup);
}

const char *sysutl_myloginname(void) {
  ksi_sysutl_tls *tls = sysutl_tls();
  if (tls == nullptr) return nullptr;
  credutl_sid_t sid = *credutl_getusid();
  if (tls->login_name != nullptr && credutl_sid_eq(&sid, &tls->login_sid))
    return tls->login_name;
  const char *name = sysutl_usid_to_user(&sid, SYSUTL_NAME_SHORT, nullptr);
  if (!keep_copy(&tls->login_name, name)) return name;
  tls->login_sid = sid;
  return tls->login_name;
}

const char *sysutl_mygroupname(void) {
  ksi_sysutl_tls *tls = sysutl_tls();
  if (tls == nullptr) return nullptr;
  credutl_sid_t sid = *credutl_getgsid();
  if (tls->group_name != nullptr && credutl_sid_eq(&sid, &tls->group_sid))
    return tls->group_name;
  const char *name = sysutl_gsid_to_group(&sid, SYSUTL_NAME_SHORT, nullptr);
  if (!keep_copy(&tls->group_name, name)) return name;
  tls->group_sid = sid;
  return tls->group_name;
}

const char *sysutl_myfullname(void) {
  const char *login = sysutl_myloginname();
  ksi_sysutl_tls *tls = sysutl_tls();
  if (login == nullptr || tls == nullptr) return login;
  if (tls->fullname != nullptr && tls->fullname_login != nullptr &&
      strcmp(tls->fullname_login, login) == 0)
    return tls->fullname;
  credutl_passwd_sid_t *pw = credutl_getpwnam(login);
  const char *full =
      pw != nullptr && pw->gecos != nullptr && pw->gecos[0] != '\0' ? pw->gecos
                                                                    : login;
  char *full_copy = strdup(full);
  char *login_copy = strdup(login);
  if (full_copy == nullptr || login_copy == nullptr) {
    free(full_copy);
    free(login_copy);
    return login;
  }
  pfm_inhibit();
  free(tls->fullname);
  free(tls->fullname_login);
  tls->fullname = full_copy;
  tls->fullname_login = login_copy;
  pfm_enable();
  return tls->fullname;
}

int sysutl_user_to_usid(const char *name, int quiet, credutl_sid_t *sid_out) {
  return name_to_sid(name, quiet, sid_out, KSI_SYSUTL_UNKNOWN_USER,
                     [](const char *n) -> const credutl_sid_t * {
                       credutl_passwd_sid_t *pw = credutl_getpwnam(n);
                       return pw != nullptr ? &pw->user.sid : nullptr;
                     });
}

int sysutl_user_to_gsid(const char *name, int quiet, credutl_sid_t *sid_out) {
  return name_to_sid(name, quiet, sid_out, KSI_SYSUTL_UNKNOWN_USER,
                     [](const char *n) -> const credutl_sid_t * {
                       credutl_passwd_sid_t *pw = credutl_getpwnam(n);
                       return pw != nullptr ? &pw->group.sid : nullptr;
                     });
}

int sysutl_group_to_gsid(const char *name, int quiet, credutl_sid_t *sid_out) {
  return name_to_sid(name, quiet, sid_out, KSI_SYSUTL_UNKNOWN_GROUP,
                     [](const char *n) -> const credutl_sid_t * {
                       credutl_group_sid_t *gr = credutl_getgrnam(n);
                       return gr != nullptr ? &gr->sid : nullptr;
                     });
}

const char *sysutl_user_to_fullname(const char *name) {
  credutl_passwd_sid_t *pw = credutl_getpwnam(name);
  return pw != nullptr ? pw->gecos : nullptr;
}

int sysutl_get_homedir(const char *name, size_t size, char *out) {
  credutl_passwd_sid_t *pw = credutl_getpwnam(name);
  if (pw == nullptr) return 0;
  if (size > 0) copy_cut(out, size, pw->home != nullptr ? pw->home : "");
  return 1;
}

}  // extern "C"
