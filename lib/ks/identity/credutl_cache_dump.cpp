// The dump of the six account caches, the group-by-SID cache update and
// the login-credential table.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <orvexks/credutl.h>

#include "identity/credutl_cache.h"
#include "identity/credutl_msgs.h"
#include "msg/msg_out.h"

namespace {

// Copies a table's entries (key and value each) so that printing, which
// may be left by a raise, holds no table lock. *count receives the number
// of entries; null with count 0 for an empty or missing table.
unsigned char *snapshot(ksi_cred_table_id id, size_t key_size,
                        size_t value_size, size_t *count) {
  *count = 0;
  ksi_cred_table *t = ksi_cred_table_get(id);
  if (t == nullptr) return nullptr;
  ksi_cred_table_lock(t);
  void *cursor = nullptr;
  const void *key, *value;
  size_t n = 0;
  while (ksi_cred_table_next(t, &cursor, &key, &value)) n++;
  const size_t row = key_size + value_size;
  auto *rows = static_cast<unsigned char *>(n ? malloc(n * row) : nullptr);
  cursor = nullptr;
  for (size_t i = 0; rows != nullptr && i < n; i++) {
    ksi_cred_table_next(t, &cursor, &key, &value);
    memcpy(rows + i * row, key, key_size);
    memcpy(rows + i * row + key_size, value, value_size);
  }
  ksi_cred_table_unlock(t);
  if (rows != nullptr) *count = n;
  return rows;
}

enum KeyForm { kIdForm, kNameForm, kSidForm };

void print_key(KeyForm form, const unsigned char *key) {
  if (form == kIdForm) {
    uint32_t id;
    memcpy(&id, key, 4);
    imsg_print(IMSG_OK, &ksi_credutl_msgs, KSI_CREDUTL_DUMP_ID_KEY,
               static_cast<int>(id), id);
  } else if (form == kNameForm) {
    imsg_print(IMSG_OK, &ksi_credutl_msgs, KSI_CREDUTL_DUMP_TEXT_KEY,
               reinterpret_cast<const char *>(key));
  } else {
    char text[CREDUTL_SID_STR_SIZE];
    credutl_sid_t sid;
    memcpy(&sid, key, sizeof sid);
    imsg_print(IMSG_OK, &ksi_credutl_msgs, KSI_CREDUTL_DUMP_TEXT_KEY,
               credutl_sid_to_str(&sid, text));
  }
}

void print_account(const unsigned char *flat) {
  ksi_account a = {};
  if (!ksi_account_unflatten(flat, &a)) return;
  char user_sid[CREDUTL_SID_STR_SIZE], group_sid[CREDUTL_SID_STR_SIZE];
  imsg_print(IMSG_OK, &ksi_credutl_msgs, KSI_CREDUTL_DUMP_ACCOUNT, a.name,
             static_cast<int>(a.uid), a.uid,
             credutl_sid_to_str(&a.sid, user_sid), a.group_name,
             static_cast<int>(a.gid), a.gid,
             credutl_sid_to_str(&a.group_sid, group_sid), a.gecos, a.home);
  ksi_account_free(&a);
}

void print_group(KeyForm form, const unsigned char *key,
                 const unsigned char *flat) {
  ksi_group g = {};
  if (!ksi_group_unflatten(flat, &g)) return;
  char sid_text[CREDUTL_SID_STR_SIZE];
  credutl_sid_to_str(&g.sid, sid_text);
  if (form == kIdForm) {
    uint32_t id;
    memcpy(&id, key, 4);
    imsg_print(IMSG_OK, &ksi_credutl_msgs, KSI_CREDUTL_DUMP_GROUP_BY_ID,
               static_cast<int>(id), id, g.name, static_cast<int>(g.gid), g.gid,
               sid_text);
  } else {
    char key_text[CREDUTL_SID_STR_SIZE];
    const char *text = reinterpret_cast<const char *>(key);
    if (form == kSidForm) {
      credutl_sid_t sid;
      memcpy(&sid, key, sizeof sid);
      text = credutl_sid_to_str(&sid, key_text);
    }
    imsg_print(IMSG_OK, &ksi_credutl_msgs, KSI_CREDUTL_DUMP_GROUP_BY_TEXT, text,
               g.name, static_cast<int>(g.gid), g.gid, sid_text);
  }
  ksi_group_free(&g);
}

void dump_table(ksi_cred_table_id id, KeyForm form, bool accounts) {
  const size_t key_size = form == kIdForm     ? 4
                          : form == kNameForm ? KSI_CRED_NAME_KEY_SIZE
                                              : sizeof(credutl_sid_t);
  const size_t value_size =
      accounts ? KSI_CRED_PASSWD_SIZE : KSI_CRED_GROUP_SIZE;
  imsg_print(IMSG_OK, &ksi_credutl_msgs, KSI_CREDUTL_DUMP_TABLE_NAME,
             ksi_cred_table_name(id));
  size_t count;
  unsigned char *rows = snapshot(id, key_size, value_size, &count);
  if (count == 0)
    imsg_print(IMSG_OK, &ksi_credutl_msgs, KSI_CREDUTL_DUMP_EMPTY);
  for (size_t i = 0; i < count; i++) {
    const unsigned char *key = rows + i * (key_size + value_size);
    if (accounts) {
      print_key(form, key);
      print_account(key + key_size);
    } else {
      print_group(form, key, key + key_size);
    }
  }
  free(rows);
  imsg_print(IMSG_OK, &ksi_credutl_msgs, KSI_CREDUTL_DUMP_END_OF_TABLE);
}

}  // namespace

extern "C" {

KS_API void ntcreds_update_getgrsid_cache(const credutl_sid_t *sid,
                                          const credutl_group_sid_t *group) {
  if (sid == nullptr || group == nullptr || group->name == nullptr ||
      (sid->type != CREDUTL_SID_TYPE_NT && sid->type != CREDUTL_SID_TYPE_UNIX))
    return;
  const ksi_group g = {group->name, group->gid, group->sid};
  unsigned char flat[KSI_CRED_GROUP_SIZE];
  if (ksi_group_flatten(g, flat))
    ksi_cred_table_enter(ksi_cred_table_get(KSI_CRED_SID_GROUP), sid, flat);
}

KS_API void ntcreds_dump_cache(void) {
  dump_table(KSI_CRED_UID_PASSWD, kIdForm, true);
  dump_table(KSI_CRED_NAME_PASSWD, kNameForm, true);
  dump_table(KSI_CRED_SID_PASSWD, kSidForm, true);
  dump_table(KSI_CRED_GID_GROUP, kIdForm, false);
  dump_table(KSI_CRED_NAME_GROUP, kNameForm, false);
  dump_table(KSI_CRED_SID_GROUP, kSidForm, false);
}

KS_API int ntlogon_cred_add_entry(const void *entry) {
  if (entry == nullptr) return EINVAL;
  return ksi_cred_table_enter(ksi_cred_table_get(KSI_CRED_LOGIN), entry, entry);
}

KS_API int ntlogon_cred_delete_entry(const credutl_sid_t *sid) {
  if (sid == nullptr) return EINVAL;
  return ksi_cred_table_delete(ksi_cred_table_get(KSI_CRED_LOGIN), sid);
}

KS_API void ntlogon_cred_start_scan(void) {
  ksi_cred_table *t = ksi_cred_table_get(KSI_CRED_LOGIN);
  if (t != nullptr) ksi_cred_table_lock(t);
}

KS_API int ntlogon_cred_next_entry(void **cursor, credutl_sid_t *sid_out,
                                   void *entry_out) {
  ksi_cred_table *t = ksi_cred_table_get(KSI_CRED_LOGIN);
  const void *key, *value;
  if (t == nullptr || cursor == nullptr ||
      !ksi_cred_table_next(t, cursor, &key, &value))
    return 0;
  if (sid_out != nullptr) memcpy(sid_out, key, sizeof *sid_out);
  if (entry_out != nullptr) memcpy(entry_out, value, NTLOGON_CRED_ENTRY_SIZE);
  return 1;
}

KS_API void ntlogon_cred_end_scan(void) {
  ksi_cred_table *t = ksi_cred_table_get(KSI_CRED_LOGIN);
  if (t != nullptr) ksi_cred_table_unlock(t);
}

}  // extern "C"
