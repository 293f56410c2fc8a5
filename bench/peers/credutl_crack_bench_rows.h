/* The rows of credutl_crack_bench, shared by the library's benchmark and
 * its foreign peer so that both handle the same AUTH_UNIX credential. */
#pragma once

#define CREDUTL_CRACK_BENCH_ROW_CRACK "authunix_crack_16_groups"
#define CREDUTL_CRACK_BENCH_ROW_CRACK_HERE "authunix_crack_16_groups_this_host"
#define CREDUTL_CRACK_BENCH_ROW_DECODE "authunix_decode_16_groups"

/* The credential: a machine name as our clients write it (of another host,
 * or of this one: "HOST/host" from gethostname), a user, its primary group
 * and 16 further groups. */
#define CREDUTL_CRACK_BENCH_MACHNAME "BUILDHOST-17/buildhost-17"
#define CREDUTL_CRACK_BENCH_UID 1000
#define CREDUTL_CRACK_BENCH_GID 100
#define CREDUTL_CRACK_BENCH_GROUPS 16
#define CREDUTL_CRACK_BENCH_FIRST_GROUP 200
