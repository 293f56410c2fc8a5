/* Compression of whole in-memory blocks in the product's own format.
 *
 * A compressed block is a format byte (COMPRESS_FORMAT), the uncompressed
 * length as an unsigned 32-bit big-endian number, and a bit stream (most
 * significant bit of each byte first) of codes:
 *   0 b6..b0            a literal byte below 128 (8 bits);
 *   1 1 b6..b0          a literal byte 1b6..b0, from 128 on (9 bits: a
 *                       1 bit, then the byte);
 *   1 0 d11..d0 l4..l0  a copy of l + 3 bytes from d + 1 bytes back in the
 *                       output (19 bits);
 * padded with zero bits to a whole byte. Blocks are stored and exchanged
 * by other programs of the product, so the encoder's choices are fixed:
 * the same input always gives the same bytes. */
#ifndef ORVEXKS_COMPRESS_H
#define ORVEXKS_COMPRESS_H

#include <orvexks/ks_base.h>

KS_BEGIN_DECLS

/* The first byte of every compressed block. */
#define COMPRESS_FORMAT 1

/* Compresses in_len bytes at in (in_len below 2^32: only the low 32 bits
 * of the length are recorded). Returns the block, allocated with stg_malloc
 * (release it with stg_free), and stores its length in *out_len; returns
 * null when memory is exhausted (after the message). Prints only on
 * exhaustion; a delivery point. Thread-safe: no shared state. */
KS_API void *compress_compress(uint64_t in_len, const void *in,
                               uint64_t *out_len);
/* Expands the in_len bytes of a compressed block at in. Returns the data,
 * allocated with stg_malloc (release it with stg_free; a valid pointer even
 * for empty data), and stores its length in *out_len. Bytes after the code
 * that completes the announced length are ignored. Returns null and leaves
 * *out_len alone after reporting 'Bad format number for "compressed data"'
 * (error, ks table) for a damaged block: shorter than its header, another
 * format byte, a copy reaching before the start or past the announced
 * length, or a stream that ends before that length is produced; and null
 * after "Unable to allocate storage." when memory is exhausted. Never reads
 * outside the block or writes outside the result, and never allocates more
 * than the block's codes could produce. A delivery point (it may print).
 * Thread-safe: no shared state. */
KS_API void *compress_uncompress(uint64_t in_len, const void *in,
                                 uint64_t *out_len);

KS_END_DECLS

#endif
