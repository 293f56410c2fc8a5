// Prompts on the console (standard input from a pipe and from a
// pseudo-terminal), through a window's procedures, through a stand-in
// prompting tool, and in a daemon; the parsers of answers. Switches,
// installation directories and daemon mode are read once per process, so
// those scenarios run in children.
#include <orvexks/imsg.h>
#include <orvexks/stg.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "msg/imsg_prompt.h"

namespace {

using env_list = std::vector<std::pair<const char *, std::string>>;

// Paths shared by a test and its re-executed child: the parent's pid
// travels in the environment.
std::string temp_path(const std::string &name) {
  if (std::getenv("IMSG_PROMPT_TEST_PID") == nullptr)
    setenv("IMSG_PROMPT_TEST_PID", std::to_string(getpid()).c_str(), 1);
  return std::string(::testing::TempDir()) + "imsg_prompt_" + name + "_" +
         std::getenv("IMSG_PROMPT_TEST_PID");
}

std::string slurp(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

struct child_run {
  std::string out, err, report;
};

// Runs body in a fresh child with `input` as its standard input (a pipe),
// `env` set, and standard output and error in files. What body returns is
// its report to the test.
child_run in_child(const std::string &input, const env_list &env,
                   const std::function<std::string()> &body) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string out_path = temp_path("out"), err_path = temp_path("err"),
                    report_path = temp_path("report");
  EXPECT_EXIT(
      {
        for (const auto &[name, value] : env) setenv(name, value.c_str(), 1);
        int in[2];
        if (pipe(in) != 0 || write(in[1], input.data(), input.size()) !=
                                 static_cast<ssize_t>(input.size()))
          _exit(3);
        close(in[1]);
        dup2(in[0], 0);
        std::fflush(nullptr);
        int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out, 1);
        dup2(err, 2);
        std::ofstream(report_path) << body();
        std::fflush(nullptr);
        _exit(0);
      },
      ::testing::ExitedWithCode(0), "");
  child_run run{slurp(out_path), slurp(err_path), slurp(report_path)};
  for (const std::string &path : {out_path, err_path, report_path})
    unlink(path.c_str());
  return run;
}

// The result of a text prompt and "[answer]", or "(null)" when none.
std::string text_answer(const std::function<int(char **)> &ask) {
  char *answer = nullptr;
  const int result = ask(&answer);
  std::string shown = answer != nullptr ? "[" + std::string(answer) + "]"
                                        : std::string("(null)");
  stg_free(answer);
  return std::to_string(result) + shown + ";";
}

std::string choices_answer(const std::function<int(int **)> &ask) {
  int *choices = nullptr;
  const int result = ask(&choices);
  std::string shown = std::to_string(result) + ":";
  for (int *c = choices; c != nullptr && *c != 0; ++c)
    shown += std::to_string(*c) + ",";
  stg_free(choices);
  return shown + ";";
}

TEST(ImsgPrompt, ConsoleTextAndFilePromptsReadLinesFromAPipe) {
  const std::string long_line(300, 'x');
  child_run run =
      in_child("plain\n\na\nb\n.\n.\n" + long_line + "\nreport.txt\n", {}, [] {
        std::string r;
        r += text_answer([&](char **answer) {
          return imsg_prompt_text("Name? ", nullptr, 0, answer);
        });
        r += text_answer([&](char **answer) {
          return imsg_prompt_text("Name?", "bob", 0, answer);
        });
        r += text_answer([&](char **answer) {
          return imsg_prompt_text("Lines:\n", nullptr, 1, answer);
        });
        r += text_answer([&](char **answer) {
          return imsg_prompt_text("More:\n", "old\ntext", 1, answer);
        });
        r += text_answer([&](char **answer) {
          return imsg_prompt_text("Long?", nullptr, 0, answer);
        });
        r += text_answer([&](char **answer) {
          return imsg_prompt_file("File?", "a.txt", "/tmp", "*.txt", answer);
        });
        // Input has ended: nothing entered, the default or no text.
        r += text_answer([&](char **answer) {
          return imsg_prompt_file("Again?", "a.txt", nullptr, nullptr, answer);
        });
        r += text_answer([&](char **answer) {
          return imsg_prompt_text("Last?", nullptr, 1, answer);
        });
        return r;
      });
  EXPECT_EQ(run.report, "2[plain];2[bob];2[a\nb\n];2[old\ntext];2[" +
                            long_line + "];2[report.txt];2[a.txt];2(null);");
  EXPECT_EQ(run.err,
            "Name? Name? [bob] Lines:\nLong?File? [a.txt] Again? [a.txt] "
            "Last?");
  EXPECT_EQ(run.out, "Default:\nold\ntext\nMore:  (\".\" to accept default)\n");
}

TEST(ImsgPrompt, ConsoleProceedAndYesNoMatchPrefixesAndAskAgain) {
  child_run run = in_child("  Y\n\nmaybe\nAB\na\np\n\n", {}, [] {
    std::string r;
    r += std::to_string(imsg_prompt_yes_no(IMSG_OK, "Go?", 0, 0)) + ",";
    r += std::to_string(imsg_prompt_yes_no(IMSG_OK, "Go?", 0, 8)) + ",";
    r += std::to_string(imsg_prompt_yes_no(IMSG_OK, "Go?", 0, 8)) + ",";
    // Proceed alone: abort is not offered, so "a" matches nothing.
    r += std::to_string(imsg_prompt_proceed(IMSG_ERROR, "On?", 2, 0)) + ",";
    r += std::to_string(imsg_prompt_proceed(IMSG_ERROR, "On?", 0, 7)) + ",";
    // End of input gives the default.
    r += std::to_string(
        imsg_prompt_yes_no(IMSG_OK, "Go?", IMSG_ANSWER_NO, IMSG_ANSWER_NO));
    return r;
  });
  EXPECT_EQ(run.report, "4,8,1,2,1,8");
  EXPECT_EQ(run.err,
            "Go? [yes] Go? [no] Go? [no] Go? [no] On? [proceed] On? [proceed] "
            "On? [abort] Go? [no] ");
  EXPECT_EQ(run.out,
            "Please answer with one of the following: yes, no, abort\n"
            "Please answer with one of the following: proceed\n");
}

TEST(ImsgPrompt, ConsoleListTakesNumbersUntilOneIsValid) {
  const std::string menu =
      "Pick\n\n1)\tred\n2)\tgreen\n3)\tblue\n\n"
      "Enter a value from 1-3, 0 to Cancel: \n";
  child_run run = in_child("5\nzero\n2 apples\n1,3;2\n1,4\n3\n0\n", {}, [] {
    const char *const items[] = {"red", "green", "blue", nullptr};
    std::string r;
    r += choices_answer([&](int **choices) {
      return imsg_prompt_list("Pick", items, nullptr, 0, choices);
    });
    r += choices_answer([&](int **choices) {
      return imsg_prompt_list("Pick", items, nullptr, 1, choices);
    });
    r += choices_answer([&](int **choices) {
      return imsg_prompt_list("Pick", items, nullptr, 1, choices);
    });
    r += choices_answer([&](int **choices) {
      return imsg_prompt_list("Pick", items, nullptr, 0, choices);
    });
    return r;
  });
  EXPECT_EQ(run.report, "2:2,;2:1,3,2,;2:3,;1:;");
  EXPECT_EQ(run.out, menu + "\n\n" + menu + "\n\n" + menu + menu + menu +
                         "\n\n" + menu + menu);
}

TEST(ImsgPrompt, PasswordOnATerminalIsReadWithoutEcho) {
  child_run run = in_child("", {}, [] {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
      return std::string("no pseudo-terminal");
    int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    dup2(slave, 0);
    dup2(slave, 2);
    // The terminal's side: waits for the question, notes whether echo is
    // on at that moment, answers, and keeps everything the terminal shows.
    std::string shown;
    bool echo_while_asked = true;
    std::thread user([&] {
      char buf[256];
      ssize_t n;
      while (shown.find("Password: ") == std::string::npos &&
             (n = read(master, buf, sizeof buf)) > 0)
        shown.append(buf, static_cast<size_t>(n));
      struct termios modes;
      tcgetattr(master, &modes);
      echo_while_asked = (modes.c_lflag & ECHO) != 0;
      if (write(master, "s3cret\n", 7) != 7) return;
      while (shown.find("\n", shown.find("Password: ")) == std::string::npos &&
             (n = read(master, buf, sizeof buf)) > 0)
        shown.append(buf, static_cast<size_t>(n));
    });
    std::string r = text_answer([&](char **answer) {
      return imsg_prompt_password("Password: ", answer);
    });
    user.join();
    struct termios after;
    tcgetattr(0, &after);
    r += echo_while_asked ? "echo on;" : "echo off;";
    r += (after.c_lflag & ECHO) != 0 ? "restored;" : "not restored;";
    r += shown.find("s3cret") == std::string::npos ? "hidden" : "shown";
    close(master);
    return r;
  });
  EXPECT_EQ(run.report, "2[s3cret];echo off;restored;hidden");
}

TEST(ImsgPrompt, PasswordFromAPipeIsReadAsItComes) {
  child_run run = in_child("\n", {}, [] {
    std::string r = text_answer([&](char **answer) {
      return imsg_prompt_password("Password: ", answer);
    });
    return r + text_answer([&](char **answer) {
             return imsg_prompt_password("Again: ", answer);
           });
  });
  EXPECT_EQ(run.report, "2[];1(null);");
  EXPECT_EQ(run.err, "Password: Again: ");
}

// ---- A window's procedures.

struct calls {
  std::vector<std::string> seen;
};

std::string str(const char *text) { return text != nullptr ? text : "null"; }

int text_proc(const char *text, const char *def, int multi, char **answer,
              void *data) {
  static_cast<calls *>(data)->seen.push_back(
      "text " + str(text) + " " + str(def) + " " + std::to_string(multi));
  *answer = stg_strdup("typed");
  return IMSG_PROMPT_ANSWERED;
}
int file_proc(const char *text, const char *def, const char *dir,
              const char *pattern, char **answer, void *data) {
  static_cast<calls *>(data)->seen.push_back("file " + str(text) + " " +
                                             str(def) + " " + str(dir) + " " +
                                             str(pattern));
  *answer = nullptr;
  return IMSG_PROMPT_NO_ANSWER;
}
int list_proc(const char *text, const char *const *items, void *reserved,
              int multi, int **choices, void *data) {
  static_cast<calls *>(data)->seen.push_back(
      "list " + str(text) + " " + str(items[1]) + " " +
      str(static_cast<const char *>(reserved)) + " " + std::to_string(multi));
  *choices = nullptr;
  return IMSG_PROMPT_ANSWERED;
}
int proceed_proc(int kind, const char *text, int mask, int def, void *data) {
  static_cast<calls *>(data)->seen.push_back(
      "proceed " + std::to_string(kind) + " " + str(text) + " " +
      std::to_string(mask) + " " + std::to_string(def));
  return IMSG_ANSWER_PROCEED;
}
int yes_no_proc(int kind, const char *text, int mask, int def, void *data) {
  static_cast<calls *>(data)->seen.push_back(
      "yes_no " + std::to_string(kind) + " " + str(text) + " " +
      std::to_string(mask) + " " + std::to_string(def));
  return IMSG_ANSWER_NO;
}
int password_proc(const char *text, char **answer, void *data) {
  static_cast<calls *>(data)->seen.push_back("password " + str(text));
  *answer = stg_strdup("pw");
  return IMSG_PROMPT_ANSWERED;
}

void window_writer(void *, const char *) {}

TEST(ImsgPrompt, AWindowsProceduresReceiveTheArgumentsAndAnswer) {
  calls record;
  const imsg_prompt_procs_t procs = {text_proc,    file_proc,   list_proc,
                                     proceed_proc, yes_no_proc, password_proc};
  imsg_use_prompt_procs(&procs, &record);
  const imsg_window_writers_t window = {window_writer, nullptr};
  imsg_use_window(&window);
  char *answer;
  int *choices;
  EXPECT_EQ(imsg_prompt_text("T", "d", 1, &answer), IMSG_PROMPT_ANSWERED);
  EXPECT_STREQ(answer, "typed");
  stg_free(answer);
  EXPECT_EQ(imsg_prompt_file("F", nullptr, "dir", "*.c", &answer),
            IMSG_PROMPT_NO_ANSWER);
  const char *const items[] = {"one", "two", nullptr};
  char reserved[] = "r";
  EXPECT_EQ(imsg_prompt_list("L", items, reserved, 1, &choices),
            IMSG_PROMPT_ANSWERED);
  // Masks and defaults arrive normalised: the default joins the mask.
  EXPECT_EQ(imsg_prompt_proceed(IMSG_WARNING, "P", 2, 9), IMSG_ANSWER_PROCEED);
  EXPECT_EQ(imsg_prompt_proceed(IMSG_WARNING, "P", 16, 1), IMSG_ANSWER_PROCEED);
  EXPECT_EQ(imsg_prompt_yes_no(IMSG_ERROR, "Y", 8 | 32, 0), IMSG_ANSWER_NO);
  EXPECT_EQ(imsg_prompt_yes_no(IMSG_ERROR, "Y", 0, 0), IMSG_ANSWER_NO);
  EXPECT_EQ(imsg_prompt_password("W", &answer), IMSG_PROMPT_ANSWERED);
  stg_free(answer);
  // A null data pointer clears the procedures.
  imsg_use_prompt_procs(&procs, nullptr);
  imsg_writer_t none[IMSG_REDIRECT_SLOTS] = {};
  for (imsg_writer_t &w : none) w = imsg_console_writer;
  imsg_set_redirect_procs(none, IMSG_REDIRECT_SLOTS, nullptr);
  EXPECT_EQ(record.seen,
            (std::vector<std::string>{"text T d 1", "file F null dir *.c",
                                      "list L two r 1", "proceed 4 P 2 2",
                                      "proceed 4 P 3 1", "yes_no 6 Y 8 8",
                                      "yes_no 6 Y 13 4", "password W"}));
}

TEST(ImsgPrompt, ProceduresWithoutAWindowLeaveTheQuestionToTheConsole) {
  child_run run = in_child("n\n", {}, [] {
    calls record;
    const imsg_prompt_procs_t procs = {nullptr, nullptr,     nullptr,
                                       nullptr, yes_no_proc, nullptr};
    imsg_use_prompt_procs(&procs, &record);
    const int answer = imsg_prompt_yes_no(IMSG_OK, "Go?", 0, 0);
    return std::to_string(answer) + " " + std::to_string(record.seen.size());
  });
  EXPECT_EQ(run.report, "8 0");
}

TEST(ImsgPrompt, ADaemonIsNeverAsked) {
  const std::string events = temp_path("events");
  child_run run = in_child("yes\n", {{"ORVEX_EVENTLOG", events}}, [] {
    if (imsg_init_daemon() != 0) return std::string("no daemon mode");
    char *answer = nullptr;
    int *choices = nullptr;
    const char *const items[] = {"a", nullptr};
    std::string r =
        std::to_string(imsg_prompt_text("T", "d", 0, &answer)) +
        std::to_string(imsg_prompt_password("P", &answer)) +
        std::to_string(imsg_prompt_list("L", items, nullptr, 0, &choices)) +
        std::to_string(imsg_prompt_yes_no(0, "Y", 0, 4)) +
        std::to_string(imsg_prompt_proceed(0, "P", 0, 2)) +
        std::to_string(imsg_prompt_txt_list("L", "f", 0, &choices));
    // The answer is still waiting on standard input.
    char left[8] = {};
    return r + (std::fgets(left, sizeof left, stdin) != nullptr ? left : "");
  });
  unlink(events.c_str());
  EXPECT_EQ(run.report, "111111yes\n");
}

// ---- The prompting tool.

// An installation tree whose bin directory may hold a stand-in qmprompt
// that records its arguments and answers as the test tells it.
class ImsgPromptTool : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = temp_path("install");
    std::string cmd = "rm -rf '" + root_ + "' && mkdir -p '" + root_ + "/bin'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::ofstream(root_ + "/registry.ini")
        << "[params]\n8=c:" << windows_form(root_) << "\n";
  }
  void TearDown() override {
    std::string cmd = "rm -rf '" + root_ + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }
  static std::string windows_form(std::string path) {
    for (char &c : path)
      if (c == '/') c = '\\';
    return path;
  }
  // The tool writes its arguments, one a line, to args.<command>, copies
  // $QMPROMPT_ANSWER into the file after "-outfile", and exits with
  // $QMPROMPT_EXIT.
  void InstallTool() {
    const std::string tool = root_ + "/bin/qmprompt";
    std::ofstream(tool) << "#!/bin/sh\n"
                           "printf '%s\\n' \"$@\" > \"$QMPROMPT_DIR/args.$1\"\n"
                           "while [ $# -gt 0 ]; do\n"
                           "  if [ \"$1\" = -outfile ]; then\n"
                           "    printf '%s' \"$QMPROMPT_ANSWER\" > \"$2\"\n"
                           "  fi\n"
                           "  shift\n"
                           "done\n"
                           "exit \"${QMPROMPT_EXIT:-0}\"\n";
    chmod(tool.c_str(), 0755);
  }
  env_list Env() const {
    return {{"ORVEX_REGISTRY", root_ + "/registry.ini"},
            {"ORVEX_FORCE_GUI", "1"},
            {"QMPROMPT_DIR", root_}};
  }
  std::string Args(const std::string &command) const {
    return slurp(root_ + "/args." + command);
  }

  std::string root_;
};

// Sets what the stand-in tool answers next.
void tool_answers(const char *answer, const char *exit_code) {
  setenv("QMPROMPT_ANSWER", answer, 1);
  setenv("QMPROMPT_EXIT", exit_code, 1);
}

TEST_F(ImsgPromptTool, AnswersComeFromTheToolsFileAndExitStatus) {
  InstallTool();
  child_run run = in_child("", Env(), [] {
    std::string r;
    tool_answers("from \"tool\"\n", "0");
    r += text_answer([&](char **answer) {
      return imsg_prompt_text("Say \"hi\"", "d", 1, answer);
    });
    tool_answers("ignored", "2");
    r += text_answer([&](char **answer) {
      return imsg_prompt_password("Password", answer);
    });
    tool_answers("x.c", "0");
    r += text_answer([&](char **answer) {
      return imsg_prompt_file("F", nullptr, "dir", "*.c", answer);
    });
    const char *const items[] = {"a", "b", "c", nullptr};
    tool_answers("3, 1 and 0", "0");
    r += choices_answer([&](int **choices) {
      return imsg_prompt_list("L", items, nullptr, 1, choices);
    });
    tool_answers("2: second\nnone\n12:twelfth", "0");
    r += choices_answer([&](int **choices) {
      return imsg_prompt_txt_list("T", "items.txt", 0, choices);
    });
    for (const char *code : {"0", "1", "3"}) {
      tool_answers("", code);
      r += std::to_string(imsg_prompt_yes_no(IMSG_WARNING, "Y", 0, 8)) + ",";
      r += std::to_string(imsg_prompt_proceed(IMSG_ERROR, "P", 0, 0)) + ";";
    }
    return r;
  });
  EXPECT_EQ(run.report,
            "2[from \"tool\"\n];1(null);2[x.c];2:3,1,;2:2,12,;4,2;8,1;1,1;");
  // Each argument arrives as it is; the answer file is gone afterwards.
  const std::string text_args = Args("text");
  const size_t outfile = text_args.find("-outfile\n") + 9;
  const std::string answer_file =
      text_args.substr(outfile, text_args.find('\n', outfile) - outfile);
  EXPECT_EQ(text_args, "text\n-prompt\nSay \"hi\"\n-outfile\n" + answer_file +
                           "\n-multi_line\n-default\nd\n");
  EXPECT_NE(access(answer_file.c_str(), F_OK), 0) << answer_file;
  EXPECT_EQ(Args("password").substr(0, 30),
            "password\n-prompt\nPassword\n-out");
  EXPECT_NE(Args("file").find("\n-pattern\n*.c\n-directory\ndir\n"),
            std::string::npos)
      << Args("file");
  EXPECT_NE(Args("list").find("\n-dfile\nitems.txt\n-prefer_gui\n"),
            std::string::npos)
      << Args("list");
  EXPECT_EQ(Args("yes_no"),
            "yes_no\n-prompt\nY\n-type\nwarning\n-default\nno\n-mask\n"
            "abort,yes,no\n");
  EXPECT_EQ(Args("proceed"),
            "proceed\n-prompt\nP\n-type\nerror\n-default\nabort\n-mask\n"
            "abort,proceed\n");
}

TEST_F(ImsgPromptTool, ListItemsAndChoicesReachTheTool) {
  InstallTool();
  child_run run = in_child("", Env(), [] {
    std::vector<std::string> names(120, "item");
    std::vector<const char *> items;
    for (const std::string &name : names) items.push_back(name.c_str());
    items.push_back(nullptr);
    tool_answers("7", "0");
    return choices_answer([&](int **choices) {
      return imsg_prompt_list("L", items.data(), nullptr, 1, choices);
    });
  });
  EXPECT_EQ(run.report, "2:7,;");
  std::string numbers;
  for (int i = 1; i <= 100; ++i)
    numbers += (i > 1 ? "," : "") + std::to_string(i);
  EXPECT_NE(
      Args("list").find("\n-items\n" + numbers + "\n-choices\n-prefer_gui\n"),
      std::string::npos)
      << Args("list");
}

TEST_F(ImsgPromptTool, AMissingToolLeavesEveryPromptUnanswered) {
  child_run run = in_child("yes\n", Env(), [] {
    char *answer;
    int *choices;
    const char *const items[] = {"a", nullptr};
    return std::to_string(imsg_prompt_text("T", "d", 0, &answer)) +
           std::to_string(
               imsg_prompt_file("F", "d", nullptr, nullptr, &answer)) +
           std::to_string(imsg_prompt_list("L", items, nullptr, 0, &choices)) +
           std::to_string(imsg_prompt_yes_no(0, "Y", 0, 4)) +
           std::to_string(imsg_prompt_proceed(0, "P", 0, 2));
  });
  EXPECT_EQ(run.report, "11111");
  EXPECT_EQ(run.err, "");
}

TEST(ImsgPrompt, TextFileListNeedsTheToolsSwitches) {
  int *choices = reinterpret_cast<int *>(&choices);
  EXPECT_EQ(imsg_prompt_txt_list("T", "items.txt", 0, &choices),
            IMSG_PROMPT_ANSWERED);
  EXPECT_EQ(choices, nullptr);
}

TEST(ImsgPrompt, ReadOutfileReturnsTheWholeFile) {
  EXPECT_EQ(imsg_read_outfile("/nonexistent/answer"), nullptr);
  const std::string path = temp_path("outfile");
  std::string content;
  for (int i = 0; i < 100; ++i) content += "line " + std::to_string(i) + "\n";
  for (const std::string &text :
       {std::string(), std::string(127, 'a'), std::string(128, 'b'), content}) {
    std::ofstream(path, std::ios::binary) << text;
    char *read = imsg_read_outfile(path.c_str());
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read, text);
    stg_free(read);
  }
  unlink(path.c_str());
}

// ---- Parsers of answers.

TEST(ImsgPromptParse, WordsMatchByPrefixAndAmbiguityIsReported) {
  // Translated words may share a beginning.
  const ksi_prompt_word words[] = {{4, "ja"}, {8, "nein"}, {1, "jamais"}};
  EXPECT_EQ(ksi_prompt_match("n", words, 3), 8);
  EXPECT_EQ(ksi_prompt_match("ja", words, 3), -1);
  EXPECT_EQ(ksi_prompt_match("jam", words, 3), 1);
  EXPECT_EQ(ksi_prompt_match("x", words, 3), 0);
  EXPECT_EQ(ksi_prompt_match("neinx", words, 3), 0);
  char out[8];
  EXPECT_FALSE(ksi_prompt_normalise(" \t \r", out, sizeof out));
  EXPECT_TRUE(ksi_prompt_normalise("\t YeS \r", out, sizeof out));
  EXPECT_STREQ(out, "yes");
  EXPECT_TRUE(ksi_prompt_normalise("ABCDEFGHIJ", out, sizeof out));
  EXPECT_STREQ(out, "abcdefg");
}

TEST(ImsgPromptParse, ChoiceNumbersAreBoundedAndSaturate) {
  int out[kKsiMaxChoices];
  EXPECT_EQ(ksi_prompt_parse_choices("99999999999999", 5, false, out, 4), -1);
  EXPECT_EQ(ksi_prompt_parse_choices("-1", 5, false, out, 4), -1);
  EXPECT_EQ(ksi_prompt_parse_choices("", 5, true, out, 4), -1);
  EXPECT_EQ(ksi_prompt_parse_choices(" 0,1", 5, true, out, 4), 0);
  EXPECT_EQ(ksi_prompt_parse_choices("1 2 3 4 5", 5, true, out, 4), 4);
  EXPECT_EQ(ksi_prompt_parse_choices("1,2,0,9", 5, true, out, 4), 2);
  EXPECT_EQ(ksi_prompt_parse_choices("1,-2", 5, true, out, 4), -1);
  std::string many;
  for (int i = 0; i < 200; ++i) many += "7 ";
  EXPECT_EQ(ksi_prompt_digit_runs(many.c_str(), out, kKsiMaxChoices),
            kKsiMaxChoices);
  EXPECT_EQ(ksi_prompt_digit_runs("a99999999999b0c5", out, 4), 2);
  EXPECT_EQ(out[0], 2147483647);
  EXPECT_EQ(out[1], 5);
  EXPECT_EQ(ksi_prompt_line_numbers("4:x\n\n:5\n06\n", out, 4), 2);
  EXPECT_EQ(out[0], 4);
  EXPECT_EQ(out[1], 6);
}

}  // namespace
