// Prompts on the console (standard input from a pipe and from a
// pseudo-terminal), through a window's procedures, through a stand-in
// prompting tool, and in a daemon; the parsers of answers. Switches,
// installation directories and daemon mode are read once per process, so
// those scenarios run in children.
#include <orvexks/stg.h>

#include <sys/stat.h>
#include <termios.h>

#include <cstdarg>
#include <cstring>
#include <thread>

#include "msg/imsg_prompt.h"
#include "msg_fixture.h"

namespace {

using namespace msg_test;

// What prompts answered, as text: a text prompt's result and "[answer]"
// or "(null)", a list prompt's result and its choices. Each prompt stores
// its answer in `text` or `choices`, read after the prompt has returned.
struct answers {
  char *text = nullptr;
  int *choices = nullptr;
  std::string seen;

  void shown(int result) {
    seen += std::to_string(result) +
            (text != nullptr ? "[" + std::string(text) + "]" : "(null)") + ";";
    stg_free(text);
    text = nullptr;
  }
  void chosen(int result) {
    seen += std::to_string(result) + ":";
    for (int *c = choices; c != nullptr && *c != 0; ++c)
      seen += std::to_string(*c) + ",";
    seen += ";";
    stg_free(choices);
    choices = nullptr;
  }
};

// ---- A window's procedures: each notes its arguments in the list that
// the data pointer designates.

void note(void *data, const char *format, ...) {
  char line[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  static_cast<std::vector<std::string> *>(data)->push_back(line);
}
const char *str(const char *text) { return text != nullptr ? text : "null"; }

int text_proc(const char *text, const char *def, int multi, char **answer,
              void *data) {
  note(data, "text %s %s %d", text, str(def), multi);
  *answer = stg_strdup("typed");
  return IMSG_PROMPT_ANSWERED;
}
int file_proc(const char *text, const char *def, const char *dir,
              const char *pattern, char **, void *data) {
  note(data, "file %s %s %s %s", text, str(def), str(dir), str(pattern));
  return IMSG_PROMPT_NO_ANSWER;
}
int list_proc(const char *text, const char *const *items, void *reserved,
              int multi, int **, void *data) {
  note(data, "list %s %s %s %d", text, items[1],
       static_cast<const char *>(reserved), multi);
  return IMSG_PROMPT_ANSWERED;
}
int proceed_proc(int kind, const char *text, int mask, int def, void *data) {
  note(data, "proceed %d %s %d %d", kind, text, mask, def);
  return IMSG_ANSWER_PROCEED;
}
int yes_no_proc(int kind, const char *text, int mask, int def, void *data) {
  note(data, "yes_no %d %s %d %d", kind, text, mask, def);
  return IMSG_ANSWER_NO;
}
int password_proc(const char *text, char **answer, void *data) {
  note(data, "password %s", text);
  *answer = stg_strdup("pw");
  return IMSG_PROMPT_ANSWERED;
}
const imsg_prompt_procs_t kProcs = {text_proc,    file_proc,   list_proc,
                                    proceed_proc, yes_no_proc, password_proc};

void window_writer(void *, const char *) {}

TEST(ImsgPrompt, AWindowsProceduresReceiveTheArgumentsAndAnswer) {
  std::vector<std::string> calls;
  imsg_use_prompt_procs(&kProcs, &calls);
  const imsg_window_writers_t window = {window_writer, nullptr};
  imsg_use_window(&window);
  answers a;
  a.shown(imsg_prompt_text("T", "d", 1, &a.text));
  a.shown(imsg_prompt_file("F", nullptr, "dir", "*.c", &a.text));
  const char *const items[] = {"one", "two", nullptr};
  char reserved[] = "r";
  a.chosen(imsg_prompt_list("L", items, reserved, 1, &a.choices));
  // Masks and defaults arrive normalised: the default joins the mask.
  a.seen += std::to_string(imsg_prompt_proceed(IMSG_WARNING, "P", 2, 9));
  a.seen += std::to_string(imsg_prompt_proceed(IMSG_WARNING, "P", 16, 1));
  a.seen += std::to_string(imsg_prompt_yes_no(IMSG_ERROR, "Y", 8 | 32, 0));
  a.seen += std::to_string(imsg_prompt_yes_no(IMSG_ERROR, "Y", 0, 0)) + ";";
  a.shown(imsg_prompt_password("W", &a.text));
  // A null data pointer clears the procedures.
  imsg_use_prompt_procs(&kProcs, nullptr);
  imsg_writer_t none[IMSG_REDIRECT_SLOTS];
  for (imsg_writer_t &w : none) w = imsg_console_writer;
  imsg_set_redirect_procs(none, IMSG_REDIRECT_SLOTS, nullptr);
  imsg_redirect_output(imsg_console_writer, nullptr, imsg_console_writer,
                       nullptr);
  EXPECT_EQ(a.seen, "2[typed];1(null);2:;2288;2[pw];");
  EXPECT_EQ(calls, (std::vector<std::string>{
                       "text T d 1", "file F null dir *.c", "list L two r 1",
                       "proceed 4 P 2 2", "proceed 4 P 3 1", "yes_no 6 Y 8 8",
                       "yes_no 6 Y 13 4", "password W"}));
}

// ---- The console.

TEST(ImsgPrompt, ConsoleTextPromptsReadLinesFromAPipe) {
  const std::string long_line(300, 'x');
  child_run run = in_child(
      {},
      [] {
        answers a;
        a.shown(imsg_prompt_text("Name? ", nullptr, 0, &a.text));
        a.shown(imsg_prompt_text("Name?", "bob", 0, &a.text));
        a.shown(imsg_prompt_text("Lines:\n", nullptr, 1, &a.text));
        a.shown(imsg_prompt_text("More:\n", "old\ntext", 1, &a.text));
        a.shown(imsg_prompt_text("Long?", nullptr, 0, &a.text));
        a.shown(imsg_prompt_file("File?", "a.txt", "/tmp", "*.txt", &a.text));
        a.shown(imsg_prompt_password("Pw:", &a.text));
        // Input has ended.
        a.shown(imsg_prompt_file("Again?", "a.txt", nullptr, nullptr, &a.text));
        a.shown(imsg_prompt_text("Last?", nullptr, 1, &a.text));
        a.shown(imsg_prompt_password("Pw:", &a.text));
        return a.seen;
      },
      "plain\n\na\nb\n.\n.\n" + long_line + "\nreport.txt\n\n");
  EXPECT_EQ(run.report, "2[plain];2[bob];2[a\nb\n];2[old\ntext];2[" +
                            long_line +
                            "];2[report.txt];2[];2[a.txt];2(null);1(null);");
  EXPECT_EQ(run.err,
            "Name? Name? [bob] Lines:\nLong?File? [a.txt] Pw:Again? [a.txt] "
            "Last?Pw:");
  EXPECT_EQ(run.out, "Default:\nold\ntext\nMore:  (\".\" to accept default)\n");
}

TEST(ImsgPrompt, ConsoleProceedAndYesNoMatchPrefixesAndAskAgain) {
  child_run run = in_child(
      {},
      [] {
        // Procedures without a window leave the questions to the console.
        std::vector<std::string> calls;
        imsg_use_prompt_procs(&kProcs, &calls);
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
        return r + " calls " + std::to_string(calls.size());
      },
      "  Y\n\nmaybe\nAB\na\np\n\n");
  EXPECT_EQ(run.report, "4,8,1,2,1,8 calls 0");
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
  child_run run = in_child(
      {},
      [] {
        const char *const items[] = {"red", "green", "blue", nullptr};
        answers a;
        for (int multi : {0, 1, 1, 0})
          a.chosen(imsg_prompt_list("Pick", items, nullptr, multi, &a.choices));
        return a.seen;
      },
      "5\nzero\n2 apples\n1,3;2\n1,4\n3\n0\n");
  EXPECT_EQ(run.report, "2:2,;2:1,3,2,;2:3,;1:;");
  EXPECT_EQ(run.out, menu + "\n\n" + menu + "\n\n" + menu + menu + menu +
                         "\n\n" + menu + menu);
}

TEST(ImsgPrompt, PasswordOnATerminalIsReadWithoutEcho) {
  child_run run = in_child(
      {},
      [] {
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
          while (shown.find("\n", shown.find("Password: ")) ==
                     std::string::npos &&
                 (n = read(master, buf, sizeof buf)) > 0)
            shown.append(buf, static_cast<size_t>(n));
        });
        answers a;
        a.shown(imsg_prompt_password("Password: ", &a.text));
        user.join();
        struct termios after;
        tcgetattr(0, &after);
        close(master);
        return a.seen + (echo_while_asked ? "echo on;" : "echo off;") +
               ((after.c_lflag & ECHO) != 0 ? "restored;" : "not restored;") +
               (shown.find("s3cret") == std::string::npos ? "hidden" : "shown");
      },
      "");
  EXPECT_EQ(run.report, "2[s3cret];echo off;restored;hidden");
}

TEST(ImsgPrompt, ADaemonIsNeverAsked) {
  const std::string events = temp_path("events");
  child_run run = in_child(
      {{"ORVEX_EVENTLOG", events}},
      [] {
        if (imsg_init_daemon() != 0) return std::string("no daemon mode");
        answers a;
        const char *const items[] = {"a", nullptr};
        a.shown(imsg_prompt_text("T", "d", 0, &a.text));
        a.shown(imsg_prompt_password("P", &a.text));
        a.chosen(imsg_prompt_list("L", items, nullptr, 0, &a.choices));
        a.chosen(imsg_prompt_txt_list("L", "f", 0, &a.choices));
        a.seen += std::to_string(imsg_prompt_yes_no(0, "Y", 0, 4)) +
                  std::to_string(imsg_prompt_proceed(0, "P", 0, 2));
        // The answer is still waiting on standard input.
        char left[8] = {};
        return a.seen + (std::fgets(left, sizeof left, stdin) ? left : "");
      },
      "yes\n");
  unlink(events.c_str());
  EXPECT_EQ(run.report, "1(null);1(null);1:;1:;11yes\n");
}

// ---- The prompting tool.

// An installation tree whose bin directory may hold a stand-in qmprompt.
// It appends its arguments, one a line, to args.<command>, writes
// $QMPROMPT_ANSWER into the file after "-outfile", and exits with
// $QMPROMPT_EXIT.
class ImsgPromptTool : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = temp_path("install");
    std::string cmd = "rm -rf '" + root_ + "' && mkdir -p '" + root_ + "/bin'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::string windows_root = "c:" + root_;
    for (char &c : windows_root)
      if (c == '/') c = '\\';
    std::ofstream(root_ + "/registry.ini") << "[params]\n8=" << windows_root;
  }
  void TearDown() override {
    std::string cmd = "rm -rf '" + root_ + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }
  void InstallTool() {
    const std::string tool = root_ + "/bin/qmprompt";
    std::ofstream(tool)
        << "#!/bin/sh\n"
           "printf '%s\\n' \"$@\" >> \"$QMPROMPT_DIR/args.$1\"\n"
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
  child_run run = in_child(
      Env(),
      [] {
        answers a;
        tool_answers("from \"tool\"\n", "0");
        a.shown(imsg_prompt_text("Say \"hi\"", "d", 1, &a.text));
        tool_answers("ignored", "2");
        a.shown(imsg_prompt_password("Password", &a.text));
        tool_answers("x.c", "0");
        a.shown(imsg_prompt_file("F", nullptr, "dir", "*.c", &a.text));
        // The tool is offered the first 100 items.
        std::vector<const char *> items(120, "item");
        items.push_back(nullptr);
        tool_answers("3, 1 and 0", "0");
        a.chosen(imsg_prompt_list("L", items.data(), nullptr, 1, &a.choices));
        tool_answers("2: second\nnone\n12:twelfth", "0");
        a.chosen(imsg_prompt_txt_list("T", "items.txt", 0, &a.choices));
        for (const char *code : {"0", "1", "3"}) {
          tool_answers("", code);
          a.seen += std::to_string(imsg_prompt_yes_no(IMSG_WARNING, "Y", 0, 8));
          a.seen += std::to_string(imsg_prompt_proceed(IMSG_ERROR, "P", 0, 0));
        }
        return a.seen;
      },
      "");
  EXPECT_EQ(run.report,
            "2[from \"tool\"\n];1(null);2[x.c];2:3,1,;2:2,12,;428111");
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
  std::string numbers = "1";
  for (int i = 2; i <= 100; ++i) numbers += "," + std::to_string(i);
  const std::string lists = Args("list");
  EXPECT_NE(lists.find("\n-items\n" + numbers + "\n-choices\n-prefer_gui\n"),
            std::string::npos)
      << lists;
  EXPECT_NE(lists.find("\n-dfile\nitems.txt\n-prefer_gui\n"), std::string::npos)
      << lists;
  const std::string yes_no =
      "yes_no\n-prompt\nY\n-type\nwarning\n-default\nno\n-mask\nabort,yes,no\n";
  EXPECT_EQ(Args("yes_no"), yes_no + yes_no + yes_no);
  const std::string proceed =
      "proceed\n-prompt\nP\n-type\nerror\n-default\nabort\n-mask\n"
      "abort,proceed\n";
  EXPECT_EQ(Args("proceed"), proceed + proceed + proceed);
}

TEST_F(ImsgPromptTool, AMissingToolLeavesEveryPromptUnanswered) {
  child_run run = in_child(
      Env(),
      [] {
        answers a;
        const char *const items[] = {"a", nullptr};
        a.shown(imsg_prompt_text("T", "d", 0, &a.text));
        a.shown(imsg_prompt_file("F", "d", nullptr, nullptr, &a.text));
        a.chosen(imsg_prompt_list("L", items, nullptr, 0, &a.choices));
        return a.seen + std::to_string(imsg_prompt_yes_no(0, "Y", 0, 4)) +
               std::to_string(imsg_prompt_proceed(0, "P", 0, 2));
      },
      "yes\n");
  EXPECT_EQ(run.report, "1(null);1(null);1:;11");
  EXPECT_EQ(run.err, "");
}

TEST(ImsgPrompt, TextFileListWithoutTheToolsSwitchesChoosesNothing) {
  int *choices = reinterpret_cast<int *>(&choices);
  EXPECT_EQ(imsg_prompt_txt_list("T", "items.txt", 0, &choices),
            IMSG_PROMPT_ANSWERED);
  EXPECT_EQ(choices, nullptr);
}

TEST(ImsgPrompt, ReadOutfileReturnsTheWholeFile) {
  EXPECT_EQ(imsg_read_outfile("/nonexistent/answer"), nullptr);
  const std::string path = temp_path("outfile");
  for (const std::string &text :
       {std::string(), std::string(127, 'a'), std::string(128, 'b'),
        std::string(1000, 'c') + "\n"}) {
    std::ofstream(path, std::ios::binary) << text;
    char *read = imsg_read_outfile(path.c_str());
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read, text);
    stg_free(read);
  }
  unlink(path.c_str());
}

// ---- Parsers of answers (the fuzz target covers their bounds).

TEST(ImsgPromptParse, AnswersMatchWordsAndChoicesAsTyped) {
  // Translated words may share a beginning.
  const ksi_prompt_word words[] = {{4, "ja"}, {8, "nein"}, {1, "jamais"}};
  EXPECT_EQ(ksi_prompt_match("ja", words, 3), -1);
  EXPECT_EQ(ksi_prompt_match("jam", words, 3), 1);
  EXPECT_EQ(ksi_prompt_match("neinx", words, 3), 0);
  char out_text[8];
  EXPECT_FALSE(ksi_prompt_normalise(" \t \r", out_text, sizeof out_text));
  EXPECT_TRUE(ksi_prompt_normalise("\t YeS \r", out_text, sizeof out_text));
  EXPECT_STREQ(out_text, "yes");

  int out[kKsiMaxChoices];
  EXPECT_EQ(ksi_prompt_parse_choices("99999999999999", 5, false, out, 4), -1);
  EXPECT_EQ(ksi_prompt_parse_choices("1 2 3 4 5", 5, true, out, 4), 4);
  EXPECT_EQ(ksi_prompt_parse_choices("1,2,0,9", 5, true, out, 4), 2);
  EXPECT_EQ(ksi_prompt_parse_choices("1,-2", 5, true, out, 4), -1);
  EXPECT_EQ(ksi_prompt_digit_runs("a99999999999b0c5", out, 4), 2);
  EXPECT_EQ(out[0], 2147483647);
  EXPECT_EQ(ksi_prompt_line_numbers("4:x\n\n:5\n06\n", out, 4), 2);
  EXPECT_EQ(out[1], 6);
}

}  // namespace
