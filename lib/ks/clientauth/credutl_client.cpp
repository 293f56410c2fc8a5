// Client records: the product's own record for this process, and the
// identity, domain and host of a client of either family.
#include <orvexks/credutl.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "clientauth/credutl_client_internal.h"

namespace {

// Name credentials of nobody: "nobody" as user and group, no groups.
int nobody_names(credutl_string_credentials_t *out) {
  std::memset(out, 0, sizeof *out);
  out->user = strdup("nobody");
  out->group = strdup("nobody");
  if (out->user != nullptr && out->group != nullptr) return 0;
  credutl_free_string_credentials(out);
  return 1;
}

int crack_quillmere(const credutl_auth_quillmere_t *auth,
                    credutl_string_credentials_t *out, size_t dsize,
                    char *domain, size_t hsize, char *host) {
  ksi_copy_part(domain, dsize, auth->domain,
                strnlen(auth->domain, sizeof auth->domain));
  ksi_copy_part(host, hsize, auth->host,
                strnlen(auth->host, sizeof auth->host));
  if (auth->kind == CREDUTL_AUTH_QUILLMERE_NAMES)
    return credutl_copy_string_credentials(&auth->credentials, out);
  return nobody_names(out);
}

}  // namespace

extern "C" {

int credutl_mk_client_quillmere(int kind, credutl_auth_quillmere_t *auth,
                                credutl_client_t *client) {
  std::memset(auth, 0, sizeof *auth);
  ksi_copy_out(auth->domain, sizeof auth->domain, credutl_get_domain());
  if (gethostname(auth->host, sizeof auth->host) != 0) return 1;
  auth->host[sizeof auth->host - 1] = '\0';
  auth->kind = kind;
  if (kind == CREDUTL_AUTH_QUILLMERE_NAMES) {
    credutl_sid_credentials_t sids;
    int status = credutl_get_sid_credentials(&sids);
    if (status != 0) return status;
    status = credutl_sid_credentials_to_string_credentials(&sids,
                                                           &auth->credentials);
    if (status != 0) return status;
  }
  client->auth_family = CREDUTL_AUTH_FAMILY_QUILLMERE;
  client->auth_data = auth;
  return 0;
}

int credutl_crack_client(const credutl_client_t *client, int *has_sid_creds,
                         int *has_string_creds,
                         credutl_sid_credentials_t *sid_out,
                         credutl_string_credentials_t *string_out, size_t dsize,
                         char *domain, size_t hsize, char *host) {
  *has_sid_creds = 0;
  *has_string_creds = 0;
  if (client != nullptr && client->auth_data != nullptr &&
      client->auth_family == CREDUTL_AUTH_FAMILY_QUILLMERE) {
    *has_string_creds = 1;
    return crack_quillmere(
        static_cast<const credutl_auth_quillmere_t *>(client->auth_data),
        string_out, dsize, domain, hsize, host);
  }
  struct svc_req *req = nullptr;
  if (client != nullptr && client->auth_family == CREDUTL_AUTH_FAMILY_ONC)
    req = static_cast<struct svc_req *>(client->auth_data);
  // A missing request cracks as an unknown one: NOBODY from "<unknown>".
  ksi_crack_onc_client(req, sid_out, dsize, domain, hsize, host);
  *has_sid_creds = 1;
  return 0;
}

void credutl_free_client(credutl_client_t *client) {
  if (client == nullptr) return;
  if (client->auth_family == CREDUTL_AUTH_FAMILY_QUILLMERE &&
      client->auth_data != nullptr) {
    auto *auth = static_cast<credutl_auth_quillmere_t *>(client->auth_data);
    std::memset(auth->domain, 0, sizeof auth->domain);
    std::memset(auth->host, 0, sizeof auth->host);
    if (auth->kind == CREDUTL_AUTH_QUILLMERE_NAMES)
      credutl_free_string_credentials(&auth->credentials);
  }
  client->auth_family = CREDUTL_AUTH_FAMILY_NONE;
  client->auth_data = nullptr;
}

}  // extern "C"
