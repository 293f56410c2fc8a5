// The option scanner: options and groups, arguments, long options,
// operands, sub-commands, line splitting, offsets and error texts.
#include <gtest/gtest.h>

#include <orvexks/cl.h>
#include <orvexks/stg.h>

#include "cli/cl_handle.h"

#include <string>
#include <vector>

namespace {

// A handle over a vector whose first word is the program name.
class Scanner {
 public:
  explicit Scanner(std::vector<std::string> words) : words_(std::move(words)) {
    words_.insert(words_.begin(), "prog");
    for (std::string &w : words_) argv_.push_back(w.data());
    int status = -1;
    handle_ =
        cl_parse_argv(static_cast<int>(argv_.size()), argv_.data(), &status);
    EXPECT_EQ(status, 0);
  }
  ~Scanner() { cl_destroy(&handle_); }
  cl_handle_t *operator*() const { return handle_; }

  // The results of cl_getopt until it returns 0, as letters.
  std::string options(const char *spec) {
    std::string seen;
    for (int c; (c = cl_getopt(handle_, spec)) != 0;)
      seen += static_cast<char>(c);
    return seen;
  }

 private:
  std::vector<std::string> words_;
  std::vector<char *> argv_;
  cl_handle_t *handle_ = nullptr;
};

std::vector<std::string> split(const char *line) {
  int status = -1;
  cl_handle_t *h = cl_parse_line(line, &status);
  EXPECT_EQ(status, 0);
  std::vector<std::string> words;
  while (const char *w = cl_getarg(h)) words.emplace_back(w);
  cl_destroy(&h);
  EXPECT_EQ(h, nullptr);
  cl_destroy(&h);  // a null handle variable is ignored
  return words;
}

TEST(ClOptions, LettersAcrossWordsThenOperand) {
  Scanner s({"-a", "-bc", "file"});
  EXPECT_EQ(s.options("abc"), "abc");
  EXPECT_STREQ(cl_getarg(*s), "file");
  EXPECT_EQ(cl_getarg(*s), nullptr);
  EXPECT_EQ(cl_errno(*s), 0);
}

TEST(ClOptions, GroupsExcludeTheirMembersOthersRepeat) {
  Scanner grouped({"-a", "-c", "-a"});
  EXPECT_EQ(cl_getopt(*grouped, "[ab]c"), 'a');
  EXPECT_EQ(cl_getopt(*grouped, "[ab]c"), 'c');
  EXPECT_EQ(cl_getopt(*grouped, "[ab]c"), '?');
  EXPECT_EQ(cl_errno(*grouped), CL_ERR_DUPOPT);
  EXPECT_STREQ(cl_eopt(*grouped), "a");
  EXPECT_EQ(cl_getopt(*grouped, "[ab]c"), 0);

  Scanner other_member({"-a", "-b"});
  EXPECT_EQ(other_member.options("[ab]c"), "a?");
  Scanner repeated({"-c", "-c"});
  EXPECT_EQ(repeated.options("[ab]c"), "cc");
  Scanner colons({"-x", "-y"});
  EXPECT_EQ(colons.options("x:y:"), "xy");
}

TEST(ClOptions, UnknownLetterRecordsWordAndLetter) {
  Scanner s({"-x", "-a"});
  EXPECT_EQ(cl_getopt(*s, "a"), '?');
  EXPECT_EQ(cl_errno(*s), CL_ERR_BADOPT);
  EXPECT_STREQ(cl_eopt(*s), "x");
  EXPECT_STREQ(cl_estr(*s), "-x");
  EXPECT_STREQ(cl_strerror(cl_errno(*s)), "Bad option");
  // The next step clears the error and goes on.
  EXPECT_EQ(cl_getopt(*s, "a"), 'a');
  EXPECT_EQ(cl_errno(*s), 0);
  EXPECT_STREQ(cl_estr(*s), "");
}

TEST(ClOptions, LoneDashSkippedAndDashRunsCountAsOne) {
  Scanner s({"-", "---a", "-", "op"});
  EXPECT_EQ(s.options("a"), "a");
  EXPECT_STREQ(cl_getarg(*s), "op");
  // Dashes that use up a word run on into the next: a "--" reached that
  // way is passed over, not the end of the options.
  Scanner t({"-", "--", "-b", "op"});
  EXPECT_EQ(t.options("b"), "b");
  EXPECT_STREQ(cl_getarg(*t), "op");
}

TEST(ClOptions, LongOptionsOnlyInLongMode) {
  Scanner s({"-a", "--verbose", "--", "--x"});
  char *name = nullptr;
  EXPECT_EQ(cl_getopt_long(*s, "a", &name), 'a');
  EXPECT_EQ(cl_getopt_long(*s, "a", &name), 0);
  ASSERT_NE(name, nullptr);
  EXPECT_STREQ(name, "verbose");
  stg_free(name);
  name = nullptr;
  EXPECT_EQ(cl_getopt_long(*s, "a", &name), 0);  // "--" alone ends options
  EXPECT_EQ(name, nullptr);
  EXPECT_EQ(cl_getopt(*s, "a"), 0);  // for good
  EXPECT_STREQ(cl_getarg(*s), "--x");

  Scanner plain({"--verbose"});  // short mode: dashes skipped, v unknown
  EXPECT_EQ(cl_getopt(*plain, "a"), '?');
  EXPECT_STREQ(cl_eopt(*plain), "v");
}

TEST(ClArguments, OptionArgumentMustBeItsOwnWord) {
  Scanner separate({"-o", "out", "in"});
  EXPECT_EQ(cl_getopt(*separate, "o"), 'o');
  EXPECT_STREQ(cl_getarg(*separate), "out");
  EXPECT_EQ(cl_getopt(*separate, "o"), 0);
  EXPECT_STREQ(cl_getarg(*separate), "in");

  Scanner glued({"-oout"});
  EXPECT_EQ(cl_getopt(*glued, "o"), 'o');
  EXPECT_EQ(cl_getarg(*glued), nullptr);
  EXPECT_EQ(cl_errno(*glued), CL_ERR_BADARG);
  EXPECT_STREQ(cl_estr(*glued), "out");
  EXPECT_STREQ(cl_strerror(CL_ERR_BADARG), "Bad argument");
}

TEST(ClArguments, NooptLeavesDashWords) {
  Scanner s({"-a", "b"});
  EXPECT_EQ(cl_getarg_noopt(*s), nullptr);
  EXPECT_EQ(cl_errno(*s), 0);
  EXPECT_STREQ(cl_getarg(*s), "-a");
  EXPECT_STREQ(cl_getname(*s), "b");
}

TEST(ClArguments, SubcommandsByAbbreviation) {
  const char *const names[] = {"co[mment]", "ch[eckout]", "l[ist]"};
  Scanner s({"CHECK", "c", "lis"});
  EXPECT_EQ(cl_get_subcommand(*s, 3, names), 1);
  EXPECT_EQ(cl_get_subcommand(*s, 3, names), -1);  // c is too short
  EXPECT_EQ(cl_get_subcommand(*s, 3, names), 2);
  EXPECT_EQ(cl_get_subcommand(*s, 3, names), -1);  // no word left
}

TEST(ClMatch, AbbreviationMark) {
  EXPECT_EQ(cl_match("c", "co[mment]"), 0);
  EXPECT_EQ(cl_match("co", "co[mment]"), 1);
  EXPECT_EQ(cl_match("COMM", "co[mment]"), 1);
  EXPECT_EQ(cl_match("commentx", "co[mment]"), 0);
  EXPECT_EQ(cl_match("list", "list"), 1);
}

TEST(ClLine, QuotesAndEscapes) {
  EXPECT_EQ(split("a \"b c\" ^\"d"),
            (std::vector<std::string>{"a", "b c", "\"d"}));
  EXPECT_EQ(split("'x \"y' \"\" z"),
            (std::vector<std::string>{"x \"y", "", "z"}));
  EXPECT_EQ(split("  a^^b   c\td  "),
            (std::vector<std::string>{"a^b", "c", "d"}));
  // '^' never escapes a blank; an unescaped newline ends the line.
  EXPECT_EQ(split("a^ b"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(split("a b\nc d"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(split("a^\nb"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(split("\"a^\nb\" c"), (std::vector<std::string>{"a\nb", "c"}));
  EXPECT_EQ(split("\"a\nb\" c"), (std::vector<std::string>{"a"}));
  EXPECT_EQ(split("ab\"cd"), (std::vector<std::string>{"abcd"}));
  EXPECT_TRUE(split("").empty());
}

TEST(ClOffsets, SaveAndRestoreThePosition) {
  Scanner s({"-ab", "x", "y"});  // text: prog\0-ab\0x\0y\0
  EXPECT_EQ(cl_getoffset(*s), 5);
  EXPECT_EQ(cl_getopt(*s, "ab"), 'a');
  const int inside = cl_getoffset(*s);
  EXPECT_EQ(inside, 7);
  EXPECT_EQ(cl_getopt(*s, "ab"), 'b');
  EXPECT_STREQ(cl_getarg(*s), "x");
  cl_setoffset(*s, inside);
  EXPECT_EQ(cl_getopt(*s, "ab"), 'b');
  cl_setoffset(*s, 8);  // the end of -ab: the next word's start
  EXPECT_STREQ(cl_getarg(*s), "x");
  cl_setoffset(*s, 1000);  // clamped to the end
  EXPECT_EQ(cl_getarg(*s), nullptr);
  cl_setoffset(*s, -5);  // clamped to the start: the program name
  EXPECT_STREQ(cl_getarg(*s), "prog");
}

TEST(ClErrors, Texts) {
  EXPECT_STREQ(cl_strerror(0), "");
  EXPECT_STREQ(cl_strerror(CL_ERR_NOMEM), "Out of memory");
  EXPECT_STREQ(cl_strerror(CL_ERR_DUPOPT), "Duplicate or conflicting option");
  EXPECT_STREQ(cl_strerror(999), "Unknown error");
}

TEST(ClHandleDeathTest, WrongMagicIsFatal) {
  cl_handle stale{};  // what a destroyed handle's magic reads as
  EXPECT_DEATH(cl_getopt(&stale, "a"), "clh->cl_magic == CL_MAGIC");
}

}  // namespace
