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
#include <string>
#include <vector>

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

// A table and the letters of its positions in order, separated by commas
// (an empty field: the text takes no argument).
struct table_signatures {
  const ks_msg_table_t *table;
  const char *signatures;
};

const table_signatures kTables[] = {
    {&ksi_clp_msgs, ",,ss,s,,s,ss,,,,,,,,s,s,,i"},
    {&ksi_credutl_msgs, "s,s,ssis,s,ii,s,siissiisss,iisiis,ssiis,,"},
    {&ksi_date_msgs, ",,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,"},
    {&ksi_imsg_msgs,
     "isi,,s,ss,,,s,,,,,,,,,,,,s,sli,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,"
     ",,,,,,,,,,ssis,i,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,"},
    {&ksi_ks_msgs,
     ",,ss,sss,ss,ss,ss,s,,s,s,ss,i,s,s,,sf,s,ssi,,,,,,sis,i,i,,ss,ss,ss,s,"
     "sss,s,ss,ss,s,ss,ss,ss,ss,s,ss,ss,sss"},
    {&ksi_list_msgs, ",ii,ll"},
    {&ksi_ntpfxmap_msgs, ",i,i,,,,,s,i,ssi,,si,si,si,"},
    {&ksi_pfm_msgs, "ssi,si"},
    {&ksi_rt_msgs, "si,,,,,i,i,i,s,,p,l,i"},
    {&ksi_rt_proc_msgs, "l,s"},
    {&ksi_server_id_nt_msgs,
     "ss,si,,,ss,ss,ss,s,ss,ss,ss,ss,ss,ss,,,,,,,,,,,ss,ss,,ssssis,,,,,ssss,,,"
     "s,ss,s,ss,ss,s,sss,ss,s,s,s,s,ss,s,ss,s,s,s,s,ss,s,ss,s,ss,ss,sss,ss,ss,"
     "ss,ss,s,ss,ss,s"},
    {&ksi_stg_msgs, "l,,lli,ll,lli,l,ll,l,lllilllf,lllll,li,lli,l,ll"},
    {&ksi_strutl_msgs, "s,,,,s,s,"},
    {&ksi_sysutl_msgs,
     "s,s,ss,ss,s,s,s,s,s,ss,,s,s,si,,,sl,,iiii,iiii,s,ss,ss,ss,ss,s,s,s,,s,"
     "ss,s,i,ss,s,s,s,s,is,ss,is,is,i,,ss"},
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
    std::vector<std::string> expected(1);
    for (const char *c = t.signatures; *c != '\0'; ++c)
      if (*c == ',')
        expected.emplace_back();
      else
        expected.back().push_back(*c);
    ASSERT_EQ(static_cast<size_t>(t.table->count), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
      EXPECT_EQ(conversions(t.table->texts[i]), expected[i])
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
