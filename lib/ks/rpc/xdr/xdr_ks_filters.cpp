// The library's own filters: fixed-width integers of its records, storage
// area pointers, optional strings, flag items, socket addresses, path names
// and cursors carried as slot numbers.
#include "rpc/xdr/xdr_stream.h"

#include <algorithm>
#include <climits>
#include <clocale>
#include <cstdlib>

#include <sys/socket.h>

#include <orvexks/strutl.h>
#include <orvexks/sysutl.h>

#include "internal/thread_safety.h"

namespace {

// Sockets: the library's own address-family codes on the wire.
constexpr enum_t KS_AF_INET = SYSUTL_KS_AF_INET;
constexpr enum_t KS_AF_INET6 = SYSUTL_KS_AF_INET6;

constexpr uint32_t kNoBound = 0xFFFFFFFFu;

// Path names: separators are "\" in memory and "/" on the wire; a null
// pointer travels as length -1.
constexpr int32_t kNullPathLength = -1;
constexpr const char *kPathFilter = "xdr_ks_canon_pname_t";

bool_t encode_pname(XDR *xdrs, const char *pname) {
  if (pname == nullptr) return ksi_xdr_put_u32(xdrs, UINT32_MAX);
  size_t len = std::strlen(pname);
  if (len > INT32_MAX) return FALSE;
  if (!ksi_xdr_put_u32(xdrs, static_cast<uint32_t>(len))) return FALSE;
  if (len == 0) return TRUE;
  auto *copy = static_cast<char *>(std::malloc(len + 1));
  if (copy == nullptr) {
    ksi_xdr_out_of_memory(kPathFilter);
    return FALSE;
  }
  std::memcpy(copy, pname, len + 1);
  // Whole characters at a time, so that a trail byte equal to "\" in a
  // multibyte code page stays as it is.
  size_t max_char = MB_CUR_MAX;
  for (size_t i = 0; i < len;) {
    if (copy[i] == '\\') copy[i] = '/';
    int step = strutl_mblen(copy + i, max_char);
    i += step > 0 ? static_cast<size_t>(step) : 1;
  }
  bool_t ok = xdr_opaque(xdrs, copy, static_cast<uint32_t>(len));
  std::free(copy);
  return ok;
}

// Decodes into *pnamep, allocating when it is null.
bool_t decode_pname(XDR *xdrs, char **pnamep) {
  int32_t len;
  if (!xdr_int32_t(xdrs, &len)) return FALSE;
  if (len == kNullPathLength) {
    *pnamep = nullptr;
    return TRUE;
  }
  if (len < 0 || static_cast<uint64_t>(len) > ksi_xdr_bytes_left(xdrs))
    return FALSE;
  if (*pnamep == nullptr) {
    *pnamep = static_cast<char *>(std::calloc(1, static_cast<size_t>(len) + 1));
    if (*pnamep == nullptr) {
      ksi_xdr_out_of_memory(kPathFilter);
      return FALSE;
    }
  }
  char *pname = *pnamep;
  pname[len] = '\0';
  if (len == 0) return TRUE;
  if (!xdr_opaque(xdrs, pname, static_cast<uint32_t>(len))) return FALSE;
  std::replace(pname, pname + len, '/', '\\');
  return TRUE;
}

// The cursor table's slot array sits behind this header, in one block.
struct cursor_table_header {
  uint32_t capacity;
  uint32_t slot_width;
  stg_area_t area;
};
static_assert(sizeof(cursor_table_header) == 16);

constexpr uint32_t kFirstCursorCapacity = 4;

cursor_table_header *header_of(uint64_t *slots) {
  return reinterpret_cast<cursor_table_header *>(slots) - 1;
}

uint64_t *new_cursor_table(stg_area_t area, uint32_t capacity) {
  void *block = stg_alloc(area, sizeof(cursor_table_header) +
                                    uint64_t{capacity} * sizeof(uint64_t));
  if (block == nullptr) return nullptr;
  auto *header = static_cast<cursor_table_header *>(block);
  header->capacity = capacity;
  header->slot_width = sizeof(uint64_t);
  header->area = area;
  return reinterpret_cast<uint64_t *>(header + 1);
}

// A caller's cursor table as the filter reaches it: the slot array and its
// count live in the caller's variables, guarded by the caller's mutex.
struct cursor_table_ref {
  qmthread_mutex_t *mutex;
  uint64_t **slotsp KSI_PT_GUARDED_BY(mutex);
  uint32_t *countp KSI_PT_GUARDED_BY(mutex);
};

// Takes a free slot for `value` (growing the table when none is free) and
// returns its number, or 0 when the table cannot grow.
uint32_t take_cursor_slot(const cursor_table_ref &t, uint64_t value)
    KSI_REQUIRES(t.mutex) {
  uint64_t *slots = *t.slotsp;
  for (uint32_t i = 1; i < *t.countp; ++i) {
    if (slots[i] == 0) {
      slots[i] = value;
      return i;
    }
  }
  cursor_table_header *header = header_of(slots);
  if (*t.countp >= header->capacity) {
    if (header->capacity > UINT32_MAX / 2) return 0;
    uint32_t capacity = std::max(*t.countp + 1, 2 * header->capacity);
    uint64_t *grown = new_cursor_table(header->area, capacity);
    if (grown == nullptr) return 0;
    std::memcpy(grown, slots, uint64_t{*t.countp} * sizeof(uint64_t));
    if (header->area == STG_AREA_HEAP) stg_free(header);
    *t.slotsp = slots = grown;
  }
  slots[*t.countp] = value;
  return (*t.countp)++;
}

uint64_t cursor_bits(void *cursor) {
  return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(cursor));
}

}  // namespace

extern "C" {

bool_t xdr_ks_boolean_t(XDR *xdrs, int32_t *bp) {
  return xdr_int32_t(xdrs, bp);
}
bool_t xdr_ks_off32_t(XDR *xdrs, int32_t *op) { return xdr_int32_t(xdrs, op); }
bool_t xdr_ks_uint32_t(XDR *xdrs, uint32_t *up) {
  return xdr_u_int32_t(xdrs, up);
}
bool_t xdr_u_long_as_int(XDR *xdrs, uint32_t *up) {
  return xdr_u_int32_t(xdrs, up);
}
bool_t xdr_ks_byte_t(XDR *xdrs, uint8_t *bp) { return xdr_u_char(xdrs, bp); }

bool_t xdr_ks_char_t(XDR *xdrs, int8_t *cp) {
  int32_t word = *cp;
  if (!xdr_int32_t(xdrs, &word)) return FALSE;
  if (xdrs->x_op == XDR_DECODE) *cp = static_cast<int8_t>(word);
  return TRUE;
}

bool_t xdr_ks_int64_t(XDR *xdrs, int64_t *llp) { return xdr_hyper(xdrs, llp); }
bool_t xdr_ks_off64_t(XDR *xdrs, int64_t *llp) { return xdr_hyper(xdrs, llp); }
bool_t xdr_ks_uint64_t(XDR *xdrs, uint64_t *ullp) {
  return xdr_u_hyper(xdrs, ullp);
}

bool_t xdr_stg_area_rpc_ptr_t(XDR *xdrs, stg_area_t *areap) {
  switch (xdrs->x_op) {
    case XDR_ENCODE:
      return ksi_xdr_put_u32(xdrs, 0);
    case XDR_DECODE: {
      uint32_t ignored;
      if (!ksi_xdr_get_u32(xdrs, &ignored)) return FALSE;
      *areap = STG_AREA_NULL;
      return TRUE;
    }
    case XDR_FREE:
      return TRUE;
  }
  return FALSE;
}

bool_t xdr_string_pointer(XDR *xdrs, char **cpp, uint32_t maxsize) {
  bool_t present = *cpp != nullptr;
  if (!xdr_bool(xdrs, &present)) return FALSE;
  if (!present) {
    *cpp = nullptr;
    return TRUE;
  }
  return xdr_string(xdrs, cpp, maxsize);
}

bool_t xdr_strutl_flag_item_t(XDR *xdrs, strutl_flag_item_t *item) {
  return xdr_string(xdrs, &item->name, kNoBound) &&
         xdr_u_long_as_int(xdrs, &item->value);
}

// The address as one word holding its bytes in network order, then the
// port number as one word.
bool_t xdr_sockaddr_in(XDR *xdrs, struct sockaddr_in *sin) {
  uint32_t addr = ntohl(sin->sin_addr.s_addr);
  uint32_t port = ntohs(sin->sin_port);
  if (!xdr_u_int32_t(xdrs, &addr) || !xdr_u_int32_t(xdrs, &port)) return FALSE;
  if (xdrs->x_op == XDR_DECODE) {
    std::memset(sin, 0, sizeof *sin);
    sin->sin_family = AF_INET;
    sin->sin_addr.s_addr = htonl(addr);
    sin->sin_port = htons(static_cast<uint16_t>(port));
  }
  return TRUE;
}

// Each of the 16 address bytes as a word, then the port; flow information
// and scope stay behind.
bool_t xdr_sockaddr_in6(XDR *xdrs, struct sockaddr_in6 *sin6) {
  unsigned char addr[16];
  std::memcpy(addr, &sin6->sin6_addr, 16);
  uint32_t port = ntohs(sin6->sin6_port);
  if (!xdr_vector(xdrs, reinterpret_cast<char *>(addr), 16, 1,
                  reinterpret_cast<xdrproc_t>(xdr_u_char)) ||
      !xdr_u_int32_t(xdrs, &port))
    return FALSE;
  if (xdrs->x_op == XDR_DECODE) {
    std::memset(sin6, 0, sizeof *sin6);
    sin6->sin6_family = AF_INET6;
    std::memcpy(&sin6->sin6_addr, addr, 16);
    sin6->sin6_port = htons(static_cast<uint16_t>(port));
  }
  return TRUE;
}

bool_t xdr_ks_sockaddr_storage_t(XDR *xdrs, struct sockaddr_storage *ss) {
  if (xdrs->x_op == XDR_FREE) return TRUE;
  enum_t family =
      static_cast<enum_t>(sysutl_sa_family_to_ks_addrfamily(ss->ss_family));
  if (!xdr_enum(xdrs, &family)) return FALSE;
  switch (family) {
    case KS_AF_INET:
      return xdr_sockaddr_in(xdrs, reinterpret_cast<sockaddr_in *>(ss));
    case KS_AF_INET6:
      return xdr_sockaddr_in6(xdrs, reinterpret_cast<sockaddr_in6 *>(ss));
    default:
      return FALSE;
  }
}

bool_t xdr_ks_canon_pname_p_t(XDR *xdrs, char **pnamep) {
  switch (xdrs->x_op) {
    case XDR_ENCODE:
      return encode_pname(xdrs, *pnamep);
    case XDR_DECODE:
      return decode_pname(xdrs, pnamep);
    case XDR_FREE:
      std::free(*pnamep);
      *pnamep = nullptr;
      return TRUE;
  }
  return FALSE;
}

bool_t xdr_ks_canon_pname_c_p_t(XDR *xdrs, const char **pnamep) {
  return xdr_ks_canon_pname_p_t(xdrs, const_cast<char **>(pnamep));
}

bool_t xdr_ks_canon_pname_t(XDR *xdrs, char *pname) {
  if (xdrs->x_op == XDR_FREE) return TRUE;
  char *local = pname;
  if (xdrs->x_op == XDR_DECODE && local == nullptr) return FALSE;
  return xdr_ks_canon_pname_p_t(xdrs, &local);
}

bool_t xdr_ks_generic_cursor_t(XDR *xdrs, void **cursor, uint32_t *slot_index,
                               uint64_t **slots, uint32_t *slot_count,
                               qmthread_mutex_t *mutex) {
  if (xdrs->x_op == XDR_FREE) {
    *slot_index = 0;
    return TRUE;
  }
  const cursor_table_ref t = {mutex, slots, slot_count};
  qmthread_mutex_lock(t.mutex);
  if (*t.slotsp == nullptr) {
    *t.slotsp = new_cursor_table(STG_AREA_HEAP, kFirstCursorCapacity);
    if (*t.slotsp != nullptr) {
      (*t.slotsp)[0] = 0;
      *t.countp = 1;
    }
  }
  qmthread_mutex_unlock(t.mutex);

  if (xdrs->x_op == XDR_ENCODE) {
    if (*slot_index != 0) {
      qmthread_mutex_lock(t.mutex);
      // Only an index the table gave out names a slot to write.
      if (*t.slotsp != nullptr && *slot_index < *t.countp)
        (*t.slotsp)[*slot_index] = cursor_bits(*cursor);
      qmthread_mutex_unlock(t.mutex);
      if (*cursor == nullptr) *slot_index = 0;
    } else if (*cursor != nullptr) {
      qmthread_mutex_lock(t.mutex);
      uint32_t taken =
          *t.slotsp == nullptr ? 0 : take_cursor_slot(t, cursor_bits(*cursor));
      qmthread_mutex_unlock(t.mutex);
      if (taken == 0) return FALSE;
      *slot_index = taken;
    }
    uint32_t index = *slot_index;
    *slot_index = 0;
    return xdr_u_int32_t(xdrs, &index);
  }
  if (xdrs->x_op != XDR_DECODE) return FALSE;

  uint32_t index;
  if (!xdr_u_int32_t(xdrs, &index)) return FALSE;
  if (index == 0) {
    *cursor = nullptr;
    return TRUE;
  }
  *slot_index = index;
  uint64_t value = 0;
  qmthread_mutex_lock(t.mutex);
  if (*t.slotsp != nullptr && index < *t.countp) value = (*t.slotsp)[index];
  qmthread_mutex_unlock(t.mutex);
  if (value == 0) return FALSE;
  *cursor = reinterpret_cast<void *>(static_cast<uintptr_t>(value));
  return TRUE;
}

char *ez_strcpy8(char *dst, const char *src) { return std::strcpy(dst, src); }

}  // extern "C"
