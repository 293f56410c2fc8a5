// ksrpcinfo against the system rpcbind: its listing of a host's
// registrations equals rpcinfo -p's, and it calls null procedures.
#include <orvexks/rpc/rpcb.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "rpc/command_output.h"
#include "rpc/rpcbind_fixture.h"

namespace {

constexpr uint32_t kProg = 0x20000556;

std::vector<std::string> sorted_lines(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

class KsrpcinfoRpcbindTest : public RpcbindFixture {};

TEST_F(KsrpcinfoRpcbindTest, ListingMatchesRpcinfo) {
  ASSERT_TRUE(ks_pmap_set(kProg, 1, IPPROTO_UDP, 2001));
  ASSERT_TRUE(ks_pmap_set(kProg, 2, IPPROTO_TCP, 2002));
  std::string ours =
      command_output(std::string(KSRPCINFO_PATH) + " -p 127.0.0.1");
  std::string theirs = command_output("/usr/sbin/rpcinfo -p 127.0.0.1");
  EXPECT_NE(ours.find("536872278    2   tcp   2002"), std::string::npos)
      << ours;
  EXPECT_EQ(sorted_lines(ours), sorted_lines(theirs)) << ours << "---\n"
                                                      << theirs;
  ks_pmap_unset(kProg, 1);
  ks_pmap_unset(kProg, 2);
}

TEST_F(KsrpcinfoRpcbindTest, CallsTheBindersNullProcedure) {
  int status = 0;
  std::string out = command_output(
      std::string(KSRPCINFO_PATH) + " -t 127.0.0.1 100000 4", &status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(out.find("program 100000 version 4 ready and waiting"),
            std::string::npos)
      << out;
  out = command_output(
      std::string(KSRPCINFO_PATH) + " -n 111 -u 127.0.0.1 100000", &status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(out.find("version 2 ready"), std::string::npos) << out;
  EXPECT_NE(out.find("version 4 ready"), std::string::npos) << out;
  out = command_output(
      std::string(KSRPCINFO_PATH) + " -u 127.0.0.1 536872278 1 2>&1", &status);
  EXPECT_NE(status, 0);
  EXPECT_NE(out.find("Program not registered"), std::string::npos) << out;
}

}  // namespace
