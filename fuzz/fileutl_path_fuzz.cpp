// Fuzzes the textual path-name routines with arbitrary bytes and buffers of
// every size: the normaliser, absolute and relative conversion, and the
// splitters. Results must fit their buffers, and normalising is idempotent.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <string>
#include <vector>

#include <orvexks/fileutl.h>

namespace {

// A buffer of exactly size bytes, so that an overrun reaches the sanitizer.
struct Bounded {
  explicit Bounded(size_t size) : bytes(size > 0 ? size : 1) {}
  char *data() { return bytes.data(); }
  std::vector<char> bytes;
};

void check_fits(const char *result, Bounded &buf, size_t size) {
  if (result != nullptr && strlen(result) >= (size > 0 ? size : 1)) abort();
  (void)buf;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  const size_t bound = data[0];  // the buffer size to try
  const std::string input(reinterpret_cast<const char *>(data) + 1, size - 1);
  const size_t split_at = input.find('\n');
  const std::string path(input.substr(0, split_at).c_str());
  const std::string base(
      split_at == std::string::npos ? "" : input.substr(split_at + 1).c_str());

  Bounded out(bound);
  char *r = fileutl_remove_embedded_dots(path.c_str(), out.data(), bound);
  check_fits(r, out, bound);
  if (r != nullptr) {
    std::string once(r);
    std::vector<char> twice(once.size() + 2);
    if (fileutl_remove_embedded_dots(once.c_str(), twice.data(),
                                     twice.size()) == nullptr ||
        once != twice.data())
      abort();
  }
  if (bound > 0) {
    Bounded abs(bound);
    check_fits(
        fileutl_make_abs_pn(abs.data(), bound, path.c_str(), base.c_str()), abs,
        bound);
    Bounded rel(bound);
    check_fits(
        fileutl_make_rel_pn(rel.data(), bound, path.c_str(), base.c_str(),
                            data[0] & 1, data[0] & 2, data[0] % 5),
        rel, bound);
  }
  const size_t half = bound / 2;
  Bounded a(half), b(bound - half);
  if (fileutl_strip_leaf(path.c_str(), half, a.data(), bound - half,
                         b.data()) == 0)
    check_fits(a.data(), a, half), check_fits(b.data(), b, bound - half);
  if (fileutl_strip_suffix(path.c_str(), half, a.data(), bound - half,
                           b.data()) == 0)
    check_fits(a.data(), a, half), check_fits(b.data(), b, bound - half);
  if (fileutl_strip_hostname(path.c_str(), half, a.data(), bound - half,
                             b.data()) == 0)
    check_fits(a.data(), a, half), check_fits(b.data(), b, bound - half);
  if (fileutl_is_abspn(path.c_str()) &&
      fileutl_root_split(path.c_str(), a.data(), half, b.data(),
                         bound - half) == 0)
    check_fits(a.data(), a, half), check_fits(b.data(), b, bound - half);
  char *copy = strdup(path.c_str());
  fileutl_strip_pname_sep(copy);
  free(copy);
  (void)fileutl_is_unc_pn(path.c_str());
  (void)fileutl_is_root_pn(path.c_str());
  (void)fileutl_is_drive_style(path.c_str());
  (void)fileutl_pname_equal_or_parent(path.c_str(), base.c_str());
  (void)fileutl_match_trailing_sep(path.c_str());
  (void)fileutl_ends_with_slash_dot(path.c_str(), -1);
  (void)fileutl_hostnames_equal(path.c_str(), base.c_str());
  return 0;
}
