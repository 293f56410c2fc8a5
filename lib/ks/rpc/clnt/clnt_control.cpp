// The control requests both client transports answer the same way.
#include <arpa/inet.h>

#include <cstring>

#include "rpc/clnt/clnt_internal.h"

namespace {

constexpr uint32_t kProgOffset = 12;
constexpr uint32_t kVersOffset = 16;

void put_word(char *buf, uint32_t offset, uint32_t value) {
  uint32_t be = htonl(value);
  memcpy(buf + offset, &be, 4);
}
uint32_t get_word(const char *buf, uint32_t offset) {
  uint32_t be;
  memcpy(&be, buf + offset, 4);
  return ntohl(be);
}

}  // namespace

bool_t ksi_clnt_control(const ksi_clnt_ctl_view &view, unsigned int request,
                        void *info) {
  if (request == CLSET_FD_CLOSE) return *view.own_fd = true;
  if (request == CLSET_FD_NCLOSE) return !(*view.own_fd = false);
  if (info == nullptr) return FALSE;
  auto *word = static_cast<uint32_t *>(info);
  switch (request) {
    case CLGET_SERVER_ADDR:
      memcpy(info, view.addr, *view.addrlen);
      return TRUE;
    case CLGET_FD:
      *static_cast<int *>(info) = view.fd;
      return TRUE;
    case CLGET_SVC_ADDR: {
      auto *nb = static_cast<struct netbuf *>(info);
      nb->maxlen = kClntAddrMax;
      nb->len = *view.addrlen;
      nb->buf = view.addr;
      return TRUE;
    }
    case CLGET_XID:
      *word = *view.xid;
      return TRUE;
    case CLSET_XID:
      *view.xid = *word - static_cast<uint32_t>(view.xid_step);
      return TRUE;
    case CLGET_VERS:
      *word = get_word(view.header, kVersOffset);
      return TRUE;
    case CLSET_VERS:
      put_word(view.header, kVersOffset, *word);
      return TRUE;
    case CLGET_PROG:
      *word = get_word(view.header, kProgOffset);
      return TRUE;
    case CLSET_PROG:
      put_word(view.header, kProgOffset, *word);
      return TRUE;
    default:
      return FALSE;
  }
}
