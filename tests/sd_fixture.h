// A scratch directory and a product group for the security-descriptor
// tests. As root the product group is a group created for the test; other
// users name an existing group that is not their own.
#pragma once

#include <grp.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include <orvexnt/nt_env.h>

#include "account_fixture.h"

class SdFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/sd_testXXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    std::string group;
    if (TempAccounts::can_create()) {
      group = TempAccounts::unique("sdpg");
      ASSERT_GE(accounts_.add_group(group), 0);
    } else {
      setgrent();
      for (struct group *g; (g = getgrent()) != nullptr && group.empty();)
        if (g->gr_gid != getegid()) group = g->gr_name;
      endgrent();
    }
    settings_ = dir_ + ".ini";
    FILE *f = fopen(settings_.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fprintf(f, "[accounts]\nproduct_group = %s\n", group.c_str());
    fclose(f);
    nt_putenv_safe(("ORVEX_REGISTRY=" + settings_).c_str());
  }

  void TearDown() override {
    nt_putenv_safe("ORVEX_REGISTRY=");
    unlink(settings_.c_str());
    system(("rm -rf '" + dir_ + "'").c_str());
  }

  std::string path(const std::string &leaf) const { return dir_ + "/" + leaf; }

  TempAccounts accounts_;
  std::string dir_;
  std::string settings_;
};
