// Wire forms of credentials and client records: exact words where the
// layout is fixed, refusal of counts and lengths out of range, and freeing
// after a failed decode (the sanitizer builds catch what a free leaves).
// The fuzz target covers the round trips of every form.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstring>
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
  out->resize(XDR_GETPOS(&xdrs) / 4);
  for (size_t i = 0; i < out->size(); ++i) {
    uint32_t be;
    memcpy(&be, buf + 4 * i, 4);
    (*out)[i] = ntohl(be);
  }
  return true;
}

template <typename T>
bool decode(bool_t (*filter)(XDR *, T *), const Words &words, T *value) {
  Words be(words.size());
  for (size_t i = 0; i < words.size(); ++i) be[i] = htonl(words[i]);
  XDR xdrs;
  xdrmem_create(&xdrs, reinterpret_cast<char *>(be.data()),
                static_cast<uint32_t>(be.size() * 4), XDR_DECODE);
  return filter(&xdrs, value) != 0;
}

template <typename T>
void release(bool_t (*filter)(XDR *, T *), T *value) {
  xdr_free(reinterpret_cast<xdrproc_t>(filter), value);
}

credutl_sid_t unix_uid(uint32_t uid) {
  credutl_sid_t sid;
  credutl_unix_uid_to_sid(uid, &sid);
  return sid;
}

TEST(CredutlXdr, SidWireForm) {
  Words w;
  credutl_sid_t nobody = CREDUTL_SID_NOBODY, empty = {}, uid = unix_uid(1000);
  ASSERT_TRUE(encode(xdr_credutl_sid_t, &nobody, &w));
  EXPECT_EQ(w, (Words{2, 0}));
  ASSERT_TRUE(encode(xdr_credutl_sid_t, &empty, &w));
  EXPECT_EQ(w, (Words{0}));
  ASSERT_TRUE(encode(xdr_credutl_sid_t, &uid, &w));
  EXPECT_EQ(w, (Words{7, 2, 0x000003e8, 0x01000000}));
  credutl_sid_t back;
  memset(&back, 0x5a, sizeof back);
  ASSERT_TRUE(decode(xdr_credutl_sid_t, w, &back));
  EXPECT_EQ(memcmp(&back, &uid, sizeof uid), 0);  // bytes past length zeroed

  for (Words bad : {Words{35, 3}, Words{1, 0}, Words{0xffffffffu, 0},
                    Words{2, 256}, Words{7, 2, 1}})
    EXPECT_FALSE(decode(xdr_credutl_sid_t, bad, &back)) << bad[0];
  back.length = 35;
  EXPECT_FALSE(encode(xdr_credutl_sid_t, &back, &w));
}

TEST(CredutlXdr, InlineCredentialsKeepTheirBoundsOfThirtyTwo) {
  credutl_credentials_t c = {5, 6, 40, {7}};
  c.groups[31] = 9;
  Words w;
  ASSERT_TRUE(encode(xdr_credutl_credentials_t, &c, &w));
  ASSERT_EQ(w.size(), 35u);  // all 32 slots, whatever ngroups says
  EXPECT_EQ(w[34], 9u);
  EXPECT_FALSE(decode(xdr_credutl_credentials_t, w, &c));
  w[2] = 32;
  ASSERT_TRUE(decode(xdr_credutl_credentials_t, w, &c)) << "exactly 32 groups";
  EXPECT_EQ(c.ngroups, 32);

  credutl_sid_credentials_t s = {
      unix_uid(1), CREDUTL_SID_NOBODY, 1, {CREDUTL_SID_DONTCARE}};
  ASSERT_TRUE(encode(xdr_credutl_sid_credentials_t, &s, &w));
  EXPECT_EQ(w, (Words{7, 2, 1, 0x01000000, 2, 0, 1, 2, 1}));
  w[6] = 33;
  EXPECT_FALSE(decode(xdr_credutl_sid_credentials_t, w, &s));
  s.ngroups = -1;
  EXPECT_FALSE(encode(xdr_credutl_sid_credentials_t, &s, &w));
}

TEST(CredutlXdr, NameCredentials) {
  char user[] = "joe", g1[] = "staff";
  credutl_string_credentials_t n = {user, nullptr, 1, {g1}};
  Words w;
  ASSERT_TRUE(encode(xdr_credutl_string_credentials_t, &n, &w));
  EXPECT_EQ(w, (Words{3, 0x6a6f6500, 0, 1, 5, 0x73746166, 0x66000000}));
  credutl_string_credentials_t back;
  ASSERT_TRUE(decode(xdr_credutl_string_credentials_t, w, &back));
  EXPECT_STREQ(back.group, "");  // a null name travels as ""
  EXPECT_STREQ(back.groups[0], g1);
  release(xdr_credutl_string_credentials_t, &back);
  EXPECT_EQ(back.user, nullptr);

  // Over 1023 bytes, over 32 names, and a message cut after a name: each
  // fails, and freeing releases what was decoded.
  std::vector<char> long_name(1025, 'x');
  long_name.back() = '\0';
  n.user = long_name.data();
  EXPECT_FALSE(encode(xdr_credutl_string_credentials_t, &n, &w));
  w[3] = 33;
  EXPECT_FALSE(decode(xdr_credutl_string_credentials_t, w, &back));
  release(xdr_credutl_string_credentials_t, &back);
  w[3] = 2;
  EXPECT_FALSE(decode(xdr_credutl_string_credentials_t, w, &back));
  EXPECT_STREQ(back.groups[0], g1);
  release(xdr_credutl_string_credentials_t, &back);
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
  credutl_free_whole_credentials(&back);  // the family's own free fits
  credutl_whole_credentials_t negative = {unix_uid(1), unix_uid(2), -1,
                                          nullptr};
  EXPECT_FALSE(encode(xdr_credutl_whole_credentials_t, &negative, &words))
      << "a negative group count is refused, not sent as 2^32 - 1";

  // A count of 2^31 - 1 in a short message fails at the end of the data.
  ASSERT_FALSE(decode(xdr_credutl_whole_credentials_t,
                      Words{0, 0, 0x7fffffffu, 2, 0, 2, 0}, &back));
  EXPECT_EQ(back.ngroups, 3);  // two decoded, the third half-read
  release(xdr_credutl_whole_credentials_t, &back);
  EXPECT_EQ(back.groups, nullptr);
}

TEST(CredutlXdr, ClientRecords) {
  credutl_auth_quillmere_t auth = {
      CREDUTL_AUTH_QUILLMERE_NAMES, "DOM", "box", {}};
  char user[] = "DOM\\joe";
  auth.credentials.user = user;
  credutl_client_t client = {CREDUTL_AUTH_FAMILY_QUILLMERE, &auth};
  Words w;
  ASSERT_TRUE(encode(xdr_credutl_client_t, &client, &w));
  credutl_client_t back = {};
  ASSERT_TRUE(decode(xdr_credutl_client_t, w, &back));
  auto *got = static_cast<credutl_auth_quillmere_t *>(back.auth_data);
  ASSERT_NE(got, nullptr);
  EXPECT_STREQ(got->host, "box");
  EXPECT_STREQ(got->credentials.user, user);
  release(xdr_credutl_client_t, &back);
  EXPECT_EQ(back.auth_data, nullptr);
  // Decoding allocates its record whatever the pointer held before.
  credutl_auth_quillmere_t stale = {};
  back.auth_data = &stale;
  ASSERT_TRUE(decode(xdr_credutl_client_t, w, &back));
  EXPECT_NE(back.auth_data, &stale);
  EXPECT_STREQ(stale.host, "");
  release(xdr_credutl_client_t, &back);

  // Only the product's own family travels, in either direction.
  w[0] = CREDUTL_AUTH_FAMILY_ONC;
  EXPECT_FALSE(decode(xdr_credutl_client_t, w, &back));
  EXPECT_EQ(back.auth_data, nullptr);
  client.auth_family = CREDUTL_AUTH_FAMILY_ONC;
  EXPECT_FALSE(encode(xdr_credutl_client_t, &client, &w));

  // Kind 0 ends after the host; an unknown kind fails; a host field
  // without a terminator is never sent.
  auth.kind = CREDUTL_AUTH_QUILLMERE_HOST_ONLY;
  ASSERT_TRUE(encode(xdr_credutl_auth_quillmere_t, &auth, &w));
  EXPECT_EQ(w.size(), 5u);
  auth.kind = 7;
  EXPECT_FALSE(encode(xdr_credutl_auth_quillmere_t, &auth, &w));
  auth.kind = CREDUTL_AUTH_QUILLMERE_HOST_ONLY;
  memset(auth.host, 'h', sizeof auth.host);
  EXPECT_FALSE(encode(xdr_credutl_auth_quillmere_t, &auth, &w));

  credutl_auth_quillmere_p_t p = nullptr;
  ASSERT_TRUE(encode(xdr_credutl_auth_quillmere_p_t, &p, &w));
  EXPECT_EQ(w, (Words{0}));
  ASSERT_TRUE(decode(xdr_credutl_auth_quillmere_p_t,
                     Words{1, 0, 1, 0x61000000, 0}, &p));
  ASSERT_NE(p, nullptr);
  EXPECT_STREQ(p->domain, "a");
  release(xdr_credutl_auth_quillmere_p_t, &p);
  EXPECT_EQ(p, nullptr);
}

}  // namespace
