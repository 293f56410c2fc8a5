// Descriptors handed to callers, and dropping the Network deny entry that
// keeps clients on other hosts from writing.
#include <orvexks/imsg.h>
#include <orvexks/server.h>

#include <orvexnt/nt_accounts.h>
#include <orvexnt/nt_security.h>

#include <cerrno>

#include "protect/server_id_nt_msgs.h"
#include "protect/server_internal.h"
#include "protect/server_sd_edit.h"

namespace {

constexpr int kNullArgument = 87;

bool keep_unless_network_denied(void *, nt_ace_info_t *ace) {
  const nt_sid_t *network = nt_get_enum_sid(NT_ENUM_SID_NETWORK);
  return !(ace->type == NT_ACCESS_DENIED_ACE_TYPE && ace->sid != nullptr &&
           network != nullptr && nt_sid_equal(ace->sid, network));
}

}  // namespace

extern "C" {

int server_get_file_sd(const char *path, void **sd_out) {
  if (path == nullptr || sd_out == nullptr) return kNullArgument;
  *sd_out = nullptr;
  ksi_file_sd sd;
  const uint32_t rc = ksi_read_file_sd(path, &sd);
  if (rc != 0) return static_cast<int>(rc);
  *sd_out = sd.bytes;
  return 0;
}

void server_sd_free(void *sd) {
  nt_sd_free(static_cast<nt_security_descriptor_t *>(sd));
}

int server_remove_network_denied_ace(const char *path) {
  if (path == nullptr) return EINVAL;
  const char *failed = nullptr;
  const uint32_t rc = ksi_edit_dacl(path, keep_unless_network_denied, nullptr,
                                    nullptr, nullptr, &failed);
  if (rc == 0) return 0;
  if (ksi_server_tracing())
    imsg_print(IMSG_TRACE, &ksi_server_id_nt_msgs, KSI_SERVER_TRACE_NETWORK_ACE,
               failed, static_cast<int>(rc));
  return ksi_server_errno(rc);
}

}  // extern "C"
