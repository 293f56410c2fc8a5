/* NT security identifiers (SIDs) in their binary Windows layout:
 *
 *   byte 0      revision (always 1)
 *   byte 1      sub-authority count n (at most 15)
 *   bytes 2..7  identifier authority, a 48-bit big-endian number
 *   bytes 8..   n sub-authorities, each 32 bits little-endian
 *
 * A SID is a run of 8 + 4n bytes with no alignment need: copy it with
 * memcpy(dst, sid, nt_sid_length(sid)) and view any such bytes as one with
 * a cast to nt_sid_t *. */
#ifndef ORVEXNT_NT_SID_H
#define ORVEXNT_NT_SID_H

#include <orvexnt/nt_base.h>

#include <stddef.h>
#include <stdint.h>

NT_BEGIN_DECLS

typedef struct nt_sid nt_sid_t; /* never defined: the bytes above */

#define NT_SID_REVISION 1
#define NT_SID_MAX_SUB_AUTHORITIES 15
#define NT_SID_MAX_LENGTH 68                   /* 8 + 4 * 15 */
#define NT_SID_MAX_AUTHORITY 0xFFFFFFFFFFFFull /* 48 bits */
/* Room for the longest text form and its terminator. */
#define NT_SID_STRING_MAX 192

/* Well-known identifier authorities. */
#define NT_SID_AUTHORITY_WORLD 1   /* S-1-1-0 Everyone */
#define NT_SID_AUTHORITY_CREATOR 3 /* S-1-3-0 Creator Owner */
#define NT_SID_AUTHORITY_NT 5      /* S-1-5-... */

/* 1 when sid is non-null, of revision 1 and has at most 15
 * sub-authorities; 0 otherwise. */
NT_API int nt_sid_is_valid(const nt_sid_t *sid);

/* Byte length of a valid SID (8 + 4n); 0 for an invalid one. */
NT_API size_t nt_sid_length(const nt_sid_t *sid);

/* 1 when both are valid and byte-for-byte equal; 0 otherwise. */
NT_API int nt_sid_equal(const nt_sid_t *a, const nt_sid_t *b);

/* Accessors of a valid SID. The authority is the 48-bit value; a
 * sub-authority index at or past the count gives 0. */
NT_API uint64_t nt_sid_get_authority(const nt_sid_t *sid);
NT_API unsigned nt_sid_sub_authority_count(const nt_sid_t *sid);
NT_API uint32_t nt_sid_get_sub_authority(const nt_sid_t *sid, unsigned index);

/* Writes the SID of the given authority and count sub-authorities into buf
 * (size bytes). Returns its length, or 0 when the authority exceeds 48 bits,
 * count exceeds 15, subs is null with count > 0 or buf is too small. */
NT_API size_t nt_sid_build(void *buf, size_t size, uint64_t authority,
                           unsigned count, const uint32_t *subs);

/* A new SID on the heap, freed with nt_sid_free; null on the same errors
 * as nt_sid_build or when memory runs out. nt_sid_alloc takes count
 * sub-authorities as further uint32_t arguments. */
NT_API nt_sid_t *nt_sid_alloc(uint64_t authority, unsigned count, ...);
NT_API nt_sid_t *nt_sid_alloc_from(uint64_t authority, unsigned count,
                                   const uint32_t *subs);
/* A heap copy of a valid SID; null when sid is invalid or memory runs out. */
NT_API nt_sid_t *nt_sid_copy(const nt_sid_t *sid);
/* Frees a SID of nt_sid_alloc, nt_sid_alloc_from, nt_sid_copy or
 * nt_str_to_sid; null is ignored. */
NT_API void nt_sid_free(nt_sid_t *sid);

/* The text form "S-1-<authority>-<sub>-<sub>...": the authority in decimal
 * when below 2^32, else "0x" and 12 upper-case hex digits. Written into buf
 * (size bytes; NT_SID_STRING_MAX always suffices) and buf returned; with buf
 * null into a per-thread buffer of NT_SID_STRING_MAX bytes that stays valid
 * until the same thread calls again. Null when the SID is invalid or the
 * text does not fit (buf then holds an empty string when size > 0). */
NT_API const char *nt_sid_to_str(const nt_sid_t *sid, char *buf, size_t size);

/* Parses the text form into a new heap SID (free with nt_sid_free). Strict:
 * "S-" or "s-", revision 1, the authority in decimal or "0x" hex (at most
 * 48 bits), then 0 to 15 decimal sub-authorities of at most 32 bits, each
 * part non-empty and digits only, nothing after the last one. Null on any
 * error or when memory runs out. */
NT_API nt_sid_t *nt_str_to_sid(const char *text);

NT_END_DECLS

#endif
