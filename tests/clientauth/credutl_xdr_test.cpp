// Wire forms of credentials and client records: exact words where the
// layout is fixed, round trips through memory streams, refusal of counts
// and lengths out of range, and freeing after a failed decode (the
// sanitizer builds catch what a free leaves behind).
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <orvexks/credutl.h>

namespace {

using Words = std::vector<uint32_t>;

template <typename T>
bool encode(bool_t (*filter)(XDR *, T *), T *value, Words *out) {
  alignas(8) static char buf[1 << 16];
  XDR xdrs;
  xdrmem_create(&xdrs, buf, sizeof buf, XDR_ENCODE);
  if (!filter(&xdrs, value)) return false;
  uint32_t len = XDR_GETPOS(&xdrs);
  out->resize(len / 4);
  for (uint32_t i = 0; i < len / 4; ++i) {
    uint32_t be;
    memcpy(&be, buf + 4 * i, 4);
    (*out)[i] = ntohl(be);
  }
  return true;
}

template <typename T>
bool decode(bool_t (*filter)(XDR *, T *), const Words &words, T *value) {
  std::vector<uint32_t> be(words.size());
  for (size_t i = 0; i < words.size(); ++i) be[i] = htonl(words[i]);
  XDR xdrs;
  xdrmem_create(&xdrs, reinterpret_cast<char *>(be.data()),
                static_cast<uint32_t>(be.size() * 4), XDR_DECODE);
  return filter(&xdrs, value) != 0;
}

template <typename T>
void xdr_release(bool_t (*filter)(XDR *, T *), T *value) {
  xdr_free(reinterpret_cast<xdrproc_t>(filter), value);
}

credutl_sid_t unix_uid(uint32_t uid) {
  credutl_sid_t sid;
  credutl_unix_uid_to_sid(uid, &sid);
  return sid;
}

// A string's XDR words: length, then the bytes padded to a word.
Words string_words(const std::string &s) {
  Words w = {static_cast<uint32_t>(s.size())};
  for (size_t i = 0; i < s.size(); i += 4) {
    uint32_t word = 0;
    for (size_t j = 0; j < 4; ++j)
      word = (word << 8) | (i + j < s.size() ? uint8_t(s[i + j]) : 0);
    w.push_back(word);
  }
  return w;
}

TEST(CredutlXdr, SidWireForm) {
  Words w;
  credutl_sid_t nobody = CREDUTL_SID_NOBODY;
  ASSERT_TRUE(encode(xdr_credutl_sid_t, &nobody, &w));
  EXPECT_EQ(w, (Words{2, 0}));

  credutl_sid_t empty = {};
  ASSERT_TRUE(encode(xdr_credutl_sid_t, &empty, &w));
  EXPECT_EQ(w, (Words{0}));

  credutl_sid_t uid = unix_uid(1000);
  ASSERT_TRUE(encode(xdr_credutl_sid_t, &uid, &w));
  EXPECT_EQ(w, (Words{7, 2, 0x000003e8, 0x01000000}));
  credutl_sid_t back;
  memset(&back, 0x5a, sizeof back);
  ASSERT_TRUE(decode(xdr_credutl_sid_t, w, &back));
  EXPECT_EQ(memcmp(&back, &uid, sizeof uid), 0);  // bytes past length zeroed

  // Lengths that cannot describe a record, and types beyond a byte.
  for (Words bad : {Words{35, 3}, Words{1, 0}, Words{0xffffffffu, 0},
                    Words{2, 256}, Words{7, 2, 1}}) {
    credutl_sid_t sid;
    EXPECT_FALSE(decode(xdr_credutl_sid_t, bad, &sid)) << bad[0];
  }
  credutl_sid_t too_long = {};
  too_long.length = 35;
  EXPECT_FALSE(encode(xdr_credutl_sid_t, &too_long, &w));
}

TEST(CredutlXdr, InlineCredentialsKeepTheirBoundsOfThirtyTwo) {
  credutl_credentials_t c = {};
  c.uid = 5;
  c.gid = 6;
  c.ngroups = 1;
  c.groups[0] = 7;
  c.groups[31] = 9;  // beyond ngroups, still sent
  Words w;
  ASSERT_TRUE(encode(xdr_credutl_credentials_t, &c, &w));
  ASSERT_EQ(w.size(), 35u);
  EXPECT_EQ(w[3], 7u);
  EXPECT_EQ(w[34], 9u);
  c.ngroups = 40;  // encoding sends whatever ngroups says
  ASSERT_TRUE(encode(xdr_credutl_credentials_t, &c, &w));
  EXPECT_EQ(w.size(), 35u);
  credutl_credentials_t back;
  EXPECT_FALSE(decode(xdr_credutl_credentials_t, w, &back));

  credutl_sid_credentials_t s = {};
  s.user = unix_uid(1);
  s.group = CREDUTL_SID_NOBODY;
  s.ngroups = 2;
  s.groups[0] = unix_uid(3);
  s.groups[1] = CREDUTL_SID_DONTCARE;
  ASSERT_TRUE(encode(xdr_credutl_sid_credentials_t, &s, &w));
  EXPECT_EQ(w,
            (Words{7, 2, 1, 0x01000000, 2, 0, 2, 7, 2, 3, 0x01000000, 2, 1}));
  credutl_sid_credentials_t sback;
  ASSERT_TRUE(decode(xdr_credutl_sid_credentials_t, w, &sback));
  EXPECT_EQ(memcmp(&sback, &s, sizeof s), 0);
  w[6] = 33;
  EXPECT_FALSE(decode(xdr_credutl_sid_credentials_t, w, &sback));
  s.ngroups = -1;
  EXPECT_FALSE(encode(xdr_credutl_sid_credentials_t, &s, &w));
}

TEST(CredutlXdr, NameCredentials) {
  char user[] = "DOM\\joe", g1[] = "DOM\\staff";
  credutl_string_credentials_t n = {};
  n.user = user;  // group left null: travels as ""
  n.ngroups = 1;
  n.groups[0] = g1;
  Words w;
  ASSERT_TRUE(encode(xdr_credutl_string_credentials_t, &n, &w));
  Words expected = string_words(user);
  for (uint32_t x : string_words("")) expected.push_back(x);
  expected.push_back(1);
  for (uint32_t x : string_words(g1)) expected.push_back(x);
  EXPECT_EQ(w, expected);
  credutl_string_credentials_t back;
  ASSERT_TRUE(decode(xdr_credutl_string_credentials_t, w, &back));
  EXPECT_STREQ(back.user, user);
  EXPECT_STREQ(back.group, "");
  ASSERT_EQ(back.ngroups, 1);
  EXPECT_STREQ(back.groups[0], g1);
  xdr_release(xdr_credutl_string_credentials_t, &back);
  EXPECT_EQ(back.user, nullptr);

  // A name over 1023 bytes, a count over 32, and a message cut inside the
  // group names: each fails, and freeing releases what was decoded.
  std::string long_name(1024, 'x');
  n.user = long_name.data();
  EXPECT_FALSE(encode(xdr_credutl_string_credentials_t, &n, &w));
  n.user = user;
  n.ngroups = 33;
  EXPECT_FALSE(encode(xdr_credutl_string_credentials_t, &n, &w));
  Words over = expected;
  over[expected.size() - string_words(g1).size() - 1] = 33;
  EXPECT_FALSE(decode(xdr_credutl_string_credentials_t, over, &back));
  xdr_release(xdr_credutl_string_credentials_t, &back);
  Words cut = expected;
  cut[cut.size() - string_words(g1).size() - 1] = 2;
  EXPECT_FALSE(decode(xdr_credutl_string_credentials_t, cut, &back));
  EXPECT_STREQ(back.groups[0], g1);
  xdr_release(xdr_credutl_string_credentials_t, &back);
}

TEST(CredutlXdr, WholeCredentialsCarryAnyNumberOfGroups) {
  std::vector<credutl_sid_t> groups;
  for (uint32_t i = 0; i < 40; ++i) groups.push_back(unix_uid(100 + i));
  credutl_whole_credentials_t w = {unix_uid(1), unix_uid(2), 40, groups.data()};
  Words words;
  ASSERT_TRUE(encode(xdr_credutl_whole_credentials_t, &w, &words));
  credutl_whole_credentials_t back;
  ASSERT_TRUE(decode(xdr_credutl_whole_credentials_t, words, &back));
  EXPECT_EQ(credutl_compare_whole_credentials(&w, &back), 1);
  // The decoded array belongs to the family's own free.
  credutl_free_whole_credentials(&back);

  // A count of 2^31 - 1 in a short message fails at the end of the data.
  Words huge = {0, 0, 0x7fffffffu, 2, 0, 2, 0};
  ASSERT_FALSE(decode(xdr_credutl_whole_credentials_t, huge, &back));
  EXPECT_EQ(back.ngroups, 3);  // two decoded, the third half-read
  xdr_release(xdr_credutl_whole_credentials_t, &back);
  EXPECT_EQ(back.groups, nullptr);

  char user[] = "joe", grp[] = "staff", a[] = "a", b[] = "bb";
  char *names[] = {a, b};
  credutl_whole_string_credentials_t ws = {user, grp, 2, names};
  ASSERT_TRUE(encode(xdr_credutl_whole_string_credentials_t, &ws, &words));
  credutl_whole_string_credentials_t wsback;
  ASSERT_TRUE(decode(xdr_credutl_whole_string_credentials_t, words, &wsback));
  EXPECT_EQ(credutl_compare_whole_string_credentials(&ws, &wsback), 1);
  credutl_free_whole_string_credentials(&wsback);
  words.pop_back();
  ASSERT_FALSE(decode(xdr_credutl_whole_string_credentials_t, words, &wsback));
  xdr_release(xdr_credutl_whole_string_credentials_t, &wsback);
}

TEST(CredutlXdr, AccountRecords) {
  char uname[] = "DOM\\joe", gname[] = "DOM\\staff", home[] = "/home/joe";
  credutl_passwd_sid_t p = {};
  p.user = {uname, 1000, unix_uid(1000)};
  p.group = {gname, 100, CREDUTL_SID_NOBODY};
  p.home = home;  // gecos null: travels as ""
  Words w;
  ASSERT_TRUE(encode(xdr_credutl_passwd_sid_t, &p, &w));
  credutl_passwd_sid_t back;
  ASSERT_TRUE(decode(xdr_credutl_passwd_sid_t, w, &back));
  EXPECT_STREQ(back.user.name, uname);
  EXPECT_EQ(back.user.uid, 1000u);
  EXPECT_EQ(credutl_sid_eq(&back.user.sid, &p.user.sid), 1);
  EXPECT_STREQ(back.group.name, gname);
  EXPECT_EQ(back.group.gid, 100u);
  EXPECT_STREQ(back.gecos, "");
  EXPECT_STREQ(back.home, home);
  xdr_release(xdr_credutl_passwd_sid_t, &back);
  w.resize(w.size() - 2);
  EXPECT_FALSE(decode(xdr_credutl_passwd_sid_t, w, &back));
  xdr_release(xdr_credutl_passwd_sid_t, &back);
}

TEST(CredutlXdr, ClientRecords) {
  credutl_auth_quillmere_t auth = {};
  auth.kind = CREDUTL_AUTH_QUILLMERE_NAMES;
  strcpy(auth.domain, "DOM");
  strcpy(auth.host, "box");
  char user[] = "DOM\\joe", grp[] = "DOM\\staff";
  auth.credentials.user = user;
  auth.credentials.group = grp;
  credutl_client_t client = {CREDUTL_AUTH_FAMILY_QUILLMERE, &auth};
  Words w;
  ASSERT_TRUE(encode(xdr_credutl_client_t, &client, &w));
  EXPECT_EQ(w[0], 1u);
  EXPECT_EQ(w[1], 1u);
  credutl_client_t back = {};
  ASSERT_TRUE(decode(xdr_credutl_client_t, w, &back));
  auto *got = static_cast<credutl_auth_quillmere_t *>(back.auth_data);
  ASSERT_NE(got, nullptr);
  EXPECT_STREQ(got->domain, "DOM");
  EXPECT_STREQ(got->host, "box");
  EXPECT_STREQ(got->credentials.group, grp);
  xdr_release(xdr_credutl_client_t, &back);
  EXPECT_EQ(back.auth_data, nullptr);

  // Only the product's own family travels, in either direction.
  Words onc = w;
  onc[0] = CREDUTL_AUTH_FAMILY_ONC;
  back = {};
  EXPECT_FALSE(decode(xdr_credutl_client_t, onc, &back));
  EXPECT_EQ(back.auth_data, nullptr);
  credutl_client_t rpc = {CREDUTL_AUTH_FAMILY_ONC, &auth};
  EXPECT_FALSE(encode(xdr_credutl_client_t, &rpc, &w));

  // Kind 0 ends after the host; an unknown kind fails; a host field
  // without a terminator is never sent.
  auth.kind = CREDUTL_AUTH_QUILLMERE_HOST_ONLY;
  ASSERT_TRUE(encode(xdr_credutl_auth_quillmere_t, &auth, &w));
  EXPECT_EQ(w.size(), 1u + 2 + 2);
  auth.kind = 7;
  EXPECT_FALSE(encode(xdr_credutl_auth_quillmere_t, &auth, &w));
  auth.kind = CREDUTL_AUTH_QUILLMERE_HOST_ONLY;
  memset(auth.host, 'h', sizeof auth.host);
  EXPECT_FALSE(encode(xdr_credutl_auth_quillmere_t, &auth, &w));

  credutl_auth_quillmere_p_t absent = nullptr;
  ASSERT_TRUE(encode(xdr_credutl_auth_quillmere_p_t, &absent, &w));
  EXPECT_EQ(w, (Words{0}));
  credutl_auth_quillmere_p_t present = nullptr;
  ASSERT_TRUE(decode(xdr_credutl_auth_quillmere_p_t,
                     Words{1, 0, 1, 0x61000000, 0}, &present));
  ASSERT_NE(present, nullptr);
  EXPECT_STREQ(present->domain, "a");
  xdr_release(xdr_credutl_auth_quillmere_p_t, &present);
  EXPECT_EQ(present, nullptr);
}

}  // namespace
