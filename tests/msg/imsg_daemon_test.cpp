// Daemon mode end to end, in child processes: what the daemon writes to its
// standard output and error reaches the event-log file line by line, in
// order and before the library's own messages; set-up failures fall back.
#include "msg_fixture.h"

namespace {

using namespace msg_test;

// Each scenario runs in a child with the event log in a scratch file.
class ImsgDaemon : public ::testing::Test {
 protected:
  void SetUp() override { unlink(events_.c_str()); }
  void TearDown() override { unlink(events_.c_str()); }
  child_run in_daemon_child(const std::function<void()> &body) {
    return in_child({{"ORVEX_EVENTLOG", events_}}, body);
  }
  std::string events_ = temp_path("events");
};

TEST_F(ImsgDaemon, CapturedTextPrecedesTheLibrarysMessages) {
  in_daemon_child([] {
    imsg_set_app_name("qmlockd");
    if (imsg_init_daemon() != 0 || imsg_init_daemon() != 0) _exit(3);
    if (imsg_am_daemon() != 1) _exit(4);
    std::printf("first from printf\n");
    std::fflush(stdout);
    const char second[] = "second from write\r\n";
    if (write(2, second, sizeof second - 1) < 0) _exit(5);
    std::printf("\n  \t \n");
    std::printf("%s\n", std::string(300, 'x').c_str());
    std::printf("buffered before the message\n");  // still in stdio's buffer
    imsg_print(IMSG_ERROR, "library message %d\n", -1, 1);
    std::printf("after\n");
    imsg_drain_pipes();
  });
  EXPECT_EQ(slurp(events_),
            "[1024/3] first from printf\n"
            "[1024/3] second from write\n"
            "[1024/3] " +
                std::string(200, 'x') + "\n" +
                "[1024/3] buffered before the message\n"
                "[1024/3] qmlockd: Error: library message 1\n"
                "[1024/3] after\n");
}

TEST_F(ImsgDaemon, LogFileTakesCapturedLinesAndSuspendSwitchesStreams) {
  std::string log = temp_path("log");
  in_daemon_child([&] {
    if (imsg_init_daemon() != 0) _exit(3);
    imsg_start_log_file(log.c_str());
    std::printf("captured into the log\n");
    imsg_print(IMSG_OUTPUT, "library line\n", -1);
    imsg_end_log_file();
    imsg_suspend_daemon_logging();
    imsg_resume_daemon_logging();
    imsg_print(IMSG_OK, "resumed\n", -1);
  });
  std::string text = slurp(log);
  unlink(log.c_str());
  EXPECT_NE(text.find("captured into the log\nlibrary line\n"),
            std::string::npos)
      << text;
  // Resuming turns on the informational prefix.
  EXPECT_EQ(slurp(events_), "[1024/8] noname: Ok: resumed\n");
}

TEST_F(ImsgDaemon, LighterModeSendsMessagesToTheEventLog) {
  in_daemon_child([] {
    if (imsg_init_abe() != 0 || imsg_am_daemon() != 1) _exit(3);
    imsg_print(IMSG_WARNING, "two\nlines\n", -1);
  });
  EXPECT_EQ(slurp(events_), "[1024/8] noname: Warning: two\r\nlines\r\n\n");
}

TEST_F(ImsgDaemon, FailuresLeaveTheStandardStreams) {
  events_ = "/nonexistent-dir/events";
  std::string err = in_daemon_child([] {
                      if (imsg_init_daemon() != -1 || imsg_init_abe() != -1)
                        _exit(3);
                      if (imsg_am_daemon() != 0) _exit(4);
                      imsg_suspend_daemon_logging();
                      imsg_resume_daemon_logging();
                      imsg_print(IMSG_ERROR, "still on stderr\n", -1);
                    }).err;
  std::string enoent =
      "Can't open event log (" + std::to_string(ENOENT) + ")\n";
  EXPECT_EQ(err.rfind(enoent + enoent, 0), 0u) << err;
  size_t suspend =
      err.find("Can't suspend daemon logging, process not a daemon: ");
  size_t resume =
      err.find("Can't resume daemon logging, process not a daemon: ");
  EXPECT_TRUE(suspend != std::string::npos && resume > suspend) << err;
  EXPECT_NE(err.find("\nnoname: Error: still on stderr\n"), std::string::npos)
      << err;
}

}  // namespace
