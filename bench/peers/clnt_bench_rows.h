/* The rows of clnt_bench, shared by the library's benchmark and its
 * foreign peer: null-procedure round trips to the same libtirpc server
 * over loopback UDP and TCP, and an address lookup through the same
 * rpcbind. The peer takes the server's UDP and TCP ports as arguments. */
#pragma once

#define CLNT_BENCH_ROW_NULL_UDP "null_call_udp"
#define CLNT_BENCH_ROW_NULL_TCP "null_call_tcp"
#define CLNT_BENCH_ROW_RPCB_GETADDR "rpcb_getaddr_tcp"

/* The server's program (tests/peers/tirpc_server.c) and version. */
#define CLNT_BENCH_PROG 0x20000101u
#define CLNT_BENCH_VERS 3u
