// The settings a client-authentication test runs under: a host-data
// directory (asking whether a host is this host reads its alternate host
// names there) and, when the test is root and asks for one, a new product
// group, the product's administrative group, in which users can be
// created. ORVEX_REGISTRY points at the settings while the object lives;
// everything is removed afterwards.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <fstream>
#include <string>

#include <orvexks/credutl.h>
#include <orvexks/sysutl.h>
#include <orvexnt/nt_env.h>

#include "account_fixture.h"
#include "scratch_dir.h"

class ClientSettings {
 public:
  explicit ClientSettings(bool with_product_group) {
    for (const char *dir :
         {"/hostdata", "/hostdata/var", "/hostdata/var/config"})
      mkdir((root_ + dir).c_str(), 0755);
    chmod(root_.c_str(), 0755);  // readable by unprivileged children too
    std::ofstream ini(root_ + "/registry.ini");
    ini << "[params]\n16=" << root_ << "/hostdata\n";
    if (with_product_group && TempAccounts::can_create()) {
      product_ = TempAccounts::unique("qmprod");
      product_gid_ = accounts_.add_group(product_);
      if (product_gid_ >= 0)
        ini << "[accounts]\nproduct_group = " << product_ << "\n";
    }
    ini.close();
    chmod((root_ + "/registry.ini").c_str(), 0644);
    nt_putenv_safe(("ORVEX_REGISTRY=" + root_ + "/registry.ini").c_str());
  }
  ~ClientSettings() { nt_putenv_safe("ORVEX_REGISTRY="); }
  ClientSettings(const ClientSettings &) = delete;
  ClientSettings &operator=(const ClientSettings &) = delete;

  // Names a product group in the settings without creating it.
  void name_product_group(const std::string &name) {
    std::ofstream(root_ + "/registry.ini", std::ios::app)
        << "[accounts]\nproduct_group = " << name << "\n";
  }

  // The product group was made (the test runs as root).
  bool has_product_group() const { return product_gid_ >= 0; }
  const std::string &product_group() const { return product_; }
  long product_gid() const { return product_gid_; }

  // A new user whose primary group is the product group (in_product) or
  // the existing group "nogroup"; its uid, or -1.
  long add_user(const std::string &name, bool in_product) {
    return accounts_.add_user(name, in_product ? product_ : "nogroup", "", "/",
                              "");
  }

 private:
  TempAccounts accounts_;
  ScratchDir scratch_{"credutl_client"};
  const std::string root_ = scratch_.dir();
  std::string product_;
  long product_gid_ = -1;
};

// This host's name in capitals: the domain of the records it makes.
inline std::string upper_host() {
  std::string h = sysutl_myhostname();
  for (char &c : h)
    c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return h;
}

inline credutl_sid_t uid_sid(uint32_t uid) {
  credutl_sid_t sid;
  return *credutl_uid_to_sid(&sid, uid);
}

inline credutl_sid_t gid_sid(uint32_t gid) {
  credutl_sid_t sid;
  return *credutl_gid_to_sid(&sid, gid);
}
