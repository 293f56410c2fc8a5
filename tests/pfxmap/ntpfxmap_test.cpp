// The drive prefix map: rewriting UNC names through its entries, keeping
// entries in step with the drive table, two processes sharing one map, and
// recovery when a process dies holding the map's lock.
#include <orvexks/fileutl.h>
#include <orvexks/imsg.h>
#include <orvexks/ntpfxmap.h>
#include <orvexks/sysutl.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "pfxmap_fixture.h"

namespace {

using namespace pfxmap_test;

auto *const resources =
    ::testing::AddGlobalTestEnvironment(new pfxmap_test::Resources);

class Pfxmap : public ::testing::Test {
 protected:
  void SetUp() override {
    write_settings("");
    ASSERT_EQ(ntpfxmap_flush(), 0);
  }
};

// This program again, running the test filter alone with extra
// environment; its standard output comes back through *out_fd when asked.
pid_t spawn_self(const char *filter, std::vector<std::string> env_text,
                 int *out_fd = nullptr) {
  for (char **e = environ; *e != nullptr; e++) env_text.push_back(*e);
  std::vector<char *> env;
  for (std::string &e : env_text) env.push_back(e.data());
  env.push_back(nullptr);
  std::string self = "/proc/self/exe",
              arg = std::string("--gtest_filter=") + filter;
  char *argv[] = {self.data(), arg.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  int fds[2] = {-1, -1};
  if (out_fd != nullptr && pipe(fds) == 0) {
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
  }
  pid_t pid = -1;
  if (posix_spawn(&pid, self.c_str(), &actions, nullptr, argv, env.data()) != 0)
    pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  if (out_fd != nullptr) {
    close(fds[1]);
    *out_fd = fds[0];
  }
  return pid;
}

int wait_exit(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST_F(Pfxmap, ConvertRewritesCoveredUncNames) {
  add_entry("Z:", "\\\\h\\s");
  add_entry("Y:", "\\\\h\\t\\");
  add_entry("X:", "\\\\h\\gone", kPfxmapNotInUse);
  EXPECT_EQ(converted("\\\\h\\s\\a\\b"), "Z:\\a\\b");
  EXPECT_EQ(converted("\\\\h\\s"), "Z:\\");
  EXPECT_EQ(converted("//H/S/a"), "Z:/a") << "any case, either separator";
  EXPECT_EQ(converted("\\\\h\\t\\a"), "Y:\\a") << "prefix ending in '\\'";
  EXPECT_EQ(converted("\\\\h\\sx\\a"), "\\\\h\\sx\\a") << "not a component";
  EXPECT_EQ(converted("\\\\h\\gone\\a"), "\\\\h\\gone\\a") << "not in use";
  EXPECT_EQ(converted("\\\\h\\u\\a"), "\\\\h\\u\\a") << "no entry";
  EXPECT_EQ(converted("c:\\x"), "c:\\x") << "not UNC";
  const std::string local = std::string("\\\\") + sysutl_myhostname() + "\\s";
  add_entry("W:", local.c_str());
  EXPECT_EQ(converted(local.c_str()), local) << "this host is never mapped";
  EXPECT_EQ(ntpfxmap_convert(nullptr, 0), 0);

  // A result that does not fit fails and leaves the path alone.
  char small[9] = "\\\\h\\s\\ab";
  EXPECT_EQ(ntpfxmap_convert(small, 5), -1);
  EXPECT_STREQ(small, "\\\\h\\s\\ab");
}

TEST_F(Pfxmap, PercentNamesAreExpandedNotMapped) {
  setenv("PFXMAP_TEST_DIR", "\\\\h\\s", 1);
  add_entry("Z:", "\\\\h\\s");
  EXPECT_EQ(converted("%PFXMAP_TEST_DIR%\\a"), "\\\\h\\s\\a");
  EXPECT_EQ(converted("%PFXMAP_NOT_SET%\\a%"), "%PFXMAP_NOT_SET%\\a%");
  EXPECT_EQ(converted("%PFXMAP_TEST_DIR%", 5), "<failed>");
}

TEST_F(Pfxmap, PickPathConvertsAnotherHostsPath) {
  add_entry("Z:", "\\\\h\\s");
  auto pick = [](const char *host, const char *local) -> std::string {
    char out[64];
    const int rc = fileutl_pick_path(host, local, out, sizeof out);
    return rc == 0 ? out : "<failed>";
  };
  EXPECT_EQ(pick("otherhost.invalid", "\\\\h\\s\\x"), "Z:\\x");
  EXPECT_EQ(pick(nullptr, "\\\\h\\s"), "Z:\\");
  EXPECT_EQ(pick(sysutl_myhostname(), "\\\\h\\s"), "\\\\h\\s")
      << "this host's path is taken as it is";
}

TEST_F(Pfxmap, ValidateKeepsOnlyEntriesTheirDrivesStillHold) {
  write_settings(
      "[drives]\nz=/net/h/s\ny=/net/h/other\nv=/net/h/S\nu=/srv/u\n"
      "[shares]\nu=/srv/u\n");
  add_entry("Z:", "\\\\h\\s");                 // holds
  add_entry("Y:", "\\\\h\\t");                 // drive leads elsewhere
  add_entry("X:", "\\\\h\\x");                 // no drive
  add_entry("V:", "\\\\H\\s", kPfxmapNoCase);  // holds, case aside
  add_entry("V:", "\\\\H\\s");                 // exact case differs
  const std::string local = std::string("\\\\") + ksi_pfxmap_host() + "\\u";
  add_entry("U:", local.c_str());  // this host's share
  imsg_set_trace_subsys("ks/ntpfxmap");
  imsg_set_trace_verbosity(3);
  testing::internal::CaptureStderr();
  EXPECT_EQ(ntpfxmap_validate_all(), 3);
  const std::string traced = testing::internal::GetCapturedStderr();
  imsg_set_trace_verbosity(0);
  // A drive that cannot be read is a mismatch like any other.
  EXPECT_NE(traced.find(" != \\\\h\\x\\\n"), std::string::npos) << traced;
  EXPECT_EQ(converted("\\\\h\\t\\a"), "\\\\h\\t\\a");
  EXPECT_EQ(converted("\\\\h\\s\\a"), "Z:\\a");
  // A drive that comes back makes its entry valid again.
  write_settings("[drives]\nz=/net/h/s\ny=/net/h/t\n");
  EXPECT_EQ(ntpfxmap_validate_all(), 2);
  EXPECT_EQ(converted("\\\\h\\t\\a"), "Y:\\a");

  char maps[64];
  ASSERT_EQ(ntpfxmap_get_drive_maps(maps, sizeof maps), 2);
  EXPECT_STREQ(maps, "Y:=\\\\h\\t");
  EXPECT_STREQ(maps + std::strlen(maps) + 1, "Z:=\\\\h\\s");
  EXPECT_EQ(ntpfxmap_get_drive_maps(maps, 10), -1);

  ASSERT_EQ(ntpfxmap_unregister("Z:"), 0);
  EXPECT_EQ(converted("\\\\h\\s\\a"), "\\\\h\\s\\a");
  ASSERT_EQ(ntpfxmap_get_drive_maps(maps, sizeof maps), 1);
  EXPECT_EQ(ntpfxmap_unregister("Z:"), -1) << "nothing left to remove";

  ASSERT_EQ(ntpfxmap_flush(), 0);
  EXPECT_EQ(converted("\\\\h\\t\\a"), "\\\\h\\t\\a");
  EXPECT_EQ(ntpfxmap_validate_all(), 0);
}

TEST_F(Pfxmap, FullMapRefusesEntries) {
  ASSERT_EQ(ksi_pfxmap_init(), 0);
  const std::string prefix = "\\\\h\\" + std::string(499, 'p');
  ASSERT_TRUE(ksi_pfxmap_lock());
  int added = 0;
  while (ksi_pfxmap_add(ksi_pfxmap_area(), "Q:", prefix.c_str(), 0)) added++;
  EXPECT_TRUE(ksi_pfxmap_well_formed(ksi_pfxmap_area()));
  EXPECT_EQ(ksi_pfxmap_remove(ksi_pfxmap_area(), "q:"), added);
  ksi_pfxmap_unlock();
  EXPECT_EQ(added, static_cast<int>(kPfxmapAreaSize / 512));
}

// ---- Several processes.

constexpr int kShared = 100;

std::string prefix_of(const char *who, int i) {
  return std::string("\\\\") + who + "\\s" + std::to_string(i);
}

// Enters kShared entries for its own host name at once with the other
// process, then waits until the other's last entry shows.
void share_entries(const char *me, const char *drive, const char *other,
                   const char *other_drive) {
  for (int i = 0; i < kShared; i++) add_entry(drive, prefix_of(me, i).c_str());
  const std::string last = prefix_of(other, kShared - 1) + "\\f";
  const auto until =
      std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (converted(last.c_str()) == last &&
         std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(converted(last.c_str()), std::string(other_drive) + "\\f");
}

TEST(PfxmapRole, Sharer) {
  if (getenv("PFXMAP_ROLE") == nullptr) GTEST_SKIP() << "only as a child";
  share_entries("child", "C:", "parent", "P:");
}

TEST_F(Pfxmap, TwoProcessesShareOneMap) {
  const pid_t child = spawn_self("PfxmapRole.Sharer", {"PFXMAP_ROLE=share"});
  ASSERT_GT(child, 0);
  share_entries("parent", "P:", "child", "C:");
  EXPECT_EQ(wait_exit(child), 0);
  ASSERT_TRUE(ksi_pfxmap_lock());
  EXPECT_TRUE(ksi_pfxmap_well_formed(ksi_pfxmap_area()));
  ksi_pfxmap_unlock();
  for (int i = 0; i < kShared; i++) {
    EXPECT_EQ(converted(prefix_of("child", i).c_str()), "C:\\");
    EXPECT_EQ(converted(prefix_of("parent", i).c_str()), "P:\\");
  }
}

// Takes the map's lock, damages the entries when asked (a write cut
// short), says so and waits to be killed.
TEST(PfxmapRole, Holder) {
  const char *role = getenv("PFXMAP_ROLE");
  if (role == nullptr) GTEST_SKIP() << "only as a child";
  ASSERT_EQ(ksi_pfxmap_init(), 0);
  ASSERT_TRUE(ksi_pfxmap_lock());
  if (std::strcmp(role, "damage") == 0) {
    const uint32_t bad = 6;  // not a whole entry
    std::memcpy(ksi_pfxmap_area(), &bad, sizeof bad);
  }
  ASSERT_EQ(write(1, "locked\n", 7), 7);
  for (;;) pause();
}

// Starts a holder, waits until it holds the lock and kills it.
void kill_holder(const char *role) {
  int out = -1;
  const pid_t holder = spawn_self("PfxmapRole.Holder",
                                  {std::string("PFXMAP_ROLE=") + role}, &out);
  ASSERT_GT(holder, 0);
  // The child's test framework writes its own lines first.
  FILE *lines = fdopen(out, "r");
  ASSERT_NE(lines, nullptr);
  char line[256];
  bool locked = false;
  while (!locked && std::fgets(line, sizeof line, lines) != nullptr)
    locked = std::strcmp(line, "locked\n") == 0;
  std::fclose(lines);
  EXPECT_TRUE(locked);
  kill(holder, SIGKILL);
  EXPECT_EQ(wait_exit(holder), 128 + SIGKILL);
}

TEST_F(Pfxmap, HolderKilledWhileLockedIsRecoveredFrom) {
  add_entry("Z:", "\\\\h\\s");
  kill_holder("hold");
  EXPECT_EQ(converted("\\\\h\\s\\a"), "Z:\\a") << "intact entries are kept";
  kill_holder("damage");
  EXPECT_EQ(converted("\\\\h\\s\\a"), "\\\\h\\s\\a") << "damaged ones cleared";
  add_entry("Z:", "\\\\h\\s");
  EXPECT_EQ(converted("\\\\h\\s\\a"), "Z:\\a");
}

TEST(PfxmapRole, Disabled) {
  if (getenv("PFXMAP_ROLE") == nullptr) GTEST_SKIP() << "only as a child";
  EXPECT_EQ(converted("\\\\h\\s\\x"), "\\\\h\\s\\x");
  EXPECT_EQ(ntpfxmap_flush(), 0);
  EXPECT_EQ(ntpfxmap_validate_all(), 0);
  EXPECT_EQ(ntpfxmap_register("\\\\h\\s"), 0);
}

TEST_F(Pfxmap, DisableSwitchLeavesEverythingAlone) {
  add_entry("Z:", "\\\\h\\s");
  const std::string settings =
      std::string(getenv("ORVEX_REGISTRY")) + ".disabled";
  FILE *f = std::fopen(settings.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fputs("[params]\n9=1\n", f);
  std::fclose(f);
  const pid_t child =
      spawn_self("PfxmapRole.Disabled",
                 {"PFXMAP_ROLE=disabled", "ORVEX_REGISTRY=" + settings});
  EXPECT_EQ(wait_exit(child), 0);
  std::remove(settings.c_str());
  EXPECT_EQ(converted("\\\\h\\s\\x"), "Z:\\x") << "the child flushed nothing";
}

}  // namespace
