// Line readers over real files and pipes, search lists and wildcard
// resolution over real directories, pattern and scope lists by table,
// stored spellings and the drive expansion.
#include <gtest/gtest.h>

#include <orvexks/fileutl.h>
#include <orvexks/list.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "filled.h"
#include "scratch_dir.h"

namespace {

class FileutlLines : public ScratchTest {
 protected:
  void spit(const std::string &name, const std::string &content,
            mode_t mode = 0644) const {
    ::spit(path(name), content, mode);
  }
};

// Every piece the backward reader returns for content, read with a buffer
// of size bytes; "+" marks a piece that filled the buffer.
std::vector<std::string> backward(const std::string &content, int size,
                                  long start = -1) {
  FILE *f = tmpfile();
  std::fwrite(content.data(), 1, content.size(), f);
  if (start >= 0) std::fseek(f, start, SEEK_SET);
  fileutl_bw_t *reader = fileutl_bw_start(f, start < 0);
  EXPECT_NE(reader, nullptr);
  std::vector<std::string> pieces;
  std::vector<char> buf(size);
  for (;;) {
    int full = -1, bof = -1;
    const char *line = fileutl_bw_fgets(buf.data(), size, reader, &full, &bof);
    if (line == nullptr) {
      EXPECT_EQ(bof, 1);
      break;
    }
    EXPECT_GE(line, buf.data());
    pieces.push_back(std::string(full ? "+" : "") + line);
  }
  fileutl_bw_stop(reader);
  std::fclose(f);
  return pieces;
}

using Lines = std::vector<std::string>;

TEST(FileutlBackward, LinesFromTheEndWithTheirOwnNewlines) {
  EXPECT_EQ(backward("a\nbb\nccc\n", 64), (Lines{"ccc\n", "bb\n", "a\n"}));
  EXPECT_EQ(backward("a\nbb", 64), (Lines{"bb", "a\n"}));
  EXPECT_EQ(backward("\n\nx\n", 64), (Lines{"x\n", "\n", "\n"}));
  EXPECT_EQ(backward("", 64), Lines{});
  // From the stream's position, not its end.
  EXPECT_EQ(backward("a\nbb\nccc\n", 64, 5), (Lines{"bb\n", "a\n"}));
  // A line that exactly fills the buffer is whole, not full.
  EXPECT_EQ(backward("x\nabc\n", 5), (Lines{"abc\n", "x\n"}));
  EXPECT_EQ(backward("x\nabcd\n", 5), (Lines{"+bcd\n", "a", "x\n"}));
}

TEST(FileutlBackward, LongLinesAcrossWindowsComeInPieces) {
  const std::string longest(10000, 'y');
  const std::string content = "first\n" + longest + "\nlast";
  EXPECT_EQ(backward(content, 4096),
            (Lines{"last", "+" + std::string(4094, 'y') + "\n",
                   "+" + std::string(4095, 'y'),
                   std::string(10000 - 4094 - 4095, 'y'), "first\n"}));
}

TEST(FileutlFgets, LinesTimeoutAndEndOfFileOverAPipe) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  FILE *in = fdopen(fds[0], "r");
  ASSERT_EQ(write(fds[1], "one\ntwo\npart", 12), 12);
  int eof = -1, timeout = -1;
  // The line read; on a failure "<rc errno>" and what was read so far.
  auto next = [&](int msec) {
    char buf[64] = "";
    errno = 0;
    const int rc =
        fileutl_fgets_or_timeout(in, sizeof buf, msec, buf, &eof, &timeout);
    return (rc == 0 ? "" : failure(rc)) + buf;
  };
  EXPECT_EQ(next(1000), "one\n");
  // The second line is already in the stream's buffer: no wait on the pipe.
  EXPECT_EQ(next(0), "two\n");
  EXPECT_EQ(next(50), "<1 ETIMEDOUT>part");
  EXPECT_EQ(timeout, 1);
  ASSERT_EQ(write(fds[1], "end", 3), 3);
  close(fds[1]);
  EXPECT_EQ(next(-1), "end");
  EXPECT_EQ(eof, 0);
  EXPECT_EQ(next(-1), "");
  EXPECT_EQ(eof, 1);
  std::fclose(in);
}

TEST_F(FileutlLines, SearchListsWithExtensionsAndAccessModes) {
  for (const char *d : {"d1", "d2", "d3"}) mkdir(path(d).c_str(), 0755);
  spit("d2/tool.exe", "x", 0755);
  spit("d3/tool", "x", 0644);
  spit("d3/data.txt", "x");
  const std::string dirs = path("d1") + ";;" + path("d2") + "\\;" + path("d3");
  char out[2048];
  int index = -1;
  struct Case {
    const char *name;
    int start, mode;
    const char *exts;
    int result, index;
    std::string found;
  } cases[] = {
      {"tool", 0, X_OK, ".com;.exe", 0, 2, path("d2") + "\\tool.exe"},
      {"tool", 0, F_OK, ";.exe", 0, 2, path("d2") + "\\tool.exe"},
      {"tool", 3, F_OK, ".exe", 0, 3, path("d3") + "\\tool"},
      {"tool", 3, X_OK, ".exe", 2, -1, ""},
      {"data", 0, R_OK, ".bin;.txt", 0, 3, path("d3") + "\\data.txt"},
      {"none", 0, F_OK, ".exe", 2, -1, ""},
  };
  for (const Case &c : cases) {
    index = -1;
    EXPECT_EQ(fileutl_resolve_pathname_index_with_ext(dirs.c_str(), c.name,
                                                      c.start, c.mode, c.exts,
                                                      sizeof out, out, &index),
              c.result)
        << c.name << " from " << c.start;
    if (c.result == 0) {
      EXPECT_EQ(out, c.found);
    }
    EXPECT_EQ(index, c.index) << c.name;
  }
  EXPECT_EQ(
      fileutl_resolve_pathname(dirs.c_str(), "tool", X_OK, sizeof out, out), 2);
  ASSERT_EQ(fileutl_resolve_pathname_by_ext((path("d2") + "/tool").c_str(),
                                            F_OK, ".exe", sizeof out, out),
            0);
  EXPECT_EQ(out, path("d2") + "/tool.exe");
  // Too long: an output that cannot take the hit, a candidate of 1025.
  EXPECT_EQ(fileutl_resolve_pathname_by_ext(path("d3/tool").c_str(), F_OK,
                                            nullptr, 8, out),
            1);
  EXPECT_EQ(errno, ENAMETOOLONG);
  const std::string long_name(1025 - path("d1").size() - 1, 'n');
  EXPECT_EQ(fileutl_resolve_pathname(path("d1").c_str(), long_name.c_str(),
                                     F_OK, sizeof out, out),
            1);
  EXPECT_EQ(errno, ENAMETOOLONG);
}

TEST_F(FileutlLines, PatternsResolveInTheFirstDirectoryWithMatches) {
  for (const char *d : {"empty", "src"}) mkdir(path(d).c_str(), 0755);
  for (const char *f : {"b.c", "a.c", "x.h", ".hidden.c"})
    spit("src/" + std::string(f), "");
  const std::string dirs = path("empty") + ";" + path("src");
  // The names found, each after the index of its directory; or "<rc errno>".
  auto resolve = [&](const char *pattern) {
    char **names = nullptr;
    int count = 0, index = -1;
    errno = 0;
    const int rc = fileutl_resolve_pattern_index(dirs.c_str(), pattern, 0,
                                                 &names, &count, &index);
    std::string found = rc != 0 ? failure(rc) : "";
    for (int i = 0; i < count; ++i)
      found += std::to_string(index) + ":" + names[i] + " ";
    EXPECT_EQ(names != nullptr && names[count] == nullptr, rc == 0);
    fileutl_resolve_pattern_free(names);
    return found;
  };
  const std::string src = "1:" + path("src") + "\\";
  EXPECT_EQ(resolve("*.c"), src + ".hidden.c " + src + "a.c " + src + "b.c ");
  // "." and ".." only for a pattern that starts with '.': then even the
  // empty directory holds matches.
  const std::string empty = "0:" + path("empty") + "\\";
  EXPECT_EQ(resolve(".*"), empty + ". " + empty + ".. ");
  EXPECT_EQ(resolve("*"),
            src + ".hidden.c " + src + "a.c " + src + "b.c " + src + "x.h ");
  EXPECT_EQ(resolve("*.o"), "<2 0>");
  // Classes and quoting come from the wildcard matcher; a class left open
  // is refused rather than matching nothing.
  EXPECT_EQ(resolve("[ab].^c"), src + "a.c " + src + "b.c ");
  EXPECT_EQ(resolve("[ab.c"), "<1 EINVAL>");
}

TEST(FileutlPatternList, TailsWithTheSeparatorsOfEachPattern) {
  list_t *list = list_create(STG_AREA_HEAP, 0);
  const char *patterns[] = {"lib\\%.h", "%.o", "src/main.c", "Makefile"};
  for (const char *p : patterns) list_append(list, const_cast<char *>(p));
  struct Case {
    const char *name;
    int match, exact, cell;
  } cases[] = {
      {"x\\lib\\util.h", 1, 0, 0},
      {"lib\\util.h", 1, 0, 0},
      {"lib/util.h", 0, 0, -1},
      {"util.h", 0, 0, -1},
      {"a\\b\\c.o", 1, 0, 1},
      {"c.o", 1, 0, 1},
      {".o", 1, 0, 1},
      {"top\\src\\main.c", 1, 1, 2},
      {"top\\src/main.c", 1, 1, 2},
      {"top\\main.c", 0, 0, -1},
      {"d\\Makefile", 1, 1, 3},
      {"d\\makefile", 0, 0, -1},
  };
  for (const Case &c : cases) {
    list_elem_t *cursor = nullptr;
    int exact = -1;
    EXPECT_EQ(fileutl_patt_list_matched_cell(list, c.name, &cursor, &exact),
              c.match)
        << c.name;
    EXPECT_EQ(exact, c.exact) << c.name;
    const char *matched =
        cursor != nullptr
            ? static_cast<const char *>(list_get_data(list, cursor))
            : nullptr;
    EXPECT_EQ(matched, c.cell >= 0 ? patterns[c.cell] : nullptr) << c.name;
    EXPECT_EQ(fileutl_patt_list_match(list, c.name, &exact), c.match);
  }
  int exact = -1;
  EXPECT_EQ(fileutl_patt_list_match(nullptr, "x", &exact), 0);
  EXPECT_EQ(exact, 0);
  list_destroy(list);
}

TEST(FileutlPatternList, NullArgumentsAreBrokenInvariants) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  list_elem_t *cursor;
  int exact;
  EXPECT_DEATH(
      fileutl_patt_list_matched_cell(nullptr, nullptr, &cursor, &exact),
      "name != NULL");
  EXPECT_DEATH(fileutl_patt_list_matched_cell(nullptr, "x", nullptr, &exact),
               "match_cursor_p != NULL");
  EXPECT_DEATH(fileutl_patt_list_match(nullptr, "x", nullptr), "exact != NULL");
}

TEST(FileutlScope, FirstPathThatHoldsThePath) {
  const char *paths[] = {"\\a\\b", "\\a", "/c/"};
  EXPECT_EQ(fileutl_pname_scoped_by_list(paths, 3, "/a/b/x"), 0u);
  EXPECT_EQ(fileutl_pname_scoped_by_list(paths, 3, "\\a\\bc"), 1u);
  EXPECT_EQ(fileutl_pname_scoped_by_list(paths, 3, "\\a"), 1u);
  EXPECT_EQ(fileutl_pname_scoped_by_list(paths, 3, "/c/d"), 2u);
  EXPECT_EQ(fileutl_pname_scoped_by_list(paths, 3, "\\ab"), FILEUTL_NOT_SCOPED);
  EXPECT_EQ(fileutl_pname_scoped_by_list(paths, 0, "\\a"), FILEUTL_NOT_SCOPED);
}

TEST_F(FileutlLines, StoredSpellingOfTheLeaf) {
  mkdir(path("Dir").c_str(), 0755);
  spit("Dir/MixedCase.TXT", "");
  auto leaf = [&](const std::string &p, size_t size = 64) {
    return filled(
        [&](char *out, size_t n) {
          return fileutl_get_true_leaf((dir_ + p).c_str(), n, out);
        },
        size);
  };
  EXPECT_EQ(leaf("/dir/mixedcase.txt/"), "MixedCase.TXT");
  EXPECT_EQ(leaf("/Dir/MixedCase.TXT", 5), "<1 ENAMETOOLONG>");
  EXPECT_EQ(leaf("/Dir/none").substr(0, 3), "<1 ");
}

TEST_F(FileutlLines, MappedNetworkDrivesExpandToTheirUncNames) {
  spit("registry.ini", "[drives]\nn=/net/otherhost/proj\nl=/local\n");
  setenv("ORVEX_REGISTRY", path("registry.ini").c_str(), 1);
  EXPECT_EQ(filled(fileutl_expand_mapped_pn, "N:\\src\\a.c"),
            "\\\\otherhost\\proj\\src\\a.c");
  EXPECT_EQ(filled(fileutl_expand_mapped_pn, "l:\\x"), "l:\\x");
  // The result stops at 259 characters, whatever the buffer.
  const std::string at_limit = "n:" + std::string(259 - 16, 'x');
  EXPECT_EQ(filled(fileutl_expand_mapped_pn, at_limit).size(), 259u);
  EXPECT_EQ(filled(fileutl_expand_mapped_pn, at_limit + "x"),
            "<1 ENAMETOOLONG>");
  unsetenv("ORVEX_REGISTRY");
}

}  // namespace
