// Tree walks, the tree iterator, removal and sizes over real trees in a
// temporary directory: visiting order and every visitor result, links and
// link loops, and entries that cannot be read (missing, refused to a
// non-root user, too long).
#include <gtest/gtest.h>

#include <orvexks/fileutl.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "account_fixture.h"
#include "child_process.h"
#include "scratch_dir.h"

namespace {

struct Event {
  std::string path, reldir, name;
  int phase, depth;
  bool dir;
};

// Records every call; answers with the result set for a name and phase.
struct Recorder {
  std::vector<Event> events;
  std::map<std::string, int> answer;  // "name/phase" -> result

  static int visit(void *arg, const char *path, const char *, const char *rel,
                   const char *name, const struct stat *st, int phase,
                   int depth) {
    auto *self = static_cast<Recorder *>(arg);
    self->events.push_back(
        {path, rel, name, phase, depth, S_ISDIR(st->st_mode) != 0});
    auto it =
        self->answer.find(std::string(name) + "/" + std::to_string(phase));
    return it == self->answer.end() ? 0 : it->second;
  }
  int index(const std::string &name, int phase) const {
    for (size_t i = 0; i < events.size(); ++i)
      if (events[i].name == name && events[i].phase == phase)
        return static_cast<int>(i);
    return -1;
  }
  int walk(const std::string &root, int flags,
           int visitor_flags = FILEUTL_VISIT_BEFORE | FILEUTL_VISIT_AFTER) {
    events.clear();
    fileutl_visitor_t v = {nullptr, visitor_flags, visit, this};
    return fileutl_walk_tree(root.c_str(), &v, flags);
  }
};

// The error an iterator over root fails to start with, or "started".
std::string scan_error(const std::string &root) {
  fileutl_scan_t *scan = nullptr;
  int err_no = 0;
  const int rc = fileutl_scan_tree_begin(root.c_str(), 0, &scan, &err_no);
  fileutl_scan_tree_end(&scan);
  if (rc == 0) return "started";
  const char *name = strerrorname_np(err_no);
  return rc == -1 && name != nullptr ? name : "rc " + std::to_string(rc);
}

// root/{a/{x, y, deep/z}, b, c/}
class FileutlWalk : public ScratchTest {
 protected:
  void SetUp() override {
    for (const char *d : {"/a", "/a/deep", "/c"})
      mkdir((root_ + d).c_str(), 0755);
    for (const char *f : {"/a/x", "/a/y", "/a/deep/z", "/b"})
      spit(root_ + f, "0123456789");
  }
  const std::string root_ = dir_;
};

TEST_F(FileutlWalk, VisitsDepthFirstWithPathsPhasesAndDepths) {
  Recorder r;
  ASSERT_EQ(r.walk(root_, FILEUTL_WALK_DESCEND), 0);
  // 4 directories twice, 4 files once.
  ASSERT_EQ(r.events.size(), 12u);
  EXPECT_EQ(r.events.front().name, "");
  EXPECT_EQ(r.events.front().depth, 0);
  EXPECT_EQ(r.events.back().name, "");
  EXPECT_EQ(r.events.back().phase, 2);
  for (const char *f : {"x", "y", "z"}) {
    EXPECT_LT(r.index("a", 1), r.index(f, 1));
    EXPECT_GT(r.index("a", 2), r.index(f, 1));
  }
  EXPECT_LT(r.index("deep", 2), r.index("a", 2));
  const Event &z = r.events[r.index("z", 1)];
  EXPECT_EQ(z.path, root_ + "\\a\\deep\\z");
  EXPECT_EQ(z.reldir, "a\\deep");
  EXPECT_EQ(z.depth, 3);
  EXPECT_EQ(r.events[r.index("b", 1)].reldir, "");
  EXPECT_EQ(r.index("z", 2), -1);  // files only in phase 1

  // A root given with a trailing separator gets no second one.
  r.walk(root_ + "/", FILEUTL_WALK_DESCEND);
  EXPECT_EQ(r.events[r.index("b", 1)].path, root_ + "/b");

  // Without descending only the root is visited; a visitor that asks for
  // directories after their contents only is not called before them.
  r.walk(root_, 0);
  EXPECT_EQ(r.events.size(), 2u);
  r.walk(root_, FILEUTL_WALK_DESCEND, FILEUTL_VISIT_AFTER);
  EXPECT_EQ(r.index("a", 1), -1);
  EXPECT_NE(r.index("a", 2), -1);
}

TEST_F(FileutlWalk, VisitorResultsSkipStopAndFail) {
  Recorder r;
  r.answer["a/1"] = FILEUTL_CB_NO_DESCEND;
  EXPECT_EQ(r.walk(root_, FILEUTL_WALK_DESCEND), 0);
  EXPECT_EQ(r.index("x", 1), -1);
  EXPECT_NE(r.index("b", 1), -1);  // the walk went on
  EXPECT_NE(r.index("a", 2), -1);

  r.answer = {{"a/1", FILEUTL_CB_STOP}};
  EXPECT_EQ(r.walk(root_, FILEUTL_WALK_DESCEND), 0);
  EXPECT_EQ(r.events.back().name, "a");
  EXPECT_EQ(r.index("", 2), -1);

  // Failures are ORed into the result; the walk ends at the first one only
  // when asked to.
  r.answer = {{"x/1", FILEUTL_CB_FAILED}, {"y/1", FILEUTL_CB_FAILED}};
  EXPECT_EQ(r.walk(root_, FILEUTL_WALK_DESCEND), FILEUTL_CB_FAILED);
  EXPECT_EQ(r.events.size(), 12u);
  r.walk(root_, FILEUTL_WALK_DESCEND | FILEUTL_WALK_STOP_ON_FAILURE);
  EXPECT_TRUE(r.index("x", 1) == -1 || r.index("y", 1) == -1);
  EXPECT_EQ(r.index("", 2), -1);

  // Any control bit for the root ends the walk there.
  r.answer = {{"/1", FILEUTL_CB_NO_DESCEND}};
  r.walk(root_, FILEUTL_WALK_DESCEND);
  EXPECT_EQ(r.events.size(), 1u);
}

// A tree that exists only in memory: r holds f1 and d, d holds f2.
struct MemoryTree {
  std::map<std::string, std::vector<std::string>> dirs = {{"r", {"f1", "d"}},
                                                          {"r\\d", {"f2"}}};
  struct Dir {
    const std::vector<std::string> *names;
    size_t next;
  };
  int open = 0;

  static int status(void *arg, const char *path, int, struct stat *st) {
    auto *t = static_cast<MemoryTree *>(arg);
    *st = {};
    st->st_mode = t->dirs.count(path) ? S_IFDIR : S_IFREG;
    return 0;
  }
  static void *open_dir(void *arg, const char *path) {
    auto *t = static_cast<MemoryTree *>(arg);
    ++t->open;
    return new Dir{&t->dirs.at(path), 0};
  }
  static const char *read_entry(void *, void *dir) {
    auto *d = static_cast<Dir *>(dir);
    return d->next < d->names->size() ? (*d->names)[d->next++].c_str()
                                      : nullptr;
  }
  static void close_dir(void *arg, void *dir) {
    --static_cast<MemoryTree *>(arg)->open;
    delete static_cast<Dir *>(dir);
  }
};

TEST(FileutlWalkAny, WalksATreeThroughTheCallersOperations) {
  MemoryTree tree;
  const fileutl_walk_ops_t ops = {MemoryTree::status, MemoryTree::open_dir,
                                  MemoryTree::read_entry, MemoryTree::close_dir,
                                  &tree};
  Recorder r;
  fileutl_visitor_t v = {nullptr, FILEUTL_VISIT_BEFORE, Recorder::visit, &r};
  EXPECT_EQ(fileutl_walk_tree_any("r", &v, &ops, FILEUTL_WALK_DESCEND), 0);
  std::vector<std::string> paths;
  for (const Event &e : r.events) paths.push_back(e.path);
  EXPECT_EQ(paths,
            (std::vector<std::string>{"r", "r\\f1", "r\\d", "r\\d\\f2"}));
  EXPECT_EQ(tree.open, 0);
}

TEST_F(FileutlWalk, LinksAreFollowedButLoopsAreNotEntered) {
  ASSERT_EQ(symlink("..", (root_ + "/a/up").c_str()), 0);
  ASSERT_EQ(symlink("/nonexistent-target", (root_ + "/dangling").c_str()), 0);
  Recorder r;
  testing::internal::CaptureStderr();
  EXPECT_EQ(r.walk(root_, FILEUTL_WALK_DESCEND), FILEUTL_CB_FAILED);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find(root_ + "\\dangling: "), std::string::npos) << err;
  const int up = r.index("up", 1);
  ASSERT_NE(up, -1);
  EXPECT_TRUE(r.events[up].dir);
  EXPECT_EQ(r.events[up + 1].name, "up");  // entered nothing in between
  EXPECT_EQ(r.events[up + 1].phase, 2);

  // Not following: links are plain entries, nothing fails.
  EXPECT_EQ(r.walk(root_, FILEUTL_WALK_DESCEND | FILEUTL_WALK_LSTAT), 0);
  EXPECT_FALSE(r.events[r.index("up", 1)].dir);

  // The iterator sees the same tree and stops at the loop too.
  fileutl_scan_t *scan = nullptr;
  int err_no = 0;
  ASSERT_EQ(fileutl_scan_tree_begin(root_.c_str(), 0, &scan, &err_no), 0);
  std::vector<std::string> names;
  const char *name;
  struct stat st;
  int rc;
  while ((rc = fileutl_scan_tree_next(scan, &name, &st, &err_no)) != 0) {
    if (rc == 1) names.emplace_back(name);
    if (rc == -1) {
      EXPECT_EQ(err_no, ENOENT);  // the dangling link
    }
  }
  fileutl_scan_tree_end(&scan);
  EXPECT_EQ(scan, nullptr);
  std::sort(names.begin(), names.end());
  const std::string p = root_ + "\\";
  EXPECT_EQ(names, (std::vector<std::string>{
                       p + "a", p + "a\\deep", p + "a\\deep\\z", p + "a\\up",
                       p + "a\\x", p + "a\\y", p + "b", p + "c"}));
}

TEST_F(FileutlWalk, RemovesTreesWithoutFollowingLinksAndAddsSizes) {
  double total = -1;
  EXPECT_EQ(fileutl_du(root_.c_str(), FILEUTL_WALK_DESCEND, &total), 0);
  struct stat st;
  double dirs = 0;
  for (const char *d : {"", "/a", "/a/deep", "/c"}) {
    stat((root_ + d).c_str(), &st);
    dirs += st.st_size;
  }
  EXPECT_EQ(total, dirs + 40);

  ScratchDir outside("fileutl_keep");
  spit(outside.path("kept"), "k");
  ASSERT_EQ(symlink(outside.dir().c_str(), (root_ + "/a/link").c_str()), 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(fileutl_rm((root_ + "/a").c_str(),
                       FILEUTL_WALK_DESCEND | FILEUTL_RM_TRACE),
            0);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("unlink( " + root_ +
                                                        "/a\\deep\\z )"),
            std::string::npos);
  EXPECT_FALSE(fileutl_exists((root_ + "/a").c_str(), 0));
  EXPECT_TRUE(fileutl_exists(outside.path("kept").c_str(), 0));

  // A directory with contents is not removed without descending.
  testing::internal::CaptureStderr();
  EXPECT_EQ(fileutl_rm(root_.c_str(), 0), FILEUTL_CB_FAILED);
  EXPECT_NE(testing::internal::GetCapturedStderr().find(root_ + ": "),
            std::string::npos);
  EXPECT_EQ(fileutl_rm(root_.c_str(), FILEUTL_WALK_DESCEND), 0);
  EXPECT_FALSE(fileutl_exists(root_.c_str(), 0));
}

TEST_F(FileutlWalk, MissingAndOverLongPathsFailWithTheirErrors) {
  Recorder r;
  const std::string missing = root_ + "/none";
  testing::internal::CaptureStderr();
  EXPECT_EQ(r.walk(missing, FILEUTL_WALK_DESCEND), FILEUTL_CB_FAILED);
  EXPECT_EQ(r.walk(missing, FILEUTL_WALK_QUIET), FILEUTL_CB_FAILED);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find(missing + ": No such file or directory"),
            std::string::npos);
  EXPECT_EQ(err.find(missing, err.find(missing) + 1), std::string::npos);
  EXPECT_TRUE(r.events.empty());
  EXPECT_EQ(scan_error(missing), "ENOENT");
  EXPECT_EQ(scan_error(root_ + "/b"), "ENOTDIR");

  // Five levels of 250 characters pass the walk's 1024-character limit.
  std::string deep = root_ + "/c";
  for (int i = 0; i < 5; ++i) {
    deep += "/" + std::string(250, 'a' + i);
    ASSERT_EQ(mkdir(deep.c_str(), 0755), 0);
  }
  testing::internal::CaptureStderr();
  EXPECT_EQ(r.walk(root_, FILEUTL_WALK_DESCEND), FILEUTL_CB_FAILED);
  err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("File name too long"), std::string::npos);
  EXPECT_NE(r.index("b", 1), -1);
}

// Run as an ordinary user by the test below, in a program of its own (this
// one, started again): the tree in FILEUTL_WALK_REFUSED_ROOT has a
// directory "a" that the user may not read.
TEST(FileutlWalkAsUser, RefusedDirectoryFailsTheWalkOnly) {
  const char *root = std::getenv("FILEUTL_WALK_REFUSED_ROOT");
  if (root == nullptr) GTEST_SKIP() << "started by the refused-directory test";
  ASSERT_NE(geteuid(), 0u);
  Recorder r;
  EXPECT_EQ(r.walk(root, FILEUTL_WALK_DESCEND | FILEUTL_WALK_QUIET),
            FILEUTL_CB_FAILED);
  EXPECT_NE(r.index("b", 1), -1);  // the walk went on past it
  EXPECT_NE(r.index("a", 2), -1);
  EXPECT_EQ(scan_error(std::string(root) + "/a"), "EACCES");
}

TEST_F(FileutlWalk, RefusedDirectoriesFailForAnOrdinaryUser) {
  TempAccounts accounts;
  if (!TempAccounts::can_create()) GTEST_SKIP() << "needs root and useradd";
  const std::string user = TempAccounts::unique("fwalk");
  const long uid = accounts.add_user(user, "nogroup", "walk test", "/", "");
  ASSERT_GT(uid, 0);
  std::system(("chown -R " + user + " '" + root_ + "'").c_str());
  chmod(root_.c_str(), 0755);
  chmod((root_ + "/a").c_str(), 0);

  EXPECT_EQ(rerun_as_user(static_cast<uid_t>(uid), 65534, "FileutlWalkAsUser.*",
                          "FILEUTL_WALK_REFUSED_ROOT", root_),
            0);
}

}  // namespace
