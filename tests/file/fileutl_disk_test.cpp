// Path names against the real file system and the settings store: UNC
// names through the share and drive tables, where a path lives, the
// alternate host names, program files, names as stored on disk and full
// path names.
#include <gtest/gtest.h>

#include <orvexks/fileutl.h>
#include <orvexks/sysutl.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>

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
  char out[512];
  ASSERT_EQ(fileutl_unc_pn((root_ + "/share/sub/f").c_str(), out, sizeof out),
            0);
  EXPECT_EQ(std::string(out), unc("data\\sub\\f"));
  // The share's directory is matched without regard to case, at a boundary.
  ASSERT_EQ(fileutl_unc_pn((root_ + "/SHARE/x").c_str(), out, sizeof out), 0);
  EXPECT_EQ(std::string(out), unc("data\\x"));
  ASSERT_EQ(fileutl_unc_pn((root_ + "/share").c_str(), out, sizeof out), 0);
  EXPECT_EQ(std::string(out), unc("data"));
  // A relative path is made full first.
  ASSERT_EQ(chdir((root_ + "/share").c_str()), 0);
  ASSERT_EQ(fileutl_non_admin_unc_pn("sub\\..\\g", out, sizeof out), 0);
  EXPECT_EQ(std::string(out), unc("data\\g"));
  // A network drive gives its connection.
  ASSERT_EQ(fileutl_unc_pn("n:\\x\\y", out, sizeof out), 0);
  EXPECT_STREQ(out, "\\\\otherhost\\proj\\x\\y");
  ASSERT_EQ(fileutl_unc_pn("\\\\h\\s\\t", out, sizeof out), 0);
  EXPECT_STREQ(out, "\\\\h\\s\\t");

  // Under no share: the administrative form, or a failure with the full path.
  const std::string outside = root_ + "/sharex/f";
  errno = 0;
  EXPECT_EQ(fileutl_non_admin_unc_pn(outside.c_str(), out, sizeof out), 1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(std::string(out), outside);
  ASSERT_EQ(fileutl_unc_pn(outside.c_str(), out, sizeof out), 0);
  std::string admin = outside;
  for (char &c : admin)
    if (c == '/') c = '\\';
  EXPECT_EQ(std::string(out), unc("c$" + admin));
  ASSERT_EQ(fileutl_unc_pn("c:\\tmp\\z", out, sizeof out), 0);
  EXPECT_EQ(std::string(out), unc("c$\\tmp\\z"));

  char small[8];
  errno = 0;
  EXPECT_EQ(
      fileutl_unc_pn((root_ + "/share/sub/f").c_str(), small, sizeof small), 1);
  EXPECT_EQ(errno, ENAMETOOLONG);
}

TEST_F(FileutlDisk, WhereAPathLives) {
  char out[512], host[64], local[512], orig[512];
  const std::string name = unc("data\\a\\b");
  ASSERT_EQ(fileutl_where(name.c_str(), out, sizeof out), 0);
  EXPECT_EQ(std::string(out), host_ + ":" + root_ + "/share\\a\\b");
  ASSERT_EQ(fileutl_where("C:\\x", out, sizeof out), 0);
  EXPECT_EQ(std::string(out), host_ + ":C:\\x");
  errno = 0;
  EXPECT_EQ(fileutl_where("\\\\nohost.invalid\\s\\x", out, sizeof out), 1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(fileutl_where("n:\\x", out, sizeof out),
            1);  // another host's drive
  EXPECT_EQ(fileutl_where(unc("nosuchshare\\x").c_str(), out, sizeof out), 1);
  EXPECT_EQ(errno, EINVAL);

  ASSERT_EQ(fileutl_path_host("n:\\x", out, sizeof out), 0);
  EXPECT_STREQ(out, "otherhost");
  ASSERT_EQ(fileutl_path_host("/x", out, sizeof out), 0);
  EXPECT_EQ(std::string(out), host_);
  int equal = -1;
  ASSERT_EQ(fileutl_path_host_cmp(("\\\\" + host_ + "\\data").c_str(), nullptr,
                                  &equal),
            0);
  EXPECT_EQ(equal, 1);
  ASSERT_EQ(fileutl_path_host_cmp("\\\\otherhost\\d", "OTHERHOST:/x", &equal),
            0);
  EXPECT_EQ(equal, 1);
  EXPECT_EQ(fileutl_path_host_cmp("\\\\\\x", nullptr, &equal), -1);

  int is_local = -1;
  ASSERT_EQ(fileutl_get_local_path(unc("data\\f").c_str(), &is_local, out,
                                   sizeof out),
            0);
  EXPECT_EQ(is_local, 1);
  EXPECT_EQ(std::string(out), root_ + "/share\\f");
  ASSERT_EQ(fileutl_get_local_path("\\\\nohost.invalid\\s", &is_local, out,
                                   sizeof out),
            0);
  EXPECT_EQ(is_local, 0);

  ASSERT_EQ(fileutl_path_locate(name.c_str(), host, sizeof host, local,
                                sizeof local, orig, sizeof orig),
            0);
  EXPECT_EQ(std::string(host), host_);
  EXPECT_EQ(std::string(local), root_ + "/share\\a\\b");
  EXPECT_EQ(std::string(orig), name);
  errno = 0;
  EXPECT_EQ(fileutl_path_locate(("\\\\" + host_).c_str(), host, sizeof host,
                                local, sizeof local, orig, sizeof orig),
            1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(fileutl_path_locate(name.c_str(), host, sizeof host, local, 8, orig,
                                sizeof orig),
            1);
  EXPECT_EQ(errno, ENAMETOOLONG);

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
  touch(bin + "/tool", 0755);
  touch(bin + "/script.cmd", 0755);
  touch(bin + "/script.bat", 0755);
  touch(bin + "/file.txt");
  touch(cwd + "/local", 0755);
  touch(bin + "/local", 0755);
  mkdir((cwd + "/tool").c_str(), 0755);  // a directory is no program
  const std::string saved_path =
      getenv("PATH") != nullptr ? getenv("PATH") : "";
  setenv("PATH", ("/nonexistent::" + bin).c_str(), 1);
  ASSERT_EQ(chdir(cwd.c_str()), 0);

  struct Row {
    std::string prog, expect;
    int not_found;
  };
  const Row rows[] = {
      {"tool", bin + "/tool", 0},
      {"script", bin + "/script.bat", 0},
      {"file.txt", bin + "/file.txt", 0},
      {"local", cwd + "/local", 0},
      {"nosuch", "nosuch", 1},
      {bin + "/script", bin + "/script.bat", 0},
      {bin + "/file.txt", bin + "/file.txt",
       1},  // a suffix and a directory: no search
      {bin + "/nosuch", bin + "/nosuch", 1},
  };
  for (const Row &r : rows) {
    char out[512];
    int not_found = -1;
    ASSERT_EQ(
        fileutl_expand_prog_pn(r.prog.c_str(), &not_found, out, sizeof out), 0)
        << r.prog;
    EXPECT_EQ(std::string(out), r.expect) << r.prog;
    EXPECT_EQ(not_found, r.not_found) << r.prog;
  }
  char small[4];
  int not_found = -1;
  errno = 0;
  EXPECT_EQ(fileutl_expand_prog_pn("tool", &not_found, small, sizeof small), 1);
  EXPECT_EQ(errno, ENAMETOOLONG);
  setenv("PATH", saved_path.c_str(), 1);
}

TEST_F(FileutlDisk, NamesAsStoredOnDisk) {
  touch(root_ + "/Mixed/Case.TXT");
  ASSERT_EQ(symlink((root_ + "/Mixed").c_str(), (root_ + "/link").c_str()), 0);
  char out[512];
  ASSERT_EQ(fileutl_get_true_pname((root_ + "/mixed\\case.txt").c_str(),
                                   sizeof out, out),
            0);
  EXPECT_EQ(std::string(out), root_ + "/Mixed\\Case.TXT");
  ASSERT_EQ(fileutl_get_true_pname((root_ + "/LINK/./CASE.txt").c_str(),
                                   sizeof out, out),
            0);
  EXPECT_EQ(std::string(out), root_ + "/link/./Case.TXT");
  errno = 0;
  EXPECT_EQ(
      fileutl_get_true_pname((root_ + "/Mixed/none").c_str(), sizeof out, out),
      1);
  EXPECT_EQ(errno, ENOENT);
  ASSERT_EQ(chdir(root_.c_str()), 0);
  ASSERT_EQ(fileutl_get_true_pname("MIXED", sizeof out, out), 0);
  EXPECT_STREQ(out, "Mixed");
  const std::string huge_component = root_ + "/" + std::string(5000, 'n');
  EXPECT_EQ(fileutl_get_true_pname(huge_component.c_str(), sizeof out, out), 1);
  char small[8];
  EXPECT_EQ(
      fileutl_get_true_pname((root_ + "/Mixed").c_str(), sizeof small, small),
      1);
  EXPECT_EQ(errno, ENAMETOOLONG);
  char in_place[1100];
  std::snprintf(in_place, sizeof in_place, "%s/mixed/case.txt", root_.c_str());
  ASSERT_EQ(fileutl_get_true_pn(in_place), 0);
  EXPECT_EQ(std::string(in_place), root_ + "/Mixed/Case.TXT");
  // Through the share table: the host and share are kept as written.
  touch(root_ + "/share/Stored");
  ASSERT_EQ(
      fileutl_get_true_pname(unc("data\\stored").c_str(), sizeof out, out), 0);
  EXPECT_EQ(std::string(out), unc("data\\Stored"));
}

TEST_F(FileutlDisk, FullPathNamesAreTextual) {
  ASSERT_EQ(chdir(root_.c_str()), 0);
  char out[512];
  ASSERT_EQ(fileutl_getcwd(out, sizeof out), 0);
  EXPECT_EQ(std::string(out), root_);
  ASSERT_EQ(fileutl_abspn("a\\..\\b", out, sizeof out), 0);
  EXPECT_EQ(std::string(out), root_ + "/b");
  ASSERT_EQ(fileutl_abspn(unc("data\\x").c_str(), out, sizeof out), 0);
  EXPECT_EQ(std::string(out), root_ + "/share/x");
  ASSERT_EQ(fileutl_abspn("c:\\usr\\.\\lib", out, sizeof out), 0);
  EXPECT_STREQ(out, "/usr/lib");
  // ".." is applied to the text, not through a symbolic link.
  ASSERT_EQ(symlink("/usr/lib", (root_ + "/tolib").c_str()), 0);
  ASSERT_EQ(fileutl_abspn("tolib/..", out, sizeof out), 0);
  EXPECT_EQ(std::string(out), root_);
  errno = 0;
  EXPECT_EQ(fileutl_abspn("q:\\x", out, sizeof out),
            -1);  // a drive not in the table
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(fileutl_abspn("x", out, 4), -1);
  EXPECT_EQ(errno, ENAMETOOLONG);
  EXPECT_EQ(fileutl_absobjpn("x", out, 0), -1);
  EXPECT_EQ(fileutl_getcwd(out, 2), -1);
  EXPECT_EQ(errno, ERANGE);

  ASSERT_EQ(fileutl_mount_pname("rel", out, sizeof out), 0);
  EXPECT_STREQ(out, "/");
  ASSERT_EQ(fileutl_mount_pname("C:\\x\\y", out, sizeof out), 0);
  EXPECT_STREQ(out, "C:\\");
  ASSERT_EQ(fileutl_mount_pname("\\\\h\\s\\y", out, sizeof out), 0);
  EXPECT_STREQ(out, "\\\\h\\s\\");

  ASSERT_EQ(fileutl_pick_path(host_.c_str(), "/local/x", out, sizeof out), 0);
  EXPECT_STREQ(out, "/local/x");
  EXPECT_EQ(fileutl_pick_path(host_.c_str(), "/local/x", out, 4), -1);
}

}  // namespace
