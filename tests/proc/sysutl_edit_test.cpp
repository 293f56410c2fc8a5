// The edit-and-apply loop with a real editor: a shell script named by
// EDITOR that appends to the file, answers to the questions fed through
// standard input, and apply functions that fail a given number of times.
#include <gtest/gtest.h>

#include <orvexks/imsg.h>
#include <orvexks/sysutl.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "scratch_dir.h"

namespace {

// A file to edit and an editor script that appends "edited" to the file it
// is given, exiting with the code in the file editor_code when there is one.
class SysutlEdit : public ScratchTest {
 protected:
  const std::string dir = dir_, file = path("text"), editor = path("editor");
  int saved_stdin = -1;

  void SetUp() override {
    spit(file, "start\n");
    spit(editor,
         "#!/bin/sh\necho edited >> \"$1\"\n[ -f '" + dir +
             "/editor_code' ] && exit $(cat '" + dir +
             "/editor_code')\nexit 0\n",
         0755);
    unsetenv("VISUAL");
    setenv("EDITOR", editor.c_str(), 1);
  }
  void TearDown() override {
    if (saved_stdin >= 0) {
      dup2(saved_stdin, 0);
      close(saved_stdin);
      std::clearerr(stdin);
    }
  }
  // Standard input holds exactly these answers, then ends.
  void answer(const std::string &lines) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], lines.data(), lines.size()),
              static_cast<ssize_t>(lines.size()));
    close(fds[1]);
    saved_stdin = dup(0);
    dup2(fds[0], 0);
    close(fds[0]);
    std::clearerr(stdin);
  }
};

// Fails (with 5) until it has been called `failures` + 1 times.
struct Apply {
  explicit Apply(int f) : failures(f) {}
  int failures;
  int calls = 0;
  std::string seen;
};

int apply(void *arg, const char *file) {
  auto *a = static_cast<Apply *>(arg);
  a->seen = slurp(file);
  return a->calls++ < a->failures ? 5 : 0;
}

TEST_F(SysutlEdit, RetriesUntilApplied) {
  answer("y\ny\ny\n");  // proceed, retry, proceed
  Apply a(1);
  // A relative name still reaches the file, though the editor runs in "/".
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir.c_str()), 0);
  const int rc = sysutl_edit_and_apply_until_ok("text", nullptr, "Proceed?",
                                                IMSG_ANSWER_YES, "Retry?",
                                                IMSG_ANSWER_NO, &a, apply);
  ASSERT_EQ(chdir(cwd), 0);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(a.calls, 2);
  EXPECT_EQ(slurp(file), "start\nedited\nedited\n");
}

TEST_F(SysutlEdit, ARefusalEndsTheLoop) {
  answer("y\nn\n");  // proceed, then no retry: apply's failure
  Apply a(3);
  EXPECT_EQ(sysutl_edit_and_apply_until_ok(file.c_str(), nullptr, "Proceed?",
                                           IMSG_ANSWER_YES, "Retry?",
                                           IMSG_ANSWER_YES, &a, apply),
            5);
  EXPECT_EQ(a.calls, 1);
  // Not proceeding: apply is never called.
  answer("no\n");
  Apply b(0);
  EXPECT_EQ(
      sysutl_edit_and_apply_until_ok(file.c_str(), nullptr, "Proceed?",
                                     IMSG_ANSWER_YES, nullptr, 0, &b, apply),
      1);
  EXPECT_EQ(b.calls, 0);
  // Without a retry question a failure is returned at once.
  Apply c(1);
  EXPECT_EQ(sysutl_edit_and_apply_until_ok(file.c_str(), nullptr, nullptr, 0,
                                           nullptr, 0, &c, apply),
            5);
}

TEST_F(SysutlEdit, AFailingEditorIsReportedAndTheLoopGoesOn) {
  spit(path("editor_code"), "3\n");
  std::string got;
  imsg_redirect_output(
      nullptr, nullptr,
      [](void *arg, const char *text) {
        static_cast<std::string *>(arg)->append(text);
      },
      &got);
  Apply a(0);
  const int rc = sysutl_edit_and_apply_until_ok(file.c_str(), nullptr, nullptr,
                                                0, nullptr, 0, &a, apply);
  imsg_redirect_output(nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(rc, 0);
  EXPECT_NE(
      got.find("Running editor \"" + editor + "\" resulted in exit status: 3."),
      std::string::npos)
      << got;
}

TEST_F(SysutlEdit, AMessageListIsEditedInATemporaryFile) {
  setenv("TMP", dir.c_str(), 1);
  imsg_list_t list;
  imsg_list_create(&list, 0);
  imsg_list_add_str(&list, "first line\n");
  Apply a(0);
  struct Named {
    Apply *a;
    std::string name;
  } named{&a, ""};
  EXPECT_EQ(sysutl_edit_content_from_imsg_list_and_apply_until_ok(
                &list, nullptr, nullptr, 0, nullptr, 0, &named,
                [](void *arg, const char *f) {
                  auto *n = static_cast<Named *>(arg);
                  n->name = f;
                  return apply(n->a, f);
                }),
            0);
  imsg_list_destroy(&list);
  EXPECT_EQ(a.seen, "first line\nedited\n");
  EXPECT_EQ(named.name.rfind(dir, 0), 0u) << named.name;
  // The temporary file is gone.
  ASSERT_FALSE(named.name.empty());
  EXPECT_NE(access(named.name.c_str(), F_OK), 0);
}

TEST(SysutlEditCommand, TheFileIsOneQuotedWordRunFromTheRoot) {
  char buf[SYSUTL_PATH_SIZE];
  EXPECT_STREQ(sysutl_format_edit_cmd(buf, "vi", "/tmp/a b"),
               "cd / && vi '/tmp/a b'");
  EXPECT_STREQ(sysutl_format_edit_cmd(buf, "ed -s", "/it's"),
               "cd / && ed -s '/it'\\''s'");
}

}  // namespace
