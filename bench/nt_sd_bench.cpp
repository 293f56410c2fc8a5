// Reading a file's security descriptor against the bare system calls that
// any reader of the stored attribute makes: stat and getxattr into a
// buffer. The difference is the layer's own work: checking the attribute
// against the mode, parsing it and handing out a copy.
#include <benchmark/benchmark.h>

#include "ratio_report.h"

#include <orvexnt/nt_accounts.h>
#include <orvexnt/nt_security.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <string>

namespace {

// A file with a descriptor in the order of the protection layout: the
// group, Everyone, the owner.
class DescribedFile {
 public:
  DescribedFile() {
    char tmpl[] = "/tmp/nt_sd_benchXXXXXX";
    const int fd = mkstemp(tmpl);
    if (fd >= 0) close(fd);
    path_ = tmpl;
    nt_sid_t *me = nt_get_user_sid();
    nt_sid_t *group = nt_getgroup_sid();
    const nt_ace_info_t aces[] = {
        {NT_ACCESS_ALLOWED_ACE_TYPE, 0, NT_FILE_GENERIC_READ, group},
        {NT_ACCESS_ALLOWED_ACE_TYPE, 0, NT_FILE_GENERIC_READ,
         nt_get_enum_sid(NT_ENUM_SID_EVERYONE)},
        {NT_ACCESS_ALLOWED_ACE_TYPE, 0, NT_FILE_ALL_ACCESS, me}};
    nt_security_descriptor_t *sd = nullptr;
    size_t size = 0;
    if (nt_sd_build(me, group, aces, 3, &sd, &size) == 0)
      nt_set_file_security(path_.c_str(), NT_ALL_SECURITY_INFORMATION, sd,
                           size);
    nt_sd_free(sd);
    nt_sid_free(me);
    nt_sid_free(group);
  }
  ~DescribedFile() { unlink(path_.c_str()); }
  const char *path() const { return path_.c_str(); }

 private:
  std::string path_;
};

void bm_nt_get_file_security(benchmark::State &state) {
  DescribedFile f;
  for (auto _ : state) {
    nt_security_descriptor_t *sd = nullptr;
    size_t size = 0;
    if (nt_get_file_security(f.path(), NT_ALL_SECURITY_INFORMATION, &sd,
                             &size) != 0)
      state.SkipWithError("nt_get_file_security failed");
    benchmark::DoNotOptimize(sd);
    nt_sd_free(sd);
  }
}

void bm_stat_getxattr(benchmark::State &state) {
  DescribedFile f;
  static char buf[NT_SD_MAX_SIZE];
  for (auto _ : state) {
    struct stat st;
    stat(f.path(), &st);
    benchmark::DoNotOptimize(
        getxattr(f.path(), NT_SD_XATTR_NAME, buf, sizeof buf));
    benchmark::DoNotOptimize(st.st_mode);
  }
}

}  // namespace

BENCHMARK(bm_nt_get_file_security);
BENCHMARK(bm_stat_getxattr);

int main(int argc, char **argv) {
  return run_with_ratios(argc, argv,
                         {{"bm_nt_get_file_security", "bm_stat_getxattr"}});
}
