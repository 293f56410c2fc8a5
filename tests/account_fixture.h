// Host accounts and groups created for a test and removed when the object
// goes out of scope (also after a failed assertion). Creating them needs
// root; tests skip themselves otherwise.
#pragma once

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

class TempAccounts {
 public:
  TempAccounts() = default;
  TempAccounts(const TempAccounts &) = delete;
  TempAccounts &operator=(const TempAccounts &) = delete;
  ~TempAccounts() {
    for (const std::string &u : users_) run("userdel " + u);
    for (const std::string &g : groups_) run("groupdel " + g);
  }

  static bool can_create() {
    return geteuid() == 0 && run("command -v useradd");
  }

  // A unique name with the given prefix.
  static std::string unique(const char *prefix) {
    static int serial = 0;
    return std::string(prefix) + std::to_string(getpid()) + "x" +
           std::to_string(serial++);
  }

  // Creates a group; its gid, or -1.
  long add_group(const std::string &name) {
    if (!run("groupadd " + name)) return -1;
    groups_.push_back(name);
    return id("-g", name, true);
  }

  // Creates a user (home not created) with a primary group, a full name
  // and a list of supplementary groups ("" for none); its uid, or -1.
  long add_user(const std::string &name, const std::string &primary,
                const std::string &gecos, const std::string &home,
                const std::string &supplementary) {
    std::string cmd =
        "useradd -M -N -g " + primary + " -c '" + gecos + "' -d '" + home + "'";
    if (!supplementary.empty()) cmd += " -G " + supplementary;
    if (!run(cmd + " " + name)) return -1;
    users_.push_back(name);
    return id("-u", name, false);
  }

 private:
  static bool run(const std::string &cmd) {
    return system((cmd + " >/dev/null 2>&1").c_str()) == 0;
  }

  static long id(const char *flag, const std::string &name, bool group) {
    const std::string cmd = group ? "getent group " + name + " | cut -d: -f3"
                                  : std::string("id ") + flag + " " + name;
    FILE *p = popen(cmd.c_str(), "r");
    long v = -1;
    if (p == nullptr) return -1;
    if (fscanf(p, "%ld", &v) != 1) v = -1;
    pclose(p);
    return v;
  }

  std::vector<std::string> users_;
  std::vector<std::string> groups_;
};
