// The library's thread-local block: one per thread, created on first use.
// Families that keep per-thread state add their member records here.
#pragma once

#include <orvexks/stg.h>

#include "msg/msg_tls.h"

struct ksi_tls_t {
  stg_area_t area;  // the storage area holding the block; always first
  struct ksi_date_tls *date;  // date result buffers, made on first use
  ksi_msg_tls_t msg;
  char *msg_app_name;  // imsg_get_app_name's copy (malloc)
  char strutl_u32tostr_buf[33];  // result of strutl_u32tostr
  char strutl_flags_buf[1024];   // result of strutl_flags_to_str
  char *strutl_token_cursor;     // where strutl_tokenize resumes
  struct ksi_credutl_tls *credutl;  // account and group lookup results
  struct ksi_rpc_tls *rpc;       // RPC error texts and creation error, made on first use
  struct ksi_sysutl_tls *sysutl; // the current user's names and name conversions, made on first use
};

// Run on a thread's block before it is freed, in list order; the list ends
// with a null entry.
typedef void (*ksi_tls_cleanup_t)(ksi_tls_t *block);
extern const ksi_tls_cleanup_t ksi_tls_cleanups[];
void ksi_date_tls_cleanup(ksi_tls_t *block);
void ksi_rpc_tls_cleanup(ksi_tls_t *block);
void ksi_sysutl_tls_cleanup(ksi_tls_t *block);
void ksi_credutl_tls_cleanup(ksi_tls_t *block);
void ksi_msg_out_tls_cleanup(ksi_tls_t *block);

// The caller's block (zero-filled when new). Failure ends the process.
ksi_tls_t *ksi_tls_block(void);
