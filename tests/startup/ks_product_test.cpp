// Start-up, installation directories, switches and the connected setting.
// Directories and switches are read once per process, so every scenario
// runs in a child process of its own with the settings file and
// environment it needs.
#include <orvexks/ks_product.h>

#include <orvexks/imsg.h>
#include <orvexks/qmthread.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include <gtest/gtest.h>

namespace {

// Checks inside a child process: a failure names itself and exits 1.
#define CHILD_EXPECT_STREQ(actual, expected)                      \
  do {                                                            \
    const char *a_ = (actual);                                    \
    const std::string e_ = (expected);                            \
    if (a_ == nullptr || e_ != a_) {                              \
      fprintf(stderr, "line %d: got [%s], want [%s]\n", __LINE__, \
              a_ ? a_ : "(null)", e_.c_str());                    \
      _exit(1);                                                   \
    }                                                             \
  } while (0)
#define CHILD_EXPECT(cond)                               \
  do {                                                   \
    if (!(cond)) {                                       \
      fprintf(stderr, "line %d: %s\n", __LINE__, #cond); \
      _exit(1);                                          \
    }                                                    \
  } while (0)

class KsProduct : public testing::Test {
 protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // Death-test children run SetUp again; they share their parent's
    // directory, which the parent alone removes.
    const bool child = !GTEST_FLAG_GET(internal_run_death_test).empty();
    root_ = "/tmp/ks_product_test." +
            std::to_string(child ? getppid() : getpid()) + "." +
            testing::UnitTest::GetInstance()->current_test_info()->name();
    if (!child) {
      std::string cmd = "rm -rf '" + root_ + "' && mkdir '" + root_ + "'";
      ASSERT_EQ(system(cmd.c_str()), 0);
    }
    // The default drive table maps c: onto /, so c:\tmp\... is root_.
    win_root_ = "c:" + root_;
    for (char &c : win_root_)
      if (c == '/') c = '\\';
    registry_ = root_ + "/registry.ini";
    setenv("ORVEX_REGISTRY", registry_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("ORVEX_REGISTRY");
    std::string cmd = "rm -rf '" + root_ + "'";
    ASSERT_EQ(system(cmd.c_str()), 0);
  }
  void Settings(const std::string &text) { std::ofstream(registry_) << text; }
  void MakeDir(const std::string &rel) {
    std::string cmd = "mkdir -p '" + root_ + "/" + rel + "'";
    ASSERT_EQ(system(cmd.c_str()), 0);
  }

  std::string root_, win_root_, registry_;
};

TEST_F(KsProduct, DirectoriesComeFromTheSettings) {
  Settings("[params]\n8=" + win_root_ + "\n");
  MakeDir("var");
  EXPECT_EXIT(
      {
        char buf[KS_DIR_BUF_SIZE];
        CHILD_EXPECT_STREQ(ks_product_dir(buf, nullptr), win_root_);
        CHILD_EXPECT_STREQ(ks_product_tool_dir_quoted(buf, "qm.exe"),
                           "\"" + win_root_ + "\\bin\\qm.exe\"");
        CHILD_EXPECT_STREQ(ks_hostdata_dir(buf, nullptr, nullptr),
                           win_root_ + "\\var");
        CHILD_EXPECT_STREQ(ks_hostdata_dir(buf, "a", "b"),
                           win_root_ + "\\var\\a\\b");
        CHILD_EXPECT_STREQ(ks_host_config_dir(buf, "x"),
                           win_root_ + "\\var\\config\\x");
        // Cached: a changed file does not move the installation.
        unsetenv("ORVEX_REGISTRY");
        CHILD_EXPECT_STREQ(ks_product_dir(buf, nullptr), win_root_);
        CHILD_EXPECT_STREQ(ks_hostdata_dir(buf, nullptr, nullptr),
                           win_root_ + "\\var");
        _exit(0);
      },
      testing::ExitedWithCode(0), "");
}

TEST_F(KsProduct, HostDataRootTakesPrecedenceAndDefaultsApply) {
  MakeDir("data/var");
  Settings("[params]\n16=" + win_root_ + "\\data\n");
  EXPECT_EXIT(
      {
        char buf[KS_DIR_BUF_SIZE];
        CHILD_EXPECT_STREQ(ks_product_dir(buf, nullptr), "c:\\orvex");
        CHILD_EXPECT_STREQ(ks_product_tool_dir_quoted(buf, "qmtool.exe"),
                           "\"c:\\orvex\\bin\\qmtool.exe\"");
        CHILD_EXPECT_STREQ(ks_hostdata_dir(buf, nullptr, nullptr),
                           win_root_ + "\\data\\var");
        _exit(0);
      },
      testing::ExitedWithCode(0), "");
}

TEST_F(KsProduct, MissingHostDataDirectoryEndsTheProcess) {
  Settings("[params]\n8=" + win_root_ + "\\nowhere\n");
  EXPECT_EXIT(
      {
        char buf[KS_DIR_BUF_SIZE];
        ks_hostdata_dir(buf, nullptr, nullptr);
      },
      testing::ExitedWithCode(2),
      "This product is not installed correctly\\.(.|\n)*"
      "Can't find host data directory, tried: \".*nowhere\\\\var\"");
}

// In a window the notice is a proceed question with abort alone; the
// window's writer also receives the two errors.
int notice_proceed(int kind, const char *text, int mask, int def, void *) {
  fprintf(stderr, "notice %d [%s] %d %d\n", kind, text, mask, def);
  return IMSG_ANSWER_ABORT;
}
void window_writer(void *, const char *text) { fputs(text, stderr); }
void open_window() {
  static int data;
  imsg_prompt_procs_t procs = {};
  procs.proceed = notice_proceed;
  imsg_use_prompt_procs(&procs, &data);
  const imsg_window_writers_t window = {window_writer, nullptr};
  imsg_use_window(&window);
}

TEST_F(KsProduct, MissingHostDataDirectoryIsShownToAWindow) {
  Settings("[params]\n8=" + win_root_ + "\\nowhere\n");
  EXPECT_EXIT(
      {
        open_window();
        char buf[KS_DIR_BUF_SIZE];
        ks_hostdata_dir(buf, nullptr, nullptr);
      },
      testing::ExitedWithCode(2),
      "Can't find host data directory(.|\n)*"
      "notice 6 \\[The application will exit \\.\\.\\. \\] 1 1");
}

TEST_F(KsProduct, MonitoringProductDirectoryIsRetriedUntilFound) {
  MakeDir("smx");
  EXPECT_EXIT(
      {
        char buf[KS_DIR_BUF_SIZE];
        CHILD_EXPECT(ks_smx_product_dir(buf, nullptr) == nullptr);
        Settings("[HKLM\\Software\\Fennick\\Sentrymon]\nDirectory=" +
                 win_root_ + "\\absent\n");
        CHILD_EXPECT(ks_smx_product_dir(buf, nullptr) == nullptr);
        Settings("[HKLM\\Software\\Fennick\\Sentrymon]\nDirectory=" +
                 win_root_ + "\\smx\n");
        CHILD_EXPECT_STREQ(ks_smx_product_dir(buf, "bin"),
                           win_root_ + "\\smx\\bin");
        _exit(0);
      },
      testing::ExitedWithCode(0), "");
}

TEST_F(KsProduct, SwitchesReadEitherVariableOnce) {
  EXPECT_EXIT(
      {
        setenv("QUILL_FORCE_GUI", "", 1);
        setenv("ORVEX_FORCE_GUI", "1", 1);
        setenv("QUILL_WEB_GUI", "0", 1);
        setenv("ORVEX_WEB_GUI", "1", 1);
        setenv("QUILL_CTE_DYNAMIC", "yes", 1);
        unsetenv("QUILL_WEB_QMPROMPT");
        setenv("ORVEX_WEB_QMPROMPT", "", 1);
        unsetenv("QUILL_NO_BOLD");
        setenv("ORVEX_NO_BOLD", "", 1);
        CHILD_EXPECT(ks_force_gui() == 1);
        CHILD_EXPECT(ks_web_gui() == 0);
        CHILD_EXPECT(ks_cte_dynamic() == 1);
        CHILD_EXPECT(ks_web_qmprompt() == 0);
        CHILD_EXPECT(ks_no_bold() == 1);

        // Setters change the environment, not a value already read.
        CHILD_EXPECT(ks_set_web_gui(1) == 0);
        CHILD_EXPECT_STREQ(getenv("QUILL_WEB_GUI"), "1");
        CHILD_EXPECT_STREQ(getenv("ORVEX_WEB_GUI"), "1");
        CHILD_EXPECT(ks_web_gui() == 0);
        CHILD_EXPECT(ks_set_force_gui(0) == 0);
        CHILD_EXPECT(getenv("QUILL_FORCE_GUI") == nullptr);
        CHILD_EXPECT(getenv("ORVEX_FORCE_GUI") == nullptr);
        CHILD_EXPECT(ks_force_gui() == 1);
        _exit(0);
      },
      testing::ExitedWithCode(0), "");
}

TEST_F(KsProduct, ConnectedSettingIsReadEveryTime) {
  EXPECT_EQ(ks_connected(), 1);  // nothing set
  EXPECT_EQ(ks_set_connected(0), 0);
  EXPECT_EQ(ks_connected(), 0);
  EXPECT_EQ(ks_set_connected(7), 0);
  EXPECT_EQ(ks_connected(), 1);
  Settings("[params]\n25=2\n");
  EXPECT_EQ(ks_connected(), 0);
  Settings("[params]\n25=garbage\n");
  EXPECT_EQ(ks_connected(), 1);
}

TEST_F(KsProduct, SystemInitRunsOnceAndAttachesTheCaller) {
  EXPECT_EXIT(
      {
        CHILD_EXPECT(ks_system_init() == 1);
        CHILD_EXPECT(ks_system_init() == 0);
        qmthread_t attached;
        qmthread_attached_tid(&attached);
        CHILD_EXPECT(pthread_equal(attached, pthread_self()));
        _exit(0);
      },
      testing::ExitedWithCode(0), "");
}

TEST_F(KsProduct, SystemInitWarnsOfAMissingProductGroup) {
  MakeDir("bin");
  std::ofstream(root_ + "/bin/qmtool.exe") << "";
  Settings("[params]\n8=" + win_root_ +
           "\n[accounts]\nproduct_group=no_such_group_here\n");
  EXPECT_EXIT(
      {
        ks_system_init();
        _exit(0);
      },
      testing::ExitedWithCode(0),
      "Can not find a group named \"no_such_group_here\"\\.");
}

TEST(KsVersion, LineHasNameVersionBuildTimeAndWidth) {
  char buf[KS_VERID_BUF_SIZE];
  EXPECT_EQ(liborvexks_sprint_verid(buf), buf);
  EXPECT_TRUE(testing::internal::RE::FullMatch(
      buf,
      "liborvexks {23} [0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+ "
      "\\((Sun|Mon|Tue|Wed|Thu|Fri|Sat) [A-Z][a-z]{2} [ 1-3][0-9] "
      "[0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}\\) 64-bit\n"))
      << buf;
  EXPECT_EQ(PlumbexIsRunning(), 0);
}

}  // namespace
