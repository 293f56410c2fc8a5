// Fuzzes the flag parser and the quoting rules: the input is split as a
// command text; its words are joined and split again (a join that succeeds
// must split back), and a parsing handle over them is scanned to its end.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <string>

#include <orvexks/clp.h>
#include <orvexks/imsg.h>
#include <orvexks/stg.h>

namespace {

const clp_flag_t kFlags[] = {
    {"-c[omment]", 1, 0},
    {"-r[ecurse]", 2, CLP_MULTIPLE_FLAG},
    {"-R", 2, CLP_ALIAS_FLAG},
    CLP_START_MUTUAL_EXCLUSION,
    {"-x", 3, 0},
    {"-y", 4, CLP_MULTIPLE_FLAG},
    {"-why", 4, CLP_ALIAS_FLAG},
    CLP_END_MUTUAL_EXCLUSION,
    {"-o[ld]", 5, CLP_OBSOLETE_FLAG},
    {"-l[ist]", 6, 0},
    {nullptr, 0, 0},
};

void scan(clp_hdl_t *h) {
  for (int steps = 0; steps < 100000; ++steps) {
    int value = 0;
    const int rc = clp_get_next_flag_value(h, 1, &value);
    char *piece = nullptr;
    if (rc == 0) {
      while (clp_get_next_subarg(h, &piece) == 0) (void)strlen(piece);
      continue;
    }
    char *arg = nullptr;
    if (clp_get_next_arg(h, &arg) == 2)
      return;  // an error or an operand: skip a word
  }
  abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool quiet = (imsg_redirect_output(imsg_discard_writer, nullptr,
                                            imsg_discard_writer, nullptr),
                       true);
  (void)quiet;
  const std::string text(reinterpret_cast<const char *>(data), size);
  stg_area_t area = stg_create_area(4096);
  int argc = 0;
  char **argv = nullptr;
  if (clp_parse_string(text.c_str(), area, &argc, &argv) == 0) {
    char *joined = nullptr;
    if (clp_argv_to_string(argc, argv, area, '^', &joined) == 0) {
      int again_argc = 0;
      char **again = nullptr;
      if (strlen(joined) > 3 * text.size() + 3) abort();
      (void)clp_parse_string(joined, area, &again_argc, &again);
    }
    clp_hdl_t *h = clp_create_hdl_using_argv(argc, argv, kFlags, area);
    if (h == nullptr) abort();
    clp_hdl_t *saved = clp_save_hdl(h);
    scan(h);
    if (saved != nullptr) {
      clp_restore_hdl(h, saved);
      scan(h);
    }
    clp_destroy_hdl(&h);
  }
  stg_delete_area(&area);
  return 0;
}
