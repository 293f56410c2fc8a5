/* A foreign XDR peer for interoperation tests: a program linked only with
 * the system's ONC RPC library. Each scenario encodes a fixed set of values
 * to a file, or decodes such a file and prints the values, one per line.
 *
 * Scenario files register themselves with PEER_SCENARIO; the build links
 * every tirpc_peer*.c of this directory into the one program:
 *
 *   tirpc_peer encode SCENARIO FILE
 *   tirpc_peer decode SCENARIO FILE
 *   tirpc_peer list
 */
#pragma once

#include <stdio.h>

#include <rpc/rpc.h>

/* Both return 0 on success. encode writes through the stream; decode reads
 * through it and prints to out. */
typedef int (*peer_encode_fn)(XDR *xdrs);
typedef int (*peer_decode_fn)(XDR *xdrs, FILE *out);

struct peer_scenario {
  const char *name;
  peer_encode_fn encode;
  peer_decode_fn decode;
  struct peer_scenario *next;
};

void peer_register(struct peer_scenario *scenario);

#define PEER_SCENARIO(ident, encode_fn, decode_fn)                        \
  static struct peer_scenario peer_scenario_##ident = {#ident, encode_fn, \
                                                       decode_fn, NULL};  \
  __attribute__((constructor)) static void peer_register_##ident(void) {  \
    peer_register(&peer_scenario_##ident);                                \
  }

/* A failed step of a scenario: says which, and makes it return 1. */
#define PEER_CHECK(step)                                                  \
  do {                                                                    \
    if (!(step)) {                                                        \
      fprintf(stderr, "tirpc_peer: %s failed (%s:%d)\n", #step, __FILE__, \
              __LINE__);                                                  \
      return 1;                                                           \
    }                                                                     \
  } while (0)
