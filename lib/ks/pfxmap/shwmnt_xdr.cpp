// The mount protocol's export list (the EXPORT procedure's reply): an
// optional chain of export nodes, each a directory path, an optional chain
// of group names and the next node. Every link is a presence word, so the
// same bytes a recursive optional-pointer filter reads are read here in a
// loop: a reply of many thousands of nodes never deepens the stack.
// Names are eight-bit XDR strings, the wire form of xdr_ez_string8, bounded
// by the protocol's own limits rather than that filter's: a path may hold
// 1024 bytes and a group name 255; a longer one fails the decode.
#include <orvexks/rpc/xdr.h>

#include <cstdlib>
#include <cstring>

#include "pfxmap/ntpfxmap_internal.h"

namespace {

constexpr uint32_t kMaxPathLen = 1024;  // MNTPATHLEN
constexpr uint32_t kMaxNameLen = 255;   // MNTNAMLEN

void free_text(char **text) {
  XDR handle;
  std::memset(&handle, 0, sizeof handle);
  handle.x_op = XDR_FREE;
  xdr_string(&handle, text, kMaxPathLen);
}

void free_groups(shwmnt_group_t *group) {
  while (group != nullptr) {
    shwmnt_group_t *next = group->gr_next;
    free_text(&group->gr_name);
    std::free(group);
    group = next;
  }
}

void free_exports(shwmnt_export_t *ex) {
  while (ex != nullptr) {
    shwmnt_export_t *next = ex->ex_next;
    free_text(&ex->ex_dir);
    free_groups(ex->ex_groups);
    std::free(ex);
    ex = next;
  }
}

// The presence word of the link at *link: encoding states whether a node
// follows; decoding allocates a zeroed node when one does.
template <typename Node>
bool code_link(XDR *xdrs, Node **link, bool *present) {
  bool_t more = *link != nullptr;
  if (!xdr_bool(xdrs, &more)) return false;
  *present = more != 0;
  if (!*present || xdrs->x_op != XDR_DECODE || *link != nullptr) return true;
  *link = static_cast<Node *>(std::calloc(1, sizeof(Node)));
  return *link != nullptr;
}

bool code_groups(XDR *xdrs, shwmnt_group_t **link) {
  for (;;) {
    bool present = false;
    if (!code_link(xdrs, link, &present)) return false;
    if (!present) return true;
    if (!xdr_string(xdrs, &(*link)->gr_name, kMaxNameLen)) return false;
    link = &(*link)->gr_next;
  }
}

}  // namespace

bool_t ksi_xdr_shwmnt_exports(XDR *xdrs, shwmnt_export_t **list) {
  if (xdrs->x_op == XDR_FREE) {
    free_exports(*list);
    *list = nullptr;
    return TRUE;
  }
  for (shwmnt_export_t **link = list;; link = &(*link)->ex_next) {
    bool present = false;
    if (!code_link(xdrs, link, &present)) return FALSE;
    if (!present) return TRUE;
    if (!xdr_string(xdrs, &(*link)->ex_dir, kMaxPathLen) ||
        !code_groups(xdrs, &(*link)->ex_groups))
      return FALSE;
  }
}

int ksi_shwmnt_err_routine(CLIENT *, uint32_t, enum clnt_stat, int *tries) {
  constexpr int kRetries = 3;
  return ++*tries > kRetries ? -1 : 0;
}
