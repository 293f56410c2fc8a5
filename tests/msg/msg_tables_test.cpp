// Message tables: every exported table record has the layout its catalog
// keys depend on, and the first and last positions and texts no other test
// shows hold their catalog numbers and texts.

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include <orvexks/clp.h>
#include <orvexks/credutl.h>
#include <orvexks/date.h>
#include <orvexks/imsg.h>
#include <orvexks/ks_product.h>
#include <orvexks/list.h>
#include <orvexks/ntpfxmap.h>
#include <orvexks/pfm.h>
#include <orvexks/rt.h>
#include <orvexks/rt_proc.h>
#include <orvexks/server.h>
#include <orvexks/stg.h>
#include <orvexks/strutl.h>
#include <orvexks/sysutl.h>

#include "cli/clp_msgs.h"
#include "event/rt_msgs.h"
#include "host/sysutl_msgs.h"
#include "identity/credutl_msgs.h"
#include "msg/imsg_msgs.h"
#include "pfxmap/ntpfxmap_msgs.h"
#include "proc/rt_proc_msgs.h"
#include "protect/server_id_nt_msgs.h"
#include "startup/ks_msgs.h"

namespace {

struct TableSpec {
  const ks_msg_table_t *(*accessor)(void);
  const ks_msg_table_t *(*plain_accessor)(void);
  const char *subsys;
  int set;
  int count;
  int first_id;
  int last_id;
};

const TableSpec kTables[] = {
    {_clp_ks_msg_table_adr, clp_ks_msg_table_adr, "clp", 13, 18, 1, 18},
    {_credutl_ks_msg_table_adr, credutl_ks_msg_table_adr, "credutl", 18, 11, 1,
     11},
    {_date_ks_msg_table_adr, date_ks_msg_table_adr, "ks/date", 12, 49, 1, 49},
    {_imsg_ks_msg_table_adr, imsg_ks_msg_table_adr, "ks/imsg", 10, 104, 3, 111},
    {_ks_ks_msg_table_adr, ks_ks_msg_table_adr, "ks", 9, 45, 2, 53},
    {_list_ks_msg_table_adr, list_ks_msg_table_adr, "ks/list", 7, 3, 2, 4},
    {_ntpfxmap_ks_msg_table_adr, ntpfxmap_ks_msg_table_adr, "ks/ntpfxmap", 20,
     15, 1, 18},
    {_pfm_ks_msg_table_adr, pfm_ks_msg_table_adr, "pfm", 19, 2, 1, 2},
    {_rt_ks_msg_table_adr, rt_ks_msg_table_adr, "rt", 15, 13, 1, 13},
    {_rt_proc_ks_msg_table_adr, rt_proc_ks_msg_table_adr, "rt_proc", 16, 2, 1,
     2},
    {_server_id_nt_ks_msg_table_adr, server_id_nt_ks_msg_table_adr,
     "server_id_nt", 17, 69, 1, 70},
    {_stg_ks_msg_table_adr, stg_ks_msg_table_adr, "ks/stg", 6, 14, 2, 15},
    {_strutl_ks_msg_table_adr, strutl_ks_msg_table_adr, "ks/strutl", 8, 7, 1,
     7},
    {_sysutl_ks_msg_table_adr, sysutl_ks_msg_table_adr, "ks/sysutl", 14, 45, 1,
     48},
};

TEST(MsgTables, EveryTableHasItsCatalogLayout) {
  for (const TableSpec &spec : kTables) {
    SCOPED_TRACE(spec.subsys);
    const ks_msg_table_t *t = spec.accessor();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t, spec.plain_accessor());
    EXPECT_STREQ(t->catalog, "ks_lib");
    EXPECT_STREQ(t->subsys, spec.subsys);
    EXPECT_EQ(t->set, spec.set);
    ASSERT_EQ(t->count, spec.count);
    EXPECT_GE(t->ids[0], spec.first_id);
    EXPECT_LE(t->ids[t->count - 1], spec.last_id);
    for (int i = 0; i < t->count; ++i) {
      EXPECT_NE(t->texts[i], nullptr) << "index " << i;
      if (i > 0) {
        EXPECT_GT(t->ids[i], t->ids[i - 1]) << "index " << i;
      }
    }
  }
}

// (set, number) is the catalog key: two tables sharing a set would read
// each other's translations.
TEST(MsgTables, SetsAreDistinct) {
  std::set<int> sets;
  for (const TableSpec &spec : kTables)
    EXPECT_TRUE(sets.insert(spec.accessor()->set).second) << spec.subsys;
}

struct Spot {
  const ks_msg_table_t *table;
  int index;
  int id;
  const char *text;
};

TEST(MsgTables, TextsAndCatalogNumbersAtKnownPositions) {
  const Spot spots[] = {
      {&ksi_imsg_msgs, KSI_IMSG_UNKNOWN_TYPE, 3,
       "Unknown message type %d in file %s at line %d\n"},
      {&ksi_imsg_msgs, KSI_IMSG_SOCKET_TEXTS_FIRST, 28,
       "[WINSOCK] Interrupted system call"},
      {&ksi_imsg_msgs, KSI_IMSG_LOG_HEADER, 79,
       "%s. host \"%s\", pid %d, user \"%s\"\n"},
      {&ksi_imsg_msgs, KSI_IMSG_NON_AUTHORITATIVE, 106,
       "Non-authoritative host not found"},
      {&ksi_imsg_msgs, KSI_IMSG_STRING_BUFFER_TOO_SMALL, 111,
       "String buffer too small.\n"},
      {&ksi_ks_msgs, KSI_KS_OPERATION_FAILED, 4, "Operation %s: %s\n"},
      {&ksi_ks_msgs, KSI_KS_BAD_FORMAT_NUMBER, 15,
       "Bad format number for \"%s\"\n"},
      {&ksi_ks_msgs, KSI_KS_CL_OUT_OF_MEMORY, 25, "Out of memory"},
      {&ksi_clp_msgs, KSI_CLP_NESTED_EXCLUSION, 1,
       "Bad flag descriptors - cannot have nested "
       "CLP_START_MUTUAL_EXCLUSIONs\n"},
      {&ksi_clp_msgs, KSI_CLP_TOKEN_OVERFLOW, 18,
       "Token buffer overflow, max size is %d.\n"},
      {&ksi_credutl_msgs, KSI_CREDUTL_GETGROUPS_FAILED, 1,
       "getgroups failed: %s\n"},
      {&ksi_ntpfxmap_msgs, KSI_NTPFXMAP_NULL_SERVER, 18,
       "shwmnt_open_transport(): servername (nil)!\n"},
      {&ksi_rt_msgs, KSI_RT_MALLOC_FAILED, 1, "Malloc failed at \"%s\":%d\n"},
      {&ksi_rt_proc_msgs, KSI_RT_PROC_WAIT_FAILED, 1,
       "rt_proc: WaitForMultipleObjects failed: %ld\n"},
      {&ksi_server_id_nt_msgs, KSI_SERVER_NO_PRODUCT_GROUP, 4,
       "No group \"quillmere\" found\n"},
      {&ksi_server_id_nt_msgs, KSI_SERVER_REPORT_PROTECTIONS, 28,
       "    owner: %s  %s\n    group: %s  %s\n    mode:  0%.3o  %s\n"},
      {&ksi_sysutl_msgs, KSI_SYSUTL_PIPE_CONNECT, 9,
       "connect failed: %s (sysutl_pipe)\n"},
  };
  for (const Spot &s : spots) {
    SCOPED_TRACE(std::string(s.table->subsys) + " " + std::to_string(s.index));
    EXPECT_STREQ(s.table->texts[s.index], s.text);
    EXPECT_EQ(s.table->ids[s.index], s.id);
  }
}

// Texts with embedded backslashes, percent escapes and style markers come
// out byte for byte.
TEST(MsgTables, EscapesSurviveByteForByte) {
  const char *fix_prot =
      ksi_server_id_nt_msgs.texts[KSI_SERVER_UNKNOWN_STYLE_ON];
  EXPECT_NE(
      std::strstr(fix_prot, "\"%%QUILLMEREHOME%%\\etc\\utils\\fix_prot\".\n"),
      nullptr);

  const char *not_installed = ksi_ks_msgs.texts[KSI_KS_NOT_INSTALLED];
  EXPECT_EQ(std::memcmp(not_installed,
                        "\x01\x01"
                        "1B",
                        4),
            0);
  char plain[128];
  imsg_strip_style_chars(plain, not_installed);
  EXPECT_STREQ(plain, "This product is not installed correctly.\n");

  char relogin[256];
  imsg_strip_style_chars(
      relogin, ksi_server_id_nt_msgs.texts[KSI_SERVER_RELOGIN_EMPHASIZED]);
  EXPECT_STREQ(relogin, ksi_server_id_nt_msgs.texts[KSI_SERVER_RELOGIN]);
}

// The socket error texts are exactly the two runs imsg_strerror indexes
// (which code lands where: imsg_format_test's strerror texts).
TEST(MsgTables, SocketTextsFillTheirTwoRuns) {
  for (int i = 0; i < ksi_imsg_msgs.count; ++i) {
    const bool in_runs =
        (i >= KSI_IMSG_SOCKET_TEXTS_FIRST && i <= KSI_IMSG_SOCKET_TEXTS_LAST) ||
        (i >= KSI_IMSG_MORE_SOCKET_TEXTS_FIRST &&
         i <= KSI_IMSG_MORE_SOCKET_TEXTS_LAST);
    EXPECT_EQ(std::strncmp(ksi_imsg_msgs.texts[i], "[WINSOCK] ", 10) == 0,
              in_runs)
        << "index " << i;
  }
}

}  // namespace
