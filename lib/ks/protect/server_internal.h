// Helpers shared by the sources of the server family.
#pragma once

#include <cstddef>
#include <cstdint>

#include <orvexks/credutl.h>
#include <orvexnt/nt_security.h>
#include <orvexnt/nt_sid.h>
#include <sys/stat.h>

#include "msg/msg_out.h"

// The family's traces: class "ks/server", level 1.
inline bool ksi_server_tracing() { return ksi_trace_on("ks/server", 1); }

// Room for a path the family composes.
inline constexpr size_t kKsiServerPathMax = 4096;

// dir + '\' + name into out (kKsiServerPathMax bytes); false when too long.
bool ksi_server_join(const char *dir, const char *name, char *out);

// Credentials whose user and group keep the object's current ones.
credutl_sid_credentials_t ksi_server_dontcare_creds();

// The text of a server_id_nt message without its final newline, for use as
// an insert.
void ksi_server_reason_text(int position, char *buf, size_t size);

// The account name of a SID (a user, else a group), else its text form,
// into out (size bytes).
void ksi_server_sid_name(const credutl_sid_t &sid, char *out, size_t size);

// The errno value of a platform code, never 0 for a failure.
int ksi_server_errno(uint32_t code);
// Reports a descriptor that could not be built for path (naming a missing
// product group first) and returns the errno value of code.
int ksi_server_report_sd_failure(const char *path, uint32_t code);

// The NT form of a SID record (NT, or UNIX through the account mapping)
// into buf (NT_SID_MAX_LENGTH bytes); false when it has none.
bool ksi_server_nt_sid(const credutl_sid_t *sid, uint8_t *buf);

inline const nt_sid_t *ksi_as_sid(const uint8_t *bytes) {
  return reinterpret_cast<const nt_sid_t *>(bytes);
}

// A file's descriptor, read and parsed.
struct ksi_file_sd {
  nt_security_descriptor_t *bytes;
  size_t size;
  nt_sd_info_t info;
};

// Reads and parses path's owner, group and DACL. 0, or the platform code
// (nothing to release then).
uint32_t ksi_read_file_sd(const char *path, ksi_file_sd *out);
void ksi_release_file_sd(ksi_file_sd *sd);

// An object's protections as read from its descriptor.
struct ksi_prot {
  credutl_sid_t owner;
  credutl_sid_t group;
  int mode;    // -1: not of the protection layout
  int reason;  // server_id_nt position of why, when mode is -1
  bool is_dir;
  bool readonly;
};

// Reads path's status, following a final link, printing a failure.
// 0, or an errno value.
int ksi_stat_reported(const char *path, struct stat *st);

// Reads path's protections, printing failures. 0, or an errno value.
int ksi_read_protections(const char *path, ksi_prot *out);

// Writes the parts of sd that what names on path; access denied is retried
// once with the change-owner privileges raised. 0, or the platform code.
uint32_t ksi_set_security(const char *path, uint32_t what,
                          const nt_security_descriptor_t *sd, size_t size);

// Writes a protection-layout descriptor for owner, group and mode on path:
// owner and group (when with_owner) and then the DACL. Access denied is
// retried once with the change-owner privileges. Prints failures; 0, or an
// errno value.
int ksi_write_layout(const char *path, const nt_sid_t *owner,
                     const nt_sid_t *group, int mode, bool is_dir,
                     bool with_owner);

// Removes a file or an empty directory (a link itself). 0, or an errno
// value; prints nothing.
int ksi_remove_object(const char *path);
