// The descriptor of a storage directory's "groups.sd": the recorded owner
// and primary group as the descriptor's owner and group, and one allowed
// entry with no rights per supplementary group, in order. An Everyone
// entry carries the file's own protection (read-only, or writable to let
// groups be added); entries for Everyone, Creator Owner and the product
// group, and inherit-only entries, are no recorded groups.
#pragma once

#include <cstddef>
#include <cstdint>

#include <orvexks/credutl.h>
#include <orvexnt/nt_security.h>

// Rights of the Everyone entry.
inline constexpr uint32_t kKsiGroupsReadOnly = NT_FILE_GENERIC_READ;
inline constexpr uint32_t kKsiGroupsWritable =
    NT_FILE_GENERIC_READ | NT_FILE_GENERIC_WRITE;

// What a "groups.sd" descriptor records.
struct ksi_groups_record {
  credutl_sid_credentials_t ids;  // user, group and at most 32 groups
  uint32_t everyone_mask;         // the Everyone entry's rights (0: none)
};

// Reads a descriptor's bytes. 0; a platform code when they do not parse;
// NT_ERROR_INVALID_ACL when the owner, the group or the DACL is missing.
uint32_t ksi_groups_decode(const void *bytes, size_t size,
                           ksi_groups_record *out);

// Builds the descriptor of a record (heap bytes, nt_sd_free). 0, or the
// platform code.
uint32_t ksi_groups_encode(const ksi_groups_record &record,
                           nt_security_descriptor_t **sd_out, size_t *size_out);
