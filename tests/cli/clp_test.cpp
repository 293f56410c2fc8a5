// Parsing handles: flag descriptors with abbreviations, groups, aliases and
// obsolete flags; operands and sub-arguments; saving and switching; the
// quoting rules of command texts; the per-thread command stack.
#include <gtest/gtest.h>

#include <orvexks/clp.h>
#include <orvexks/stg.h>

#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "cli/clp_handle.h"

namespace {

enum { kComment = 1, kRecurse, kX, kY, kOld, kList };

const clp_flag_t kFlags[] = {
    {"-c[omment]", kComment, 0},
    {"-r[ecurse]", kRecurse, CLP_MULTIPLE_FLAG},
    {"-R", kRecurse, CLP_ALIAS_FLAG},
    CLP_START_MUTUAL_EXCLUSION,
    {"-x", kX, 0},
    {"-y", kY, CLP_MULTIPLE_FLAG},
    {"-why", kY, CLP_ALIAS_FLAG},
    CLP_END_MUTUAL_EXCLUSION,
    {"-o[ld]", kOld, CLP_OBSOLETE_FLAG},
    {"-l[ist]", kList, 0},
    {nullptr, 0, 0},
};

// Words owned by the test, as a main() would have them.
class Words {
 public:
  explicit Words(std::vector<std::string> words) : words_(std::move(words)) {
    for (std::string &w : words_) argv_.push_back(w.data());
    argv_.push_back(nullptr);
  }
  int argc() const { return static_cast<int>(words_.size()); }
  char **argv() { return argv_.data(); }

 private:
  std::vector<std::string> words_;
  std::vector<char *> argv_;
};

// The flag values (and 'E' for an error) until the handle gives 2, with
// what was printed.
struct Scan {
  std::vector<int> values;
  int last = 0;
  std::string printed;
};

Scan scan(clp_hdl_t *h, int quiet = 0) {
  Scan run;
  testing::internal::CaptureStderr();
  for (int rc, value; (rc = clp_get_next_flag_value(h, quiet, &value)) != 2;) {
    run.values.push_back(rc == 0 ? value : -100);
    if (rc == 1) break;
  }
  run.printed = testing::internal::GetCapturedStderr();
  return run;
}

clp_hdl_t *handle(Words &w) {
  return clp_create_hdl_using_argv(w.argc(), w.argv(), kFlags, STG_AREA_NULL);
}

TEST(ClpFlags, AbbreviationsAliasesAndOperands) {
  Words w({"-co", "-comment", "-R", "-rec", "file", "-l"});
  clp_hdl_t *h = handle(w);
  ASSERT_NE(h, nullptr);
  Scan run = scan(h);
  // -comment after -co is a duplicate of a flag that may not repeat.
  EXPECT_EQ(run.values, (std::vector<int>{kComment, -100}));
  EXPECT_NE(run.printed.find("Illegal duplicate use of flag \"-c[omment]\""),
            std::string::npos)
      << run.printed;
  char name[32];
  ASSERT_EQ(clp_get_last_flag_name(h, 1, sizeof name, name), 0);
  EXPECT_STREQ(name, "-comment");
  ASSERT_EQ(clp_get_last_flag_name(h, 0, 5, name), 0);
  EXPECT_STREQ(name, "-c[o");
  clp_destroy_hdl(&h);
  EXPECT_EQ(h, nullptr);

  Words w2({"-R", "-rec", "-r", "file", "-l"});
  h = handle(w2);
  run = scan(h);
  EXPECT_EQ(run.values, (std::vector<int>{kRecurse, kRecurse, kRecurse}));
  char *arg = nullptr;
  EXPECT_EQ(clp_get_next_arg(h, &arg), 0);
  EXPECT_STREQ(arg, "file");
  // Flags after an operand are still flags when asked for.
  int value = 0;
  EXPECT_EQ(clp_get_next_flag_value(h, 0, &value), 0);
  EXPECT_EQ(value, kList);
  EXPECT_EQ(clp_get_next_arg(h, &arg), 2);
  EXPECT_EQ(arg, nullptr);
  EXPECT_EQ(clp_unget_arg(h), 0);
  EXPECT_EQ(clp_get_argc(h), 5);
  clp_destroy_hdl(&h);
  clp_destroy_hdl(&h);  // a null handle variable is ignored
}

TEST(ClpFlags, UnknownFlagsAndDoubleDash) {
  Words w({"-commentx", "x"});
  clp_hdl_t *h = handle(w);
  Scan run = scan(h);
  EXPECT_EQ(run.values, (std::vector<int>{-100}));
  EXPECT_NE(run.printed.find("Unrecognized option \"-commentx\""),
            std::string::npos);
  int value = 0;
  testing::internal::CaptureStderr();
  EXPECT_EQ(clp_get_next_flag_value(h, 1, &value),
            1);  // quiet: nothing printed
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(value, -1);
  clp_destroy_hdl(&h);

  Words w2({"-l", "--", "-c", "y"});
  h = handle(w2);
  EXPECT_EQ(scan(h).values, (std::vector<int>{kList}));
  EXPECT_EQ(clp_get_next_flag_value(h, 0, &value), 2);  // stays ended
  char *arg = nullptr;
  ASSERT_EQ(clp_get_next_arg(h, &arg), 0);
  EXPECT_STREQ(arg, "-c");
  ASSERT_EQ(clp_get_next_arg(h, &arg), 0);
  EXPECT_STREQ(arg, "y");
  clp_destroy_hdl(&h);
}

TEST(ClpFlags, MutualExclusionGroups) {
  struct Case {
    std::vector<std::string> words;
    std::vector<int> values;
    const char *printed;
  };
  const Case cases[] = {
      {{"-x", "-y"},
       {kX, -100},
       "Illegal use of mutually exclusive flags \"-y\" and \"-x\""},
      {{"-y", "-y", "-why"}, {kY, kY, kY}, ""},
      {{"-why", "-x"},
       {kY, -100},
       "Illegal use of mutually exclusive flags \"-x\" and \"-y\""},
  };
  for (const Case &c : cases) {
    Words w(c.words);
    clp_hdl_t *h = handle(w);
    Scan run = scan(h);
    EXPECT_EQ(run.values, c.values) << c.words[0] << c.words[1];
    EXPECT_NE(run.printed.find(c.printed), std::string::npos) << run.printed;
    clp_destroy_hdl(&h);
  }
}

TEST(ClpFlags, ObsoleteFlagsFollowTheEnvironment) {
  struct Mode {
    const char *env;  // null: unset
    std::vector<int> values;
    bool printed;
  };
  const Mode modes[] = {{nullptr, {kOld}, true},
                        {"warn", {kOld}, true},
                        {"FaIl", {-100}, true},
                        {"quiet", {kOld}, false}};
  for (const Mode &m : modes) {
    if (m.env != nullptr)
      setenv("QUILLMERE_OBSO_SYN", m.env, 1);
    else
      unsetenv("QUILLMERE_OBSO_SYN");
    Words w({"-old"});
    clp_hdl_t *h = handle(w);
    Scan run = scan(h);
    EXPECT_EQ(run.values, m.values) << (m.env ? m.env : "unset");
    EXPECT_EQ(run.printed.find("Obsolete command or flag: \"-o[ld]\"") !=
                  std::string::npos,
              m.printed)
        << run.printed;
    clp_destroy_hdl(&h);
    testing::internal::CaptureStderr();
    EXPECT_EQ(clp_check_obsolete(), m.values[0] == -100 ? 1 : 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr().find(
                  "Obsolete syntax was used.") != std::string::npos,
              m.printed);
  }
  unsetenv("QUILLMERE_OBSO_SYN");
}

TEST(ClpFlags, SubArguments) {
  Words w({"-l", "a,b,,c", "next"});
  clp_hdl_t *h = handle(w);
  int value = 0;
  ASSERT_EQ(clp_get_next_flag_value(h, 0, &value), 0);
  std::vector<std::string> pieces;
  char *piece = nullptr;
  while (clp_get_next_subarg(h, &piece) == 0) pieces.emplace_back(piece);
  EXPECT_EQ(pieces, (std::vector<std::string>{"a", "b", "", "c"}));
  EXPECT_EQ(piece, nullptr);
  char *arg = nullptr;
  ASSERT_EQ(clp_get_next_arg(h, &arg), 0);  // the pieces' word was taken
  EXPECT_STREQ(arg, "next");
  clp_destroy_hdl(&h);
}

TEST(ClpFlags, SaveRestoreAndSwitch) {
  Words w({"-c", "-l", "op"});
  clp_hdl_t *h = handle(w);
  clp_hdl_t *saved = clp_save_hdl(h);
  ASSERT_NE(saved, nullptr);
  EXPECT_EQ(scan(h).values, (std::vector<int>{kComment, kList}));
  clp_restore_hdl(h, saved);  // the used flags come back too: no duplicate
  EXPECT_EQ(scan(h).values, (std::vector<int>{kComment, kList}));

  static const clp_flag_t kOther[] = {{"-op", 9, 0}, {nullptr, 0, 0}};
  clp_restore_hdl(h, saved);
  ASSERT_EQ(clp_switch_flags(h, kOther, STG_AREA_NULL), 0);
  int value = 0;
  EXPECT_EQ(clp_get_next_flag_value(h, 1, &value), 1);  // -c is unknown now
  char *name = nullptr;
  EXPECT_EQ(clp_get_command_name(h, &name), 0);
  EXPECT_STREQ(name, "-c");
  clp_destroy_hdl(&h);

  // A caller's area: switching without an area has none to use.
  stg_area_t area = stg_create_area(4096);
  h = clp_create_hdl_using_argv(w.argc(), w.argv(), kFlags, area);
  testing::internal::CaptureStderr();
  EXPECT_EQ(clp_switch_flags(h, kOther, STG_AREA_NULL), 1);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("NULL STORAGE AREA"),
            std::string::npos);
  EXPECT_EQ(clp_switch_flags(h, kOther, area), 0);
  clp_destroy_hdl(&h);
  stg_delete_area(&area);
}

TEST(ClpFlags, HandleFromText) {
  clp_hdl_t *h =
      clp_create_hdl_using_string("-c 'a b' -l", kFlags, STG_AREA_NULL);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(scan(h).values, (std::vector<int>{kComment}));
  char *arg = nullptr;
  ASSERT_EQ(clp_get_next_arg(h, &arg), 0);
  EXPECT_STREQ(arg, "a b");
  clp_destroy_hdl(&h);
  testing::internal::CaptureStderr();
  EXPECT_EQ(clp_create_hdl_using_string("-c 'open", kFlags, STG_AREA_NULL),
            nullptr);
  EXPECT_NE(testing::internal::GetCapturedStderr().find(
                "Bad command line: unterminated quoted string"),
            std::string::npos);
}

TEST(ClpDescriptors, SameValueFailsCreation) {
  static const clp_flag_t kSame[] = {
      {"-a", 1, 0}, {"-b", 1, 0}, {nullptr, 0, 0}};
  Words w({"-a"});
  testing::internal::CaptureStderr();
  EXPECT_EQ(clp_create_hdl_using_argv(w.argc(), w.argv(), kSame, STG_AREA_NULL),
            nullptr);
  EXPECT_NE(testing::internal::GetCapturedStderr().find(
                "Bad flag descriptors: \"-a\" and \"-b\" have the same value. "
                "Define one as "
                "CLP_ALIAS_FLAG"),
            std::string::npos);
}

TEST(ClpDescriptorsDeathTest, ProgrammingErrorsAbort) {
  static const clp_flag_t kNested[] = {
      CLP_START_MUTUAL_EXCLUSION, CLP_START_MUTUAL_EXCLUSION, {nullptr, 0, 0}};
  static const clp_flag_t kUnmatched[] = {
      {"-a", 1, 0}, CLP_END_MUTUAL_EXCLUSION, {nullptr, 0, 0}};
  static const clp_flag_t kOrphan[] = {{"-a", 1, 0},
                                       CLP_START_MUTUAL_EXCLUSION,
                                       {"-b", 1, CLP_ALIAS_FLAG},
                                       CLP_END_MUTUAL_EXCLUSION,
                                       {nullptr, 0, 0}};
  Words w({"-a"});
  EXPECT_DEATH(
      clp_create_hdl_using_argv(w.argc(), w.argv(), kNested, STG_AREA_NULL),
      "cannot have nested CLP_START_MUTUAL_EXCLUSIONs");
  EXPECT_DEATH(
      clp_create_hdl_using_argv(w.argc(), w.argv(), kUnmatched, STG_AREA_NULL),
      "CLP_END_MUTUAL_EXCLUSION without matching");
  EXPECT_DEATH(
      clp_create_hdl_using_argv(w.argc(), w.argv(), kOrphan, STG_AREA_NULL),
      "alias flag \"-b\" defined without a non-alias flag");
  int value = 0;
  EXPECT_DEATH(clp_get_next_flag_value(nullptr, 0, &value), "NULL HANDLE");
  clp_hdl stale{};
  EXPECT_DEATH(clp_get_next_flag_value(&stale, 0, &value), "BAD MAGIC");
  Words holes({"-a"});
  holes.argv()[0] = nullptr;
  clp_hdl_t *h = handle(holes);
  EXPECT_DEATH(clp_get_next_flag_value(h, 0, &value), "BAD ARGV ARRAY");
  clp_destroy_hdl(&h);
}

TEST(ClpMatch, CaseSensitiveAbbreviation) {
  EXPECT_EQ(clp_match("-c", "-c[omment]"), 1);
  EXPECT_EQ(clp_match("-comment", "-c[omment]"), 1);
  EXPECT_EQ(clp_match("-commentx", "-c[omment]"), 0);
  EXPECT_EQ(clp_match("-C", "-c[omment]"), 0);
  EXPECT_EQ(clp_match("-", "-c[omment]"), 0);
}

std::vector<std::string> split(const char *text, int *rc = nullptr) {
  int argc = -1;
  char **argv = nullptr;
  stg_area_t area = stg_create_area(1024);
  const int result = clp_parse_string(text, area, &argc, &argv);
  if (rc != nullptr) *rc = result;
  std::vector<std::string> words;
  for (int i = 0; result == 0 && i < argc; ++i) words.emplace_back(argv[i]);
  if (result == 0) {
    EXPECT_EQ(argv[argc], nullptr);
  }
  stg_delete_area(&area);
  return words;
}

TEST(ClpText, Splitting) {
  using V = std::vector<std::string>;
  EXPECT_EQ(split("  a  bc\t d "), (V{"a", "bc", "d"}));
  EXPECT_EQ(split("'a b'\"c d\""),
            (V{"a b", "c d"}));  // a closing quote ends the word
  EXPECT_EQ(split("x'y z'"), (V{"xy z"}));
  EXPECT_EQ(split("^' ^\" ^\\ ^x"), (V{"'", "\"", "\\", "^x"}));
  EXPECT_EQ(split("'^\" ^x ^\\'"), (V{"\\\" ^x \\\\"}));
  EXPECT_EQ(split("'' b"), (V{"", "b"}));
  EXPECT_EQ(split("b ''"), (V{"b"}));  // an empty word at the end ends the list
  EXPECT_EQ(split(""), V{});
  int rc = 0;
  testing::internal::CaptureStderr();
  split("a 'b", &rc);
  EXPECT_EQ(rc, 1);
  EXPECT_NE(
      testing::internal::GetCapturedStderr().find("unterminated quoted string"),
      std::string::npos);
  const std::string longest(8192, 'w'), too_long(8193, 'w');
  EXPECT_EQ(split(longest.c_str()), V{longest});
  testing::internal::CaptureStderr();
  split(("a " + too_long).c_str(), &rc);
  EXPECT_EQ(rc, 1);
  EXPECT_NE(testing::internal::GetCapturedStderr().find(
                "Token buffer overflow, max size is 8192."),
            std::string::npos);
}

std::string join(std::vector<std::string> words, int escape = 0,
                 int *rc = nullptr) {
  Words w(std::move(words));
  char *text = nullptr;
  testing::internal::CaptureStderr();
  const int result =
      clp_argv_to_string(w.argc(), w.argv(), STG_AREA_HEAP, escape, &text);
  testing::internal::GetCapturedStderr();
  if (rc != nullptr) *rc = result;
  std::string joined = text != nullptr ? text : "(null)";
  stg_free(text);
  return joined;
}

TEST(ClpText, Joining) {
  EXPECT_EQ(join({"a", "b c", "*.c", "x~", "[x]", "t\tab"}),
            "a \"b c\" \"*.c\" \"x~\" \"[x]\" \"t\tab\"");
  EXPECT_EQ(join({"'q w'", "\"z\""}, '^'), "^'q w^' ^\"z^\"");
  EXPECT_EQ(join({"'q w'"}), "'q w'");
  int rc = 0;
  EXPECT_EQ(join({"ok", "'open"}, 0, &rc), "(null)");
  EXPECT_EQ(rc, 1);
  EXPECT_EQ(join({"'"}, 0, &rc), "(null)");
  EXPECT_EQ(join({}), "");
}

TEST(ClpText, SplitOfJoinIsTheIdentity) {
  // Words of any characters but quotes and the escape pairs of '^'. A word
  // that ends in '^' cannot be joined in quotes: its '^' would escape the
  // closing quote, so the rules exclude it too.
  const std::string alphabet = "ab ^?*~[]\t.-/\\,x";
  std::mt19937 rng(2024);
  for (int round = 0; round < 3000; ++round) {
    std::vector<std::string> words(1 + rng() % 5);
    for (std::string &word : words) {
      do {
        word.clear();
        const size_t n = 1 + rng() % 8;
        for (size_t i = 0; i < n; ++i)
          word += alphabet[rng() % alphabet.size()];
      } while (word.find("^\\") != std::string::npos || word.back() == '^');
    }
    const std::string text = join(words);
    EXPECT_EQ(split(text.c_str()), words) << text;
  }
}

TEST(ClpStack, KeepsTenNamesPerThread) {
  int seen = 0;
  EXPECT_EQ(clp_get_cmd_stack(&seen), nullptr);
  static const char *const kNames[] = {"n0", "n1", "n2", "n3", "n4",  "n5",
                                       "n6", "n7", "n8", "n9", "n10", "n11"};
  for (const char *name : kNames) clp_push_cmd(name);
  const char *text = clp_get_cmd_stack(&seen);
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, "n0:n1:n2:n3:n4:n5:n6:n7:n8:n9:");
  EXPECT_EQ(clp_get_cmd_stack(&seen), nullptr);  // nothing new
  std::thread([] {
    int other_seen = 0;
    clp_push_cmd("t");
    EXPECT_STREQ(clp_get_cmd_stack(&other_seen), "t:");
  }).join();
  clp_pop_cmd();
  clp_pop_cmd();  // names 11 and 10 were never stored
  EXPECT_EQ(clp_get_cmd_stack(&seen), nullptr);
  clp_pop_cmd();
  EXPECT_STREQ(clp_get_cmd_stack(&seen), "n0:n1:n2:n3:n4:n5:n6:n7:n8:");
  for (int i = 0; i < 9; ++i) clp_pop_cmd();
  EXPECT_STREQ(clp_get_cmd_stack(&seen), "");
  clp_pop_cmd();  // below empty: nothing to drop, yet the depth counts it
  EXPECT_EQ(clp_get_cmd_stack(&seen), nullptr);
  for (const char *name : kNames) clp_push_cmd(name);
  clp_pop_cmd();
  clp_pop_cmd();  // the depth was 10 here, so a name goes
  EXPECT_STREQ(clp_get_cmd_stack(&seen), "n0:n1:n2:n3:n4:n5:n6:n7:n8:");
  for (int i = 0; i < 9; ++i) clp_pop_cmd();
}

TEST(ClpStackDeathTest, StackTextMustStayShort) {
  static const std::string kLong(60, 'n');
  EXPECT_DEATH(
      {
        for (int i = 0; i < 5; ++i) clp_push_cmd(kLong.c_str());
        int seen = 0;
        clp_get_cmd_stack(&seen);
      },
      "ptr < CLP_MAX_STACK_STRING");
}

}  // namespace
