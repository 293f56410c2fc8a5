// Message texts against the arguments their callers pass.
//
// imsg_print(kind, table, position, ...) hands the row's text to printf, so
// the compiler cannot match the arguments of a call with the conversions
// of the text it names. This file keeps, for every position of every
// table, the types its callers pass (read from the calls; for a family
// still without callers, what the text asks for) and checks each row's
// conversions against them. A changed text fails here until its callers
// and this list are changed with it.
//
// One letter per argument consumed: i int or unsigned int (also a star
// width or precision, %c), l long or unsigned long, L long long (%ll,
// %I64), z size_t, f double, s text, p pointer.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <string>

#include "cli/clp_msgs.h"
#include "containers/list_msgs.h"
#include "date/date_msgs.h"
#include "event/rt_msgs.h"
#include "fault/pfm_msgs.h"
#include "host/sysutl_msgs.h"
#include "identity/credutl_msgs.h"
#include "memory/stg_msgs.h"
#include "msg/imsg_msgs.h"
#include "pfxmap/ntpfxmap_msgs.h"
#include "proc/rt_proc_msgs.h"
#include "protect/server_id_nt_msgs.h"
#include "startup/ks_msgs.h"
#include "strings/strutl_msgs.h"

namespace {

const char *const kClp[] = {
    /*   0 */ "",   "", "ss", "s", "", "s",
    /*   6 */ "ss", "", "",   "",  "", "",
    /*  12 */ "",   "", "s",  "s", "", "i",
};

const char *const kCredutl[] = {
    /*   0 */ "s",          "s",      "ssis",  "s", "ii", "s",
    /*   6 */ "siissiisss", "iisiis", "ssiis", "",  "",
};

const char *const kDate[] = {
    /*   0 */ "", "", "", "", "", "",
    /*   6 */ "", "", "", "", "", "",
    /*  12 */ "", "", "", "", "", "",
    /*  18 */ "", "", "", "", "", "",
    /*  24 */ "", "", "", "", "", "",
    /*  30 */ "", "", "", "", "", "",
    /*  36 */ "", "", "", "", "", "",
    /*  42 */ "", "", "", "", "", "",
    /*  48 */ "",
};

const char *const kImsg[] = {
    /*   0 */ "isi", "",    "s", "ss", "", "",
    /*   6 */ "s",   "",    "",  "",   "", "",
    /*  12 */ "",    "",    "",  "",   "", "",
    /*  18 */ "s",   "sli", "",  "",   "", "",
    /*  24 */ "",    "",    "",  "",   "", "",
    /*  30 */ "",    "",    "",  "",   "", "",
    /*  36 */ "",    "",    "",  "",   "", "",
    /*  42 */ "",    "",    "",  "",   "", "",
    /*  48 */ "",    "",    "",  "",   "", "",
    /*  54 */ "",    "",    "",  "",   "", "",
    /*  60 */ "",    "",    "",  "",   "", "",
    /*  66 */ "",    "",    "",  "",   "", "ssis",
    /*  72 */ "i",   "",    "",  "",   "", "",
    /*  78 */ "",    "",    "",  "",   "", "",
    /*  84 */ "",    "",    "",  "",   "", "",
    /*  90 */ "",    "",    "",  "",   "", "",
    /*  96 */ "",    "",    "",  "",   "", "",
    /* 102 */ "",    "",
};

const char *const kKs[] = {
    /*   0 */ "",    "",   "ss",  "sss", "ss", "ss",
    /*   6 */ "ss",  "s",  "",    "s",   "s",  "ss",
    /*  12 */ "i",   "s",  "s",   "",    "sf", "s",
    /*  18 */ "ssi", "",   "",    "",    "",   "",
    /*  24 */ "sis", "i",  "i",   "",    "ss", "ss",
    /*  30 */ "ss",  "s",  "sss", "s",   "ss", "ss",
    /*  36 */ "s",   "ss", "ss",  "ss",  "ss", "s",
    /*  42 */ "ss",  "ss", "sss",
};

const char *const kList[] = {
    /*   0 */ "",
    "ii",
    "ll",
};

const char *const kNtpfxmap[] = {
    /*   0 */ "",   "i",  "i", "",    "", "",
    /*   6 */ "",   "s",  "i", "ssi", "", "si",
    /*  12 */ "si", "si", "",
};

const char *const kPfm[] = {
    /*   0 */ "ssi",
    "si",
};

const char *const kRt[] = {
    /*   0 */ "si", "",  "",  "", "",  "i",
    /*   6 */ "i",  "i", "s", "", "p", "l",
    /*  12 */ "i",
};

const char *const kRtProc[] = {
    /*   0 */ "l",
    "s",
};

const char *const kServerIdNt[] = {
    /*   0 */ "ss",  "si", "",     "",       "ss", "ss",
    /*   6 */ "ss",  "s",  "ss",   "ss",     "ss", "ss",
    /*  12 */ "ss",  "ss", "",     "",       "",   "",
    /*  18 */ "",    "",   "",     "",       "",   "",
    /*  24 */ "ss",  "ss", "",     "ssssis", "",   "",
    /*  30 */ "",    "",   "ssss", "",       "",   "s",
    /*  36 */ "ss",  "s",  "ss",   "ss",     "s",  "sss",
    /*  42 */ "ss",  "s",  "s",    "s",      "s",  "ss",
    /*  48 */ "s",   "ss", "s",    "s",      "s",  "s",
    /*  54 */ "ss",  "s",  "ss",   "s",      "ss", "ss",
    /*  60 */ "sss", "ss", "ss",   "ss",     "ss", "s",
    /*  66 */ "ss",  "ss", "s",
};

const char *const kStg[] = {
    /*   0 */ "l",  "",   "lli",      "ll",    "lli", "l",
    /*   6 */ "ll", "l",  "lllilllf", "lllll", "li",  "lli",
    /*  12 */ "l",  "ll",
};

const char *const kStrutl[] = {
    /*   0 */ "s", "", "", "", "s", "s",
    /*   6 */ "",
};

const char *const kSysutl[] = {
    /*   0 */ "s",    "s",    "ss", "ss", "s",  "s",
    /*   6 */ "s",    "s",    "s",  "ss", "",   "s",
    /*  12 */ "s",    "si",   "",   "",   "sl", "",
    /*  18 */ "iiii", "iiii", "s",  "ss", "ss", "ss",
    /*  24 */ "ss",   "s",    "s",  "s",  "",   "s",
    /*  30 */ "ss",   "s",    "i",  "ss", "s",  "s",
    /*  36 */ "s",    "s",    "is", "ss", "is", "is",
    /*  42 */ "i",    "",     "ss",
};

struct table_signatures {
  const ks_msg_table_t *table;
  const char *const *signatures;
  size_t count;
};

const table_signatures kTables[] = {
    {&ksi_clp_msgs, kClp, std::size(kClp)},
    {&ksi_credutl_msgs, kCredutl, std::size(kCredutl)},
    {&ksi_date_msgs, kDate, std::size(kDate)},
    {&ksi_imsg_msgs, kImsg, std::size(kImsg)},
    {&ksi_ks_msgs, kKs, std::size(kKs)},
    {&ksi_list_msgs, kList, std::size(kList)},
    {&ksi_ntpfxmap_msgs, kNtpfxmap, std::size(kNtpfxmap)},
    {&ksi_pfm_msgs, kPfm, std::size(kPfm)},
    {&ksi_rt_msgs, kRt, std::size(kRt)},
    {&ksi_rt_proc_msgs, kRtProc, std::size(kRtProc)},
    {&ksi_server_id_nt_msgs, kServerIdNt, std::size(kServerIdNt)},
    {&ksi_stg_msgs, kStg, std::size(kStg)},
    {&ksi_strutl_msgs, kStrutl, std::size(kStrutl)},
    {&ksi_sysutl_msgs, kSysutl, std::size(kSysutl)},
};

// The letters of the arguments `text` consumes; '?' for a conversion the
// formatter does not take.
std::string conversions(const char *text) {
  std::string out;
  for (const char *p = std::strchr(text, '%'); p != nullptr;
       p = std::strchr(p, '%')) {
    ++p;
    if (*p == '%') {
      ++p;
      continue;
    }
    p += std::strspn(p, "-+ #0");
    if (*p == '*') {
      out += 'i';
      ++p;
    }
    p += std::strspn(p, "0123456789");
    if (*p == '.') {
      ++p;
      if (*p == '*') {
        out += 'i';
        ++p;
      }
      p += std::strspn(p, "0123456789");
    }
    char size = 'i';
    if (std::strncmp(p, "ll", 2) == 0 || std::strncmp(p, "I64", 3) == 0) {
      size = 'L';
      p += *p == 'l' ? 2 : 3;
    } else if (*p == 'l' || *p == 'z') {
      size = *p++;
    } else if (*p == 'h') {
      p += p[1] == 'h' ? 2 : 1;
    }
    if (*p == '\0') return out + '?';
    switch (*p++) {
      case 'd':
      case 'i':
      case 'u':
      case 'x':
      case 'X':
      case 'o':
      case 'c':
        out += size;
        break;
      case 'f':
      case 'e':
      case 'E':
      case 'g':
      case 'G':
        out += size == 'i' ? 'f' : '?';
        break;
      case 's':
        out += size == 'i' ? 's' : '?';
        break;
      case 'p':
        out += size == 'i' ? 'p' : '?';
        break;
      default:
        out += '?';
    }
  }
  return out;
}

TEST(MsgSignatures, EveryRowTakesWhatItsCallersPass) {
  for (const table_signatures &t : kTables) {
    SCOPED_TRACE(t.table->subsys);
    ASSERT_EQ(static_cast<size_t>(t.table->count), t.count);
    for (size_t i = 0; i < t.count; ++i)
      EXPECT_EQ(conversions(t.table->texts[i]), t.signatures[i])
          << "position " << i << ": " << t.table->texts[i];
  }
}

TEST(MsgSignatures, TheReaderOfConversionsKnowsEveryForm) {
  EXPECT_EQ(conversions("100%% of %s"), "s");
  EXPECT_EQ(conversions("%-08.3lX %*d %.*s %I64u %lld %zu %.2f %p %c %hd"),
            "liiisLLzfpii");
  EXPECT_EQ(conversions("%n"), "?");
  EXPECT_EQ(conversions("%ls"), "?");
  EXPECT_EQ(conversions("cut %"), "?");
}

}  // namespace
