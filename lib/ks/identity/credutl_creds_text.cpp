// Credentials as one line of text, for traces and diagnostics:
//
//   UID: <user> GID: <group> Groups: <g1> <g2> ...
//
// The SID forms fit the caller's buffer; when the list does not fit the
// text ends in a '+' so that a reader sees it was cut.
#include <cstdio>
#include <cstring>

#include "identity/credutl_internal.h"

namespace {

constexpr size_t kSidCredentialsTextSize = 1024;

// Appends text at buf + *len when it and the terminator fit size bytes.
bool append_if_fits(char *buf, size_t size, size_t *len, const char *text) {
  size_t n = std::strlen(text);
  if (*len + n + 1 > size) return false;
  std::memcpy(buf + *len, text, n + 1);
  *len += n;
  return true;
}

// Marks the text as cut: "+ " when two more characters fit, else its last
// character becomes '+'.
void mark_cut(char *buf, size_t size, size_t len) {
  if (len + 3 <= size)
    std::memcpy(buf + len, "+ ", 3);
  else if (len > 0)
    buf[len - 1] = '+';
}

char *sid_credentials_text(const credutl_sid_t *user,
                           const credutl_sid_t *group, size_t ngroups,
                           const credutl_sid_t *groups, size_t size,
                           char *buf) {
  if (size == 0) return buf;
  if (size == 1) {
    buf[0] = '\0';
    return buf;
  }
  char user_text[CREDUTL_SID_STR_SIZE];
  char group_text[CREDUTL_SID_STR_SIZE];
  int head = std::snprintf(buf, size, "UID: %s GID: %s ",
                           credutl_sid_to_str(user, user_text),
                           credutl_sid_to_str(group, group_text));
  size_t len = static_cast<size_t>(head);
  if (len >= size - 1) {
    buf[size - 2] = '+';
    buf[size - 1] = '\0';
    return buf;
  }
  if (ngroups == 0) return buf;
  if (!append_if_fits(buf, size, &len, "Groups: ")) {
    mark_cut(buf, size, len);
    return buf;
  }
  for (size_t i = 0; i < ngroups; ++i) {
    char item[CREDUTL_SID_STR_SIZE + 1];
    credutl_sid_to_str(&groups[i], item);
    std::strcat(item, " ");
    if (!append_if_fits(buf, size, &len, item)) {
      mark_cut(buf, size, len);
      break;
    }
  }
  return buf;
}

}  // namespace

extern "C" {

char *credutl_credentials_to_str(const credutl_credentials_t *c, char *buf) {
  int len = std::sprintf(buf, "UID: %d GID: %d ", static_cast<int>(c->uid),
                         static_cast<int>(c->gid));
  if (c->ngroups >= 1) {
    len += std::sprintf(buf + len, "Groups: ");
    for (int32_t i = 0; i < c->ngroups && i < CREDUTL_MAX_GROUPS; ++i)
      len += std::sprintf(buf + len, "%d ", static_cast<int>(c->groups[i]));
  }
  return buf;
}

char *credutl_sid_credentials_to_str(const credutl_sid_credentials_t *s,
                                     char *buf) {
  size_t n = s->ngroups > 0 ? static_cast<size_t>(s->ngroups) : 0;
  if (n > CREDUTL_MAX_GROUPS) n = CREDUTL_MAX_GROUPS;
  return sid_credentials_text(&s->user, &s->group, n, s->groups,
                              kSidCredentialsTextSize, buf);
}

char *credutl_whole_credentials_to_str(const credutl_whole_credentials_t *w,
                                       size_t size, char *buf) {
  size_t n = w->ngroups > 0 ? static_cast<size_t>(w->ngroups) : 0;
  return sid_credentials_text(&w->user, &w->group, n, w->groups, size, buf);
}

}  // extern "C"
