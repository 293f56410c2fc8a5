// kscompress: compresses files into FILE.ksz, or expands them back, in the
// library's compressed block format, the way gzip is used. Built only on
// liborvexks.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <orvexks/orvexks.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char kUsage[] =
    "Usage: kscompress [-d] [-c] [-k] [-f] [FILE...]\n"
    "\n"
    "Compresses each FILE into FILE.ksz and removes FILE; with -d expands\n"
    "each FILE.ksz back into FILE and removes FILE.ksz.\n"
    "With no FILE, or when FILE is -, reads standard input and writes\n"
    "standard output.\n"
    "-c writes to standard output and keeps the input; -k keeps the input;\n"
    "-f replaces an existing output file, which is otherwise refused, and\n"
    "lets compressed data go to or come from a terminal.\n"
    "Inputs of 4 GiB or more cannot be compressed.\n";
constexpr const char kSuffix[] = ".ksz";
constexpr size_t kSuffixLen = sizeof kSuffix - 1;

struct options {
  bool expand = false, to_stdout = false, keep = false, force = false;
};

// Frees a block from the library on every path.
struct block {
  void *data = nullptr;
  uint64_t len = 0;
  ~block() { stg_free(data); }
};

void fail(const std::string &name, const std::string &what) {
  fprintf(stderr, "kscompress: %s: %s\n", name.c_str(), what.c_str());
}

// Reads fd to its end into *out, room for `expected` bytes made at once;
// more than `limit` bytes is refused.
bool read_all(const std::string &name, int fd, uint64_t expected,
              uint64_t limit, std::vector<unsigned char> *out) {
  constexpr size_t kStep = 1 << 16;
  out->reserve(expected + kStep);
  for (;;) {
    const size_t done = out->size();
    if (done > limit) {
      fail(name, "too large to compress (4 GiB or more)");
      return false;
    }
    out->resize(done + kStep);
    ssize_t n = read(fd, out->data() + done, kStep);
    out->resize(done + (n > 0 ? static_cast<size_t>(n) : 0));
    if (n == 0) return true;
    if (n < 0 && errno != EINTR) {
      fail(name, imsg_strerror(errno));
      return false;
    }
  }
}

// Blocks record their length in 32 bits; compressed input has no limit.
uint64_t input_limit(const options &opt) {
  return opt.expand ? UINT64_MAX : UINT32_MAX;
}

bool write_all(int fd, const void *data, uint64_t len) {
  const auto *p = static_cast<const unsigned char *>(data);
  while (len > 0) {
    ssize_t n = write(fd, p, len);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    p += n;
    len -= static_cast<uint64_t>(n);
  }
  return true;
}

// Writes the result to `name` with the input's mode and times; a partial
// output is removed.
bool write_output(const std::string &name, const block &result,
                  const struct stat &from, bool force) {
  const int flags = O_WRONLY | O_CREAT | (force ? O_TRUNC : O_EXCL);
  int fd = open(name.c_str(), flags, from.st_mode & 07777);
  if (fd < 0) {
    fail(name, errno == EEXIST ? "already exists (use -f to replace it)"
                               : imsg_strerror(errno));
    return false;
  }
  const struct timespec times[2] = {from.st_atim, from.st_mtim};
  bool ok = write_all(fd, result.data, result.len) &&
            fchmod(fd, from.st_mode & 07777) == 0 && fsync(fd) == 0 &&
            futimens(fd, times) == 0;
  int err = ok ? 0 : errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    fail(name, imsg_strerror(err));
    unlink(name.c_str());
  }
  return ok;
}

bool ends_with_suffix(const std::string &name) {
  return name.size() > kSuffixLen &&
         name.compare(name.size() - kSuffixLen, kSuffixLen, kSuffix) == 0;
}

// Compresses or expands `in` into *result; a failure is reported under
// `name`, followed by `outcome`.
bool transform(const std::string &name, const std::vector<unsigned char> &in,
               const options &opt, const char *outcome, block *result) {
  result->data = opt.expand
                     ? compress_uncompress(in.size(), in.data(), &result->len)
                     : compress_compress(in.size(), in.data(), &result->len);
  if (result->data != nullptr) return true;
  fail(name,
       std::string(opt.expand ? "damaged compressed data" : "out of memory") +
           outcome);
  return false;
}

bool write_stdout(const block &result) {
  if (write_all(STDOUT_FILENO, result.data, result.len)) return true;
  fail("stdout", imsg_strerror(errno));
  return false;
}

// Standard input to standard output, as a filter. Like gzip, compressed
// data is neither written to nor read from a terminal unless forced.
bool filter(const options &opt) {
  if (!opt.force && opt.expand && isatty(STDIN_FILENO)) {
    fail("stdin", "compressed data not read from a terminal (use -f)");
    return false;
  }
  if (!opt.force && !opt.expand && isatty(STDOUT_FILENO)) {
    fail("stdout", "compressed data not written to a terminal (use -f)");
    return false;
  }
  std::vector<unsigned char> in;
  block result;
  return read_all("stdin", STDIN_FILENO, 0, input_limit(opt), &in) &&
         transform("stdin", in, opt, "", &result) && write_stdout(result);
}

bool process(const std::string &name, const options &opt) {
  if (name == "-") return filter(opt);
  if (opt.expand && !ends_with_suffix(name)) {
    fail(name, "unknown suffix -- ignored");
    return false;
  }
  if (!opt.expand && ends_with_suffix(name)) {
    fail(name, "already has the .ksz suffix -- unchanged");
    return false;
  }
  int fd = open(name.c_str(), O_RDONLY);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) {
    fail(name, imsg_strerror(errno));
    if (fd >= 0) close(fd);
    return false;
  }
  std::vector<unsigned char> in;
  bool ok = true;
  if (!S_ISREG(st.st_mode)) {
    fail(name, "not a regular file -- ignored");
    ok = false;
  } else if (static_cast<uint64_t>(st.st_size) > input_limit(opt)) {
    fail(name, "too large to compress (4 GiB or more)");
    ok = false;
  } else {
    ok = read_all(name, fd, static_cast<uint64_t>(st.st_size), input_limit(opt),
                  &in);
  }
  close(fd);
  if (!ok) return false;

  block result;
  if (!transform(name, in, opt, " -- unchanged", &result)) return false;
  if (opt.to_stdout) return write_stdout(result);
  const std::string out =
      opt.expand ? name.substr(0, name.size() - kSuffixLen) : name + kSuffix;
  if (!write_output(out, result, st, opt.force)) return false;
  if (!opt.keep && unlink(name.c_str()) != 0) {
    fail(name, imsg_strerror(errno));
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  ks_system_init();
  imsg_set_app_name("kscompress");
  options opt;
  int i = 1;
  for (; i < argc && argv[i][0] == '-' && argv[i][1] != '\0'; i++) {
    if (strcmp(argv[i], "--") == 0) {
      i++;
      break;
    }
    if (strcmp(argv[i], "--help") == 0) {
      fputs(kUsage, stdout);
      return 0;
    }
    for (const char *f = argv[i] + 1; *f != '\0'; f++) {
      switch (*f) {
        case 'd':
          opt.expand = true;
          break;
        case 'c':
          opt.to_stdout = true;
          break;
        case 'k':
          opt.keep = true;
          break;
        case 'f':
          opt.force = true;
          break;
        default:
          fprintf(stderr, "kscompress: unknown option -%c\n", *f);
          fputs(kUsage, stderr);
          return 2;
      }
    }
  }
  if (i == argc) return filter(opt) ? 0 : 1;
  int rc = 0;
  for (; i < argc; i++)
    if (!process(argv[i], opt)) rc = 1;
  return rc;
}
