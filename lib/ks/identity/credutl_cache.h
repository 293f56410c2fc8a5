// The account caches: six keyed tables of flattened account and group
// records and the login-credential table, each created on first use.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <orvexks/credutl.h>

enum ksi_cred_table_id {
  KSI_CRED_UID_PASSWD,   // uid -> account
  KSI_CRED_NAME_PASSWD,  // user name -> account
  KSI_CRED_SID_PASSWD,   // SID -> account
  KSI_CRED_GID_GROUP,    // gid -> group
  KSI_CRED_NAME_GROUP,   // group name -> group
  KSI_CRED_SID_GROUP,    // SID -> group
  KSI_CRED_LOGIN,        // SID -> login credential entry
  KSI_CRED_TABLE_COUNT
};

// Key and value sizes of the tables.
constexpr size_t KSI_CRED_NAME_KEY_SIZE = 257;
constexpr size_t KSI_CRED_PASSWD_SIZE = 1036;
constexpr size_t KSI_CRED_GROUP_SIZE = 364;

struct ksi_cred_table;

// The table, created on first use; null when it could not be created (the
// caller then goes to the account database every time).
ksi_cred_table *ksi_cred_table_get(ksi_cred_table_id id);

// The table's name as the dump prints it.
const char *ksi_cred_table_name(ksi_cred_table_id id);

// Copies the value under key into value_out; false when absent. Name keys
// are NUL-terminated names, compared without regard to case.
bool ksi_cred_table_lookup(ksi_cred_table *t, const void *key, void *value_out);

// Enters value under key, replacing an earlier value. 0 or ENOMEM.
int ksi_cred_table_enter(ksi_cred_table *t, const void *key, const void *value);

// Removes the entry under key: 0, or ENOENT when there is none.
int ksi_cred_table_delete(ksi_cred_table *t, const void *key);

// Holds the table's (recursive) lock across a walk.
void ksi_cred_table_lock(ksi_cred_table *t);
void ksi_cred_table_unlock(ksi_cred_table *t);

// The entry after *cursor (null to start), with the lock held: true with
// *key and *value pointing into the table and *cursor advanced; false at
// the end.
bool ksi_cred_table_next(ksi_cred_table *t, void **cursor, const void **key,
                         const void **value);

// A lookup result with its own heap strings.
struct ksi_account {
  char *name;
  credutl_uid_t uid;
  credutl_sid_t sid;
  char *group_name;
  credutl_gid_t gid;
  credutl_sid_t group_sid;
  char *gecos;
  char *home;
};
struct ksi_group {
  char *name;
  credutl_gid_t gid;
  credutl_sid_t sid;
};

void ksi_account_free(ksi_account *a);
void ksi_group_free(ksi_group *g);

// Flattened forms (the cache values). Flattening fails (false) when a
// string is too long for its field; unflattening fails only when memory
// runs out.
bool ksi_account_flatten(const ksi_account &a, unsigned char *out);
bool ksi_account_unflatten(const unsigned char *in, ksi_account *a);
bool ksi_group_flatten(const ksi_group &g, unsigned char *out);
bool ksi_group_unflatten(const unsigned char *in, ksi_group *g);
