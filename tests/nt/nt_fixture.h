// What the companion library's tests share: SIDs as text, and a check run
// in a child process under another identity.
#pragma once

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include <orvexnt/orvexnt.h>

inline std::string sid_text(const nt_sid_t *sid) {
  char buf[NT_SID_STRING_MAX];
  const char *t = nt_sid_to_str(sid, buf, sizeof buf);
  return t ? t : "(invalid)";
}

// Runs check in a child that has switched to the supplementary groups, gid
// and uid: what check returned (0 to 98), or -1 when the switch or the
// child failed.
inline int as_identity(uid_t uid, gid_t gid, const std::vector<gid_t> &groups,
                       const std::function<int()> &check) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (setgroups(groups.size(), groups.data()) != 0 || setgid(gid) != 0 ||
        setuid(uid) != 0)
      _exit(99);
    _exit(check());
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) != 99 ? WEXITSTATUS(status)
                                                        : -1;
}
