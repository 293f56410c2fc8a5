/* The rows of rpc_msg_bench, shared by the library's benchmark and its
 * foreign peer so that both code the same messages. */
#pragma once

#define RPC_MSG_BENCH_ROW_ENCODE_CALL "encode_callmsg_auth_unix"
#define RPC_MSG_BENCH_ROW_DECODE_CALL "decode_callmsg_auth_unix"
#define RPC_MSG_BENCH_ROW_RECORD_1MIB "xdrrec_encode_1mib"

/* The call: NFS-like program, an AUTH_UNIX credential with 8 groups. */
#define RPC_MSG_BENCH_XID 0x1234u
#define RPC_MSG_BENCH_PROG 100003u
#define RPC_MSG_BENCH_VERS 3u
#define RPC_MSG_BENCH_PROC 4u
#define RPC_MSG_BENCH_HOST "buildhost-17.example.com"
#define RPC_MSG_BENCH_UID 1000
#define RPC_MSG_BENCH_GID 1000
#define RPC_MSG_BENCH_GROUPS 8

/* The record: 1 MiB of words through a stream of 8 KiB buffers. */
#define RPC_MSG_BENCH_RECORD_WORDS (1024 * 1024 / 4)
#define RPC_MSG_BENCH_RECORD_BUFFER 8192
