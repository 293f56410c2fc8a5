// Message delivery: kinds, prefixes and streams, redirection slots and
// writers, long messages, style markers on a terminal, log files and the
// event-log file. Settings read from the environment on first use are
// tested in forked children, which start with fresh message state.
#include <poll.h>
#include <pty.h>

#include "msg_fixture.h"

#define EXPECT_CONTAINS(text, part) \
  EXPECT_NE((text).find(part), std::string::npos) << (text)
#define EXPECT_ENDS(text, tail)                                        \
  EXPECT_TRUE((text).size() >= std::string(tail).size() &&             \
              (text).compare((text).size() - std::string(tail).size(), \
                             std::string::npos, tail) == 0)            \
      << (text)

namespace {

using namespace msg_test;

const char *const kTexts[] = {"Disk %s is full\n",
                              "line one\nline two\nline three\n"};
const int16_t kIds[] = {1, 2};
const ks_msg_table_t kTable = {"ks_lib", "qmtest", 6, 2, kTexts, kIds};

// The text with every digit replaced by 9, for lines that carry a clock.
std::string digits_as_nines(std::string text) {
  for (char &c : text)
    if (c >= '0' && c <= '9') c = '9';
  return text;
}

TEST(ImsgPrint, KindsReachTheirStreamsWithTheirPrefixes) {
  child_run got = in_child({}, [] {
    imsg_set_app_name("/opt/quill/bin/qmtool.exe");
    imsg_print(IMSG_OK, &kTable, 0, "C:");
    imsg_print(IMSG_OUTPUT_ALT, "raw %d\n", -1, 7);
    imsg_print(IMSG_WARNING, &kTable, 0, "D:");
    imsg_print(IMSG_ERROR, &kTable, 0, "E:");
    imsg_print_shared(IMSG_TRACE, "ks/rt", &kTable, 0, "F:");
    imsg_print(IMSG_ERROR_PLAIN, &kTable, 0, "G:");
  });
  EXPECT_EQ(got.out, "Disk C: is full\nraw 7\n");
  EXPECT_EQ(digits_as_nines(got.err),
            "qmtool: Warning: Disk D: is full\n"
            "qmtool: Error: Disk E: is full\n"
            ">>> 99:99:99.999 (qmtool): Disk F: is full\n"
            "Disk G: is full\n");
}

// A message goes out in one write of its own only when the stream holds
// nothing buffered: text the program left in the stream's buffer (standard
// output to a file is fully buffered) still comes first.
TEST(ImsgPrint, TextBufferedInTheStreamStaysBeforeTheMessage) {
  child_run got = in_child({}, [] {
    std::fputs("buffered ", stdout);
    imsg_print(IMSG_OUTPUT, "first\n", -1);
    imsg_print(IMSG_OUTPUT, "second\n", -1);
    std::fputs("after\n", stdout);
  });
  EXPECT_EQ(got.out, "buffered first\nsecond\nafter\n");
}

TEST(ImsgPrint, SubsystemAndOkPrefixFollowTheEnvironment) {
  child_run got = in_child({{"PRINT_SUBSYS_OK", "1"}}, [] {
    imsg_set_app_name("qmtool");
    imsg_print(IMSG_OK, "raw\n", -1);
    imsg_print(IMSG_OK, &kTable, 0, "A:");
    imsg_print_shared(IMSG_ERROR, "ks/stg", &kTable, 0, "B:");
    imsg_output_subsys(0);
    imsg_print(IMSG_ERROR, &kTable, 0, "C:");
  });
  EXPECT_EQ(got.out, "qmtool: Ok: raw\nqmtool/qmtest: Ok: Disk A: is full\n");
  EXPECT_EQ(got.err,
            "qmtool/ks/stg: Error: Disk B: is full\nqmtool: Error: Disk C: is "
            "full\n");
}

TEST(ImsgPrint, UnknownKindAndBadTableReportAndStillDeliver) {
  child_run got = in_child({}, [] {
    imsg_print(42, "odd\n", -1);
    imsg_print(IMSG_ERROR, nullptr, 3);
    imsg_print(IMSG_ERROR, &kTable, 2);
  });
  EXPECT_CONTAINS(got.err, ("Unknown message type 42 in file lib/ks/imsg"));
  EXPECT_CONTAINS(got.err, ("System message: odd\n"));
  EXPECT_CONTAINS(got.err,
                  ("IMSG Internal error (print_sharedv) - tbl 0, num 3."));
  EXPECT_CONTAINS(got.err, ("IMSG Internal error (vsprintf) - tbl "));
}

TEST(ImsgPrint, SlotsChooseWritersAndSaveRestore) {
  console_again restore;
  std::vector<std::string> slot0, slot2, errors;
  imsg_writer_t procs[IMSG_REDIRECT_SLOTS];
  for (imsg_writer_t &w : procs) w = imsg_discard_writer;
  procs[0] = collect;
  imsg_set_redirect_procs(procs, IMSG_REDIRECT_SLOTS, &slot0);
  EXPECT_EQ(imsg_in_gui(), 1);
  imsg_print(IMSG_OK, "zero\n", -1);
  imsg_print(IMSG_INFO, "two\n", -1);  // slot 2 discards: nothing
  procs[2] = imsg_console_writer;      // slot 2 "none": through slot 0
  imsg_set_redirect_procs(procs, 3, &slot0);
  imsg_print(IMSG_INFO, "two again\n", -1);
  EXPECT_EQ(slot0, (std::vector<std::string>{"zero\n", "two again\n"}));

  imsg_writer_t saved[IMSG_REDIRECT_SLOTS];
  void *arg = nullptr;
  imsg_get_redirect_procs(IMSG_REDIRECT_SLOTS, saved, &arg);
  EXPECT_EQ(saved[0], collect);
  EXPECT_EQ(saved[1], imsg_discard_writer);
  EXPECT_EQ(saved[2], imsg_console_writer);
  EXPECT_EQ(arg, &slot0);

  // Output and error writers through the relays: kind 0 and 1 go to the
  // output writer, kinds 4 to 9 to the error writer.
  imsg_redirect_output(collect, &slot2, collect, &errors);
  imsg_writer_t out_w, err_w;
  void *out_a, *err_a;
  imsg_get_redirect_info(&out_w, &out_a, &err_w, &err_a);
  EXPECT_EQ(out_w, collect);
  EXPECT_EQ(err_a, &errors);
  imsg_print(IMSG_OUTPUT, "out\n", -1);
  imsg_print(IMSG_TRACE_PLAIN, "trace\n", -1);
  imsg_print(IMSG_ERROR_PLAIN, "err\n", -1);
  EXPECT_EQ(slot2, (std::vector<std::string>{"out\n"}));
  EXPECT_EQ(errors, (std::vector<std::string>{"trace\n", "err\n"}));

  imsg_window_writers_t window = {collect, &slot2};
  imsg_use_window(&window);
  imsg_suppress_prefix(1);
  imsg_print(IMSG_ERROR, &kTable, 0, "W:");
  EXPECT_EQ(slot2.back(), "Disk W: is full\n");
}

// A message printed while another is being composed (here: the report of
// a bad insert list) has a buffer of its own; the outer message keeps its
// prefix. The first print makes the shared buffer exist.
TEST(ImsgPrint, NestedPrintLeavesTheOuterMessageAlone) {
  console_again restore;
  std::vector<std::string> got;
  imsg_redirect_output(collect, &got, collect, &got);
  imsg_print(IMSG_OUTPUT, "first\n", -1);
  imsg_print(IMSG_WARNING, "%1!I64d!%2!d!%3!d!%4!d!%5!d!%6!d!%7!d!%8!d!%9!d!",
             -1, 1LL, 2, 3, 4, 5, 6, 7, 8, 9);
  imsg_print(IMSG_OUTPUT, "last\n", -1);
  EXPECT_EQ(got, (std::vector<std::string>{
                     "first\n",
                     "noname: Error: Internal Error, too many directives.\n",
                     "noname: Warning: ", "last\n"}));
}

// With IMSG_DUP_OUTPUT on, a message for a caller's writer is also written
// to the console, on the stream of the slot's kind: alternate output (slot
// 3) is output.
TEST(ImsgPrint, DuplicatedAlternateOutputGoesToStandardOutput) {
  child_run got = in_child({{"IMSG_DUP_OUTPUT", "1"}}, [] {
    std::vector<std::string> alt;
    imsg_writer_t procs[IMSG_REDIRECT_SLOTS];
    for (imsg_writer_t &w : procs) w = imsg_console_writer;
    procs[IMSG_OUTPUT_ALT] = collect;
    imsg_set_redirect_procs(procs, IMSG_REDIRECT_SLOTS, &alt);
    imsg_print(IMSG_OUTPUT_ALT, "alternate\n", -1);
    if (alt != std::vector<std::string>{"alternate\n"}) _exit(3);
  });
  EXPECT_EQ(got.out, "alternate\n");
  EXPECT_EQ(got.err, "");
}

TEST(ImsgPrint, LongMessagesGrowTheSharedBuffer) {
  console_again restore;
  std::vector<std::string> got;
  imsg_redirect_output(collect, &got, collect, &got);
  std::string big(50000, 'q');
  imsg_print(IMSG_OUTPUT, "%s|%s\n", -1, big.c_str(), big.c_str());
  imsg_print(IMSG_OUTPUT, "short\n", -1);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], big + "|" + big + "\n");
  EXPECT_EQ(got[1], "short\n");
}

TEST(ImsgPrint, StyleMarkersAreBoldOnATerminalOnly) {
  const char text[] =
      "\x01\x01"
      "1Bbold\x01\x01"
      "0B plain\n";
  // Through a pipe (a file here) the markers vanish.
  child_run piped =
      in_child({{"TERM", "xterm"}}, [&] { imsg_fputs(text, stdout); });
  EXPECT_EQ(piped.out, "bold plain\n");

  // On a terminal bold becomes escape sequences unless TERM is dumb. The
  // child reads its terminal back and reports it on standard error.
  for (const char *term : {"xterm", "dumb"}) {
    child_run got = in_child({{"TERM", term}}, [&] {
      int master, slave;
      if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) _exit(3);
      std::fflush(nullptr);
      dup2(slave, 1);
      if (imsg_fputs(text, stdout) != 0) _exit(4);
      // The text may arrive in more than one write: read up to the line's end.
      std::string seen;
      pollfd ready = {master, POLLIN, 0};
      char buf[256];
      while (seen.find('\n') == std::string::npos &&
             poll(&ready, 1, 2000) == 1) {
        ssize_t n = read(master, buf, sizeof buf);
        if (n <= 0) break;
        seen.append(buf, static_cast<size_t>(n));
      }
      std::fwrite(seen.data(), 1, seen.size(), stderr);
    });
    if (std::string(term) == "xterm")
      EXPECT_EQ(got.err, "\033[1mbold\033[22m plain\r\n");
    else
      EXPECT_EQ(got.err, "bold plain\r\n");
  }
}

TEST(ImsgPrint, LogFileTakesEveryKindAndCountsStarts) {
  console_again restore;
  std::string path = temp_path("log");
  std::vector<std::string> writer_saw;
  imsg_redirect_output(collect, &writer_saw, collect, &writer_saw);
  FILE *log = imsg_start_log_file(path.c_str());
  ASSERT_NE(log, nullptr);
  ASSERT_NE(log, stderr);
  imsg_print(IMSG_OUTPUT, "to the log\n", -1);
  imsg_print(IMSG_ERROR, &kTable, 0, "L:");
  EXPECT_EQ(imsg_start_log_file(path.c_str()), log);  // only another header
  imsg_end_log_file();
  imsg_print(IMSG_OUTPUT, "still the log\n", -1);
  imsg_end_log_file();
  imsg_end_log_file();  // one end too many does nothing
  imsg_print(IMSG_OUTPUT, "writer again\n", -1);
  EXPECT_EQ(writer_saw, (std::vector<std::string>{"writer again\n"}));

  std::string text = slurp(path);
  unlink(path.c_str());
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos;
       at = end + 1)
    lines.push_back(text.substr(at, end - at));
  ASSERT_EQ(lines.size(), 9u) << text;
  const std::string stars(67, '*');
  const std::string pid_user =
      ", pid " + std::to_string(getpid()) + ", user \"";
  for (size_t header : {1u, 6u}) {
    EXPECT_EQ(lines[header - 1], "");
    EXPECT_EQ(lines[header], stars);
    EXPECT_NE(lines[header + 1].find(". host \""), std::string::npos) << text;
    EXPECT_NE(lines[header + 1].find(pid_user), std::string::npos) << text;
  }
  EXPECT_EQ(lines[3], "to the log");
  // With a log stream active the subsystem is shown.
  EXPECT_ENDS(lines[4], "/qmtest: Error: Disk L: is full");
  EXPECT_EQ(lines[8], "still the log");
}

TEST(ImsgPrint, UnopenableLogFileFallsBackToStandardError) {
  child_run got = in_child({}, [] {
    FILE *log = imsg_start_log_file("/nonexistent-dir/sub/x.log");
    if (log != stderr) _exit(3);
    imsg_print(IMSG_OUTPUT, "into stderr\n", -1);
    imsg_end_log_file();
    imsg_print(IMSG_OUTPUT, "into stdout\n", -1);
  });
  EXPECT_CONTAINS(got.err, (std::string(67, '*')));
  EXPECT_ENDS(got.err, ("into stderr\n"));
  EXPECT_EQ(got.out, "into stdout\n");
}

TEST(ImsgPrint, EventLogFileGetsOneRecordPerMessage) {
  std::string events = temp_path("events");
  child_run got = in_child({{"ORVEX_EVENTLOG", events.c_str()}}, [] {
    imsg_set_app_name("C:\\quill\\bin\\QMTOOL.exe");
    if (imsg_start_log() != stderr) _exit(3);
    imsg_print(IMSG_ERROR_PLAIN, &kTable, 1);
    imsg_print(IMSG_WARNING, &kTable, 0, "E:");
    imsg_print(IMSG_OK, "final newline goes\n", -1);
    imsg_set_app_name("someprog");
    imsg_print(IMSG_OUTPUT,
               "\x01\x01"
               "1Bstyled\x01\x01"
               "0B\n",
               -1);
    imsg_end_log();
    imsg_print(IMSG_OUTPUT, "console again %s\n", -1, imsg_get_app_name());
  });
  EXPECT_EQ(slurp(events),
            "[1024/22] line one\r\nline two\r\nline three\r\n\n"
            "[1024/22] QMTOOL/qmtest: Warning: Disk E: is full\n"
            "[1024/22] final newline goes\n"
            "[1024/8] styled\n");
  EXPECT_EQ(got.out, "console again someprog\n");
  unlink(events.c_str());
}

// Of the 102 line breaks of a 102-line message the first 100 get a
// carriage return; the rest stay bare.
TEST(ImsgPrint, EventLogTextGetsAtMostOneHundredCarriageReturns) {
  std::string events = temp_path("events");
  in_child({{"ORVEX_EVENTLOG", events.c_str()}}, [] {
    std::string lines;
    for (int i = 0; i < 102; ++i) lines += "line\n";
    imsg_start_log();
    imsg_print(IMSG_OUTPUT, "%s", -1, lines.c_str());
    imsg_end_log();
  });
  std::string expected;
  for (int i = 0; i < 100; ++i) expected += "line\r\n";
  expected += "line\nline\n";
  std::string record = slurp(events);
  ASSERT_NE(record.find("] "), std::string::npos) << record;
  EXPECT_EQ(record.substr(record.find("] ") + 2), expected + "\n");
  unlink(events.c_str());
}

TEST(ImsgPrint, EventTypesOfKinds) {
  const int expected[] = {4, 4, 4, 4, 2, 2, 1, 1, 4, 4, 1};
  for (int kind = 0; kind <= IMSG_OTHER; ++kind)
    EXPECT_EQ(imsg_nt_event_type(kind), expected[kind]) << kind;
  EXPECT_EQ(imsg_nt_event_type(99), 1);
}

}  // namespace
