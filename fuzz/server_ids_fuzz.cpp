// Fuzzes the readers of the descriptors a storage directory keeps: the
// supplementary-group record of "groups.sd" and the protection layout of
// "identity.sd". Any bytes must decode or be refused; a decoded group
// record must stay within 32 groups and survive writing and reading back;
// a recognised layout must give nine mode bits and both identities.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include <orvexnt/nt_security.h>

#include "protect/server_ids_codec.h"
#include "protect/server_layout.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  // The host group "root" stands in for the product group, so that layouts
  // can be recognised at all.
  char path[] = "/tmp/server_ids_fuzz_XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return 0;
  FILE *f = fdopen(fd, "w");
  fputs("[accounts]\nproduct_group=root\n", f);
  fclose(f);
  setenv("ORVEX_REGISTRY", path, 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  ksi_groups_record record;
  if (ksi_groups_decode(data, size, &record) == 0) {
    if (record.ids.ngroups < 0 || record.ids.ngroups > CREDUTL_MAX_GROUPS)
      abort();
    nt_security_descriptor_t *sd = nullptr;
    size_t len = 0;
    if (ksi_groups_encode(record, &sd, &len) == 0) {
      ksi_groups_record again;
      if (ksi_groups_decode(sd, len, &again) != 0 ||
          again.ids.ngroups != record.ids.ngroups ||
          memcmp(again.ids.groups, record.ids.groups,
                 sizeof record.ids.groups[0] * record.ids.ngroups) != 0)
        abort();
      nt_sd_free(sd);
    }
  }
  nt_sd_info_t info;
  if (nt_sd_parse(data, size, &info) != 0 || info.dacl == nullptr) return 0;
  for (bool is_dir : {false, true}) {
    const ksi_layout layout = ksi_recognise_layout(info.dacl, is_dir);
    if (layout.mode < -1 || layout.mode > 0777) abort();
    if (layout.mode >= 0 &&
        (layout.owner == nullptr || layout.group == nullptr))
      abort();
    if (layout.mode < 0 && layout.reason == 0) abort();
  }
  return 0;
}
