// Path names against the real file system and the settings store: UNC
// names through the share and drive tables, where a path lives, the
// alternate host names, program files, names as stored on disk and full
// path names.
#include <gtest/gtest.h>

#include <orvexks/fileutl.h>
#include <orvexks/sysutl.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>

#include "filled.h"

namespace {

class FileutlDisk : public ::testing::Test {
 protected:
  static std::string root_, host_;

  // One settings file for the process: the host-data directory (read once
  // per process), a share, a network drive and a drive on a local share.
  static void SetUpTestSuite() {
    char tmpl[] = "/tmp/fileutl_disk_XXXXXX";
    root_ = mkdtemp(tmpl);
    for (const char *dir :
         {"/hostdata", "/hostdata/var", "/hostdata/var/config", "/share",
          "/share/sub", "/other", "/bin", "/cwd", "/cwd/dironly", "/Mixed"})
      mkdir((root_ + dir).c_str(), 0755);
    host_ = sysutl_myhostname();
    std::ofstream(root_ + "/registry.ini")
        << "[params]\n16=" << root_ << "/hostdata\n"
        << "[shares]\ndata=" << root_ << "/share/\ngone=" << root_ << "/gone\n"
        << "[drives]\nn=/net/otherhost/proj\n";
    write_alternate_names();
    setenv("ORVEX_REGISTRY", (root_ + "/registry.ini").c_str(), 1);
  }
  static void TearDownTestSuite() {
    unsetenv("ORVEX_REGISTRY");
    std::string cmd = "rm -rf '" + root_ + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
  }

  void SetUp() override {
    ASSERT_NE(getcwd(saved_cwd_, sizeof saved_cwd_), nullptr);
  }
  void TearDown() override { ASSERT_EQ(chdir(saved_cwd_), 0); }

  static std::string alternate_names() {
    return root_ + "/hostdata/var/config/alternate_hostnames";
  }
  static void write_alternate_names() {
    std::ofstream(alternate_names())
        << "alias-one.invalid\r\nAlias-Two.invalid\n";
  }
  static void touch(const std::string &path, mode_t mode = 0644) {
    std::ofstream(path) << "x";
    chmod(path.c_str(), mode);
  }
  static std::string unc(const std::string &share_and_rest) {
    return "\\\\" + host_ + "\\" + share_and_rest;
  }

  char saved_cwd_[4096];
};

std::string FileutlDisk::root_, FileutlDisk::host_;

TEST_F(FileutlDisk, UncNamesOfSharesAndDrives) {
  EXPECT_EQ(filled(fileutl_unc_pn, root_ + "/share/sub/f"),
            unc("data\\sub\\f"));
  // The share's directory is matched without regard to case, at a boundary.
  EXPECT_EQ(filled(fileutl_unc_pn, root_ + "/SHARE/x"), unc("data\\x"));
  EXPECT_EQ(filled(fileutl_unc_pn, root_ + "/share"), unc("data"));
  // A relative path is made full first.
  ASSERT_EQ(chdir((root_ + "/share").c_str()), 0);
  EXPECT_EQ(filled(fileutl_non_admin_unc_pn, "sub\\..\\g"), unc("data\\g"));
  // A network drive gives its connection.
  EXPECT_EQ(filled(fileutl_unc_pn, "n:\\x\\y"), "\\\\otherhost\\proj\\x\\y");
  EXPECT_EQ(filled(fileutl_unc_pn, "\\\\h\\s\\t"), "\\\\h\\s\\t");

  // Under no share: the administrative form, or a failure with the full path.
  const std::string outside = root_ + "/sharex/f";
  char out[512];
  errno = 0;
  EXPECT_EQ(fileutl_non_admin_unc_pn(outside.c_str(), out, sizeof out), 1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(std::string(out), outside);
  std::string admin = outside;
  std::replace(admin.begin(), admin.end(), '/', '\\');
  EXPECT_EQ(filled(fileutl_unc_pn, outside), unc("c$" + admin));
  EXPECT_EQ(filled(fileutl_unc_pn, "c:\\tmp\\z"), unc("c$\\tmp\\z"));
  // The name and its terminator must fit.
  const std::string name = unc("data\\sub\\f");
  EXPECT_EQ(filled(fileutl_unc_pn, root_ + "/share/sub/f", name.size() + 1),
            name);
  EXPECT_EQ(filled(fileutl_unc_pn, root_ + "/share/sub/f", name.size()),
            "<1 ENAMETOOLONG>");
}

TEST_F(FileutlDisk, WhereAPathLives) {
  const std::string name = unc("data\\a\\b");
  EXPECT_EQ(filled(fileutl_where, name), host_ + ":" + root_ + "/share\\a\\b");
  EXPECT_EQ(filled(fileutl_where, "C:\\x"), host_ + ":C:\\x");
  EXPECT_EQ(filled(fileutl_where, "\\\\nohost.invalid\\s\\x"), "<1 EINVAL>");
  EXPECT_EQ(filled(fileutl_where, "n:\\x"), "<1 EINVAL>");  // another host's
  EXPECT_EQ(filled(fileutl_where, unc("nosuchshare\\x")), "<1 EINVAL>");

  EXPECT_EQ(filled(fileutl_path_host, "n:\\x"), "otherhost");
  EXPECT_EQ(filled(fileutl_path_host, "/x"), host_);
  int equal = -1;
  ASSERT_EQ(fileutl_path_host_cmp(unc("data").c_str(), nullptr, &equal), 0);
  EXPECT_EQ(equal, 1);
  ASSERT_EQ(fileutl_path_host_cmp("\\\\otherhost\\d", "OTHERHOST:/x", &equal),
            0);
  EXPECT_EQ(equal, 1);
  EXPECT_EQ(fileutl_path_host_cmp("\\\\\\x", nullptr, &equal), -1);

  int is_local = -1;
  auto local_path = [&](const std::string &p) {
    return filled([&](char *out, size_t n) {
      return fileutl_get_local_path(p.c_str(), &is_local, out, n);
    });
  };
  EXPECT_EQ(local_path(unc("data\\f")), root_ + "/share\\f");
  EXPECT_EQ(is_local, 1);
  EXPECT_EQ(local_path("\\\\nohost.invalid\\s"), "\\\\nohost.invalid\\s");
  EXPECT_EQ(is_local, 0);

  char host[64], local[512], orig[512];
  auto locate = [&](const std::string &p, size_t lsize) {
    return filled([&](char *, size_t) {
      return fileutl_path_locate(p.c_str(), host, sizeof host, local, lsize,
                                 orig, sizeof orig);
    });
  };
  ASSERT_EQ(locate(name, sizeof local), "");
  EXPECT_EQ(std::string(host), host_);
  EXPECT_EQ(std::string(local), root_ + "/share\\a\\b");
  EXPECT_EQ(std::string(orig), name);
  EXPECT_EQ(locate("\\\\" + host_, sizeof local), "<1 EINVAL>");
  EXPECT_EQ(locate(name, 8), "<1 ENAMETOOLONG>");

  ASSERT_EQ(fileutl_get_location(name.c_str(), host, sizeof host, local,
                                 sizeof local),
            0);
  EXPECT_STREQ(host, "");
  EXPECT_EQ(std::string(local), root_ + "/share\\a\\b");
}

TEST_F(FileutlDisk, MakingAPathNeverMakesItsRoot) {
  // The share "gone" names a directory that does not exist.
  EXPECT_EQ(fileutl_mkpath(unc("gone\\a\\b").c_str(), 0755, 1), ENOENT);
  EXPECT_FALSE(fileutl_exists((root_ + "/gone").c_str(), 1));
  EXPECT_EQ(fileutl_mkpath(unc("data\\made\\b").c_str(), 0755, 1), 0);
  EXPECT_TRUE(fileutl_exists((root_ + "/share/made/b").c_str(), 1));
}

TEST_F(FileutlDisk, AlternateHostNames) {
  EXPECT_EQ(fileutl_is_localhost(host_.c_str()), 1);
  EXPECT_EQ(fileutl_is_localhost("ALIAS-TWO.invalid"), 1);
  EXPECT_EQ(fileutl_is_localhost("alias-three.invalid"), 0);
  FILE *names = fileutl_set_alt_hostname();
  ASSERT_NE(names, nullptr);
  char line[8];
  ASSERT_NE(fileutl_get_alt_hostname(names, line, sizeof line), nullptr);
  EXPECT_STREQ(line, "alias-o");  // cut to the buffer
  fileutl_end_alt_hostname(names);

  // Once an open has failed the file is never tried again.
  EXPECT_EXIT(
      {
        remove(alternate_names().c_str());
        const bool missing = fileutl_set_alt_hostname() == nullptr;
        std::ofstream(alternate_names()) << "late.invalid\n";
        const bool still_off = fileutl_set_alt_hostname() == nullptr &&
                               fileutl_is_localhost("late.invalid") == 0;
        std::exit(missing && still_off ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  write_alternate_names();
}

TEST_F(FileutlDisk, ProgramFiles) {
  const std::string bin = root_ + "/bin", cwd = root_ + "/cwd";
  for (const char *f : {"/tool", "/script.cmd", "/script.bat", "/local"})
    touch(bin + f, 0755);
  touch(bin + "/file.txt");
  touch(cwd + "/local", 0755);
  mkdir((cwd + "/tool").c_str(), 0755);  // a directory is no program
  const std::string saved_path =
      getenv("PATH") != nullptr ? getenv("PATH") : "";
  setenv("PATH", ("/nonexistent::" + bin).c_str(), 1);
  ASSERT_EQ(chdir(cwd.c_str()), 0);

  int not_found = -1;
  auto expand = [&](const std::string &prog, size_t size = 512) {
    return filled(
        [&](char *out, size_t n) {
          return fileutl_expand_prog_pn(prog.c_str(), &not_found, out, n);
        },
        size);
  };
  const struct {
    std::string prog, expect;
    int not_found;
  } rows[] = {
      {"tool", bin + "/tool", 0},
      {"script", bin + "/script.bat", 0},
      {"file.txt", bin + "/file.txt", 0},
      {"local", cwd + "/local", 0},
      {"nosuch", "nosuch", 1},
      {bin + "/script", bin + "/script.bat", 0},
      // A suffix and a directory: no search.
      {bin + "/file.txt", bin + "/file.txt", 1},
      {bin + "/nosuch", bin + "/nosuch", 1},
  };
  for (const auto &r : rows) {
    SCOPED_TRACE(r.prog);
    EXPECT_EQ(expand(r.prog), r.expect);
    EXPECT_EQ(not_found, r.not_found);
  }
  EXPECT_EQ(expand("tool", 4), "<1 ENAMETOOLONG>");
  setenv("PATH", saved_path.c_str(), 1);
}

TEST_F(FileutlDisk, NamesAsStoredOnDisk) {
  touch(root_ + "/Mixed/Case.TXT");
  ASSERT_EQ(symlink((root_ + "/Mixed").c_str(), (root_ + "/link").c_str()), 0);
  auto stored = [](const std::string &p, size_t size = 1100) {
    return filled(
        [&](char *out, size_t n) {
          return fileutl_get_true_pname(p.c_str(), n, out);
        },
        size);
  };
  EXPECT_EQ(stored(root_ + "/mixed\\case.txt"), root_ + "/Mixed\\Case.TXT");
  EXPECT_EQ(stored(root_ + "/LINK/./CASE.txt"), root_ + "/link/./Case.TXT");
  EXPECT_EQ(stored(root_ + "/Mixed/none"), "<1 ENOENT>");
  EXPECT_EQ(stored(root_ + "/" + std::string(5000, 'n')).substr(0, 3), "<1 ");
  EXPECT_EQ(stored(root_ + "/Mixed", 8), "<1 ENAMETOOLONG>");
  ASSERT_EQ(chdir(root_.c_str()), 0);
  EXPECT_EQ(stored("MIXED"), "Mixed");
  char in_place[1100];
  std::snprintf(in_place, sizeof in_place, "%s/mixed/case.txt", root_.c_str());
  ASSERT_EQ(fileutl_get_true_pn(in_place), 0);
  EXPECT_EQ(std::string(in_place), root_ + "/Mixed/Case.TXT");
  // Through the share table: the host and share are kept as written.
  touch(root_ + "/share/Stored");
  EXPECT_EQ(stored(unc("data\\stored")), unc("data\\Stored"));
}

TEST_F(FileutlDisk, FullPathNamesAreTextual) {
  ASSERT_EQ(chdir(root_.c_str()), 0);
  EXPECT_EQ(filled(fileutl_getcwd), root_);
  EXPECT_EQ(filled(fileutl_getcwd, 2), "<-1 ERANGE>");
  EXPECT_EQ(filled(fileutl_abspn, "a\\..\\b"), root_ + "/b");
  EXPECT_EQ(filled(fileutl_abspn, unc("data\\x")), root_ + "/share/x");
  EXPECT_EQ(filled(fileutl_abspn, "c:\\usr\\.\\lib"), "/usr/lib");
  // ".." is applied to the text, not through a symbolic link.
  ASSERT_EQ(symlink("/usr/lib", (root_ + "/tolib").c_str()), 0);
  EXPECT_EQ(filled(fileutl_abspn, "tolib/.."), root_);
  EXPECT_EQ(filled(fileutl_abspn, "q:\\x"), "<-1 ENOENT>");  // not in the table
  EXPECT_EQ(filled(fileutl_abspn, "x", 4), "<-1 ENAMETOOLONG>");
  EXPECT_EQ(filled(fileutl_absobjpn, "x", 0).substr(0, 4), "<-1 ");

  EXPECT_EQ(filled(fileutl_mount_pname, "rel"), "/");
  EXPECT_EQ(filled(fileutl_mount_pname, "C:\\x\\y"), "C:\\");
  EXPECT_EQ(filled(fileutl_mount_pname, "\\\\h\\s\\y"), "\\\\h\\s\\");

  auto pick = [&](size_t size) {
    return filled(
        [&](char *out, size_t n) {
          return fileutl_pick_path(host_.c_str(), "/local/x", out, n);
        },
        size);
  };
  EXPECT_EQ(pick(512), "/local/x");
  EXPECT_EQ(pick(4).substr(0, 4), "<-1 ");
}

}  // namespace
