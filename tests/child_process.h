// Work done in a child process, for what acts once per process, changes the
// process's identity, or must not disturb the test program itself.
#pragma once

#include <stdlib.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

// The exit code of body run in a forked child; -1 when a signal ended it.
// The child has only the forking thread: body must not wait for others.
inline int exit_code_in_child(const std::function<int()> &body) {
  const pid_t child = fork();
  if (child == 0) _exit(body());
  int status = 0;
  if (waitpid(child, &status, 0) != child) return -2;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Starts this test program afresh as uid and gid, running only the tests
// that filter names, with name=value in its environment; its exit code as
// exit_code_in_child gives it (127 when it could not become the user).
// Starting afresh lets the child make threads, which a forked copy of a
// process that has threads may not.
inline int rerun_as_user(uid_t uid, gid_t gid, const std::string &filter,
                         const char *name, const std::string &value) {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return -3;
  self[n] = '\0';
  const std::string filter_flag = "--gtest_filter=" + filter;
  return exit_code_in_child([&] {
    setenv(name, value.c_str(), 1);
    if (setgid(gid) == 0 && setuid(uid) == 0)
      execl(self, self, filter_flag.c_str(), nullptr);
    return 127;
  });
}
