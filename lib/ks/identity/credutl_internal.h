// Internals shared by the sources of the credutl family.
#pragma once

#include <cstddef>
#include <cstdint>

#include <orvexks/credutl.h>
#include <orvexks/pfm.h>
#include <orvexnt/nt_sid.h>

// Ends the process through the assertion report when cond is false; text is
// the condition as the report prints it.
#define KSI_CREDUTL_ASSERT(cond, text)                      \
  do {                                                      \
    if (!(cond)) pfm_assert_fail(text, __FILE__, __LINE__); \
  } while (0)

inline constexpr const char *kKsiCredutlSubsys = "credutl";

// Number of record bytes that a length byte covers, kept inside the record
// so that a damaged length never reads past it.
inline size_t ksi_sid_span(const credutl_sid_t *sid) {
  int len = sid->length;
  if (len < 0) return 0;
  return len > CREDUTL_SID_SIZE ? CREDUTL_SID_SIZE : static_cast<size_t>(len);
}

// 1 when the record is an NT SID that the platform can rebuild: valid, and
// of the one NT revision there is. Records from the wire or from raw texts
// may be neither.
inline bool ksi_sid_has_nt_form(const credutl_sid_t *sid) {
  return sid->type == CREDUTL_SID_TYPE_NT && CREDUTL_IS_VALID_SID(sid) &&
         sid->data[0] == NT_SID_REVISION;
}
