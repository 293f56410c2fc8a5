// The protection report: expected and actual owner, group and mode, with
// the values that differ marked.
#include "protect/server_check_report.h"

#include <cstring>

#include "protect/server_id_nt_msgs.h"
#include "protect/server_internal.h"

namespace {

struct Names {
  char owner[CREDUTL_CACHE_NAME_SIZE];
  char group[CREDUTL_CACHE_NAME_SIZE];
};

Names names_of(const credutl_sid_t &owner, const credutl_sid_t &group) {
  Names n;
  ksi_server_sid_name(owner, n.owner, sizeof n.owner);
  ksi_server_sid_name(group, n.group, sizeof n.group);
  return n;
}

}  // namespace

int ksi_check_protections(const char *path, const server_fsobj_prot_t *expected,
                          int clear, int *ok, imsg_list_t *list) {
  *ok = 0;
  ksi_prot actual;
  const int err = ksi_read_protections(path, &actual);
  if (err != 0) return err;
  const bool ownership_only = clear == 0 && expected->mode == 0;
  const int relevant = clear == -1 ? 0777 : (clear | expected->mode) & 0777;
  const bool owner_ok = credutl_sid_eq(&actual.owner, &expected->owner) != 0;
  const bool group_ok = credutl_sid_eq(&actual.group, &expected->group) != 0;
  const bool known = actual.mode >= 0;
  const bool mode_ok =
      ownership_only ||
      (known && (actual.mode & relevant) == (expected->mode & relevant));
  // A file is read-only exactly when the mode it should have grants no
  // write.
  const int mode_now = known ? actual.mode : 0;
  const int target = (mode_now & ~relevant) | (expected->mode & relevant);
  const bool wants_readonly = (target & 0222) == 0;
  const bool readonly_ok =
      actual.is_dir || ownership_only || actual.readonly == wants_readonly;
  *ok = owner_ok && group_ok && mode_ok && readonly_ok ? 1 : 0;

  const Names want = names_of(expected->owner, expected->group);
  const Names have = names_of(actual.owner, actual.group);
  const ks_msg_table_t *t = &ksi_server_id_nt_msgs;
  char wrong[32];
  imsg_snprintf(wrong, sizeof wrong, t, KSI_SERVER_REPORT_WRONG);
  auto marker = [&wrong](bool bad) { return bad ? wrong : ""; };
  if (ownership_only) {
    imsg_list_add_msg(list, t, KSI_SERVER_REPORT_EXPECTED_OWNERSHIP);
    imsg_list_add_msg(list, t, KSI_SERVER_REPORT_OWNERSHIP, want.owner, "",
                      want.group, "");
    imsg_list_add_msg(list, t, KSI_SERVER_REPORT_ACTUAL_OWNERSHIP);
    imsg_list_add_msg(list, t, KSI_SERVER_REPORT_OWNERSHIP, have.owner,
                      marker(!owner_ok), have.group, marker(!group_ok));
    return 0;
  }
  imsg_list_add_msg(list, t, KSI_SERVER_REPORT_EXPECTED);
  imsg_list_add_msg(list, t, KSI_SERVER_REPORT_PROTECTIONS, want.owner, "",
                    want.group, "",
                    static_cast<unsigned>(expected->mode & 0777), "");
  imsg_list_add_msg(list, t, KSI_SERVER_REPORT_ACTUAL);
  imsg_list_add_msg(list, t, KSI_SERVER_REPORT_PROTECTIONS, have.owner,
                    marker(!owner_ok), have.group, marker(!group_ok),
                    static_cast<unsigned>(mode_now), marker(!mode_ok));
  if (!readonly_ok)
    imsg_list_add_msg(list, t,
                      wants_readonly ? KSI_SERVER_REPORT_NEEDS_READONLY
                                     : KSI_SERVER_REPORT_NO_READONLY);
  if (!known) {
    char reason[256];
    ksi_server_reason_text(actual.reason, reason, sizeof reason);
    imsg_list_add_msg(list, t, KSI_SERVER_REPORT_UNKNOWN_STYLE, reason);
  }
  return 0;
}

void ksi_finish_report(imsg_list_t *list, char **report_out) {
  if (report_out != nullptr) {
    char *text = imsg_list_get_buf(list, nullptr);
    *report_out = strdup(text != nullptr ? text : "");
  }
  imsg_list_destroy(list);
}
