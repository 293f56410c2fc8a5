/* The values of the "xdr" interoperation scenario, shared by the foreign
 * peer and the library's test so that both sides code the same data. The
 * wire order of the scenario is the order of this file. */
#pragma once

#define PV_INT (-123456)
#define PV_U_INT 0xDEADBEEFu
#define PV_HYPER (-0x123456789ALL)
#define PV_U_HYPER 0xFEDCBA9876543210ULL
#define PV_BOOL 1
#define PV_ENUM 7
#define PV_FLOAT 1.5f
#define PV_DOUBLE (-2.75)
#define PV_OPAQUE "\x01\x02\x03\x04\x05" /* 5 bytes, then 3 of padding */
#define PV_OPAQUE_LEN 5
#define PV_BYTES "abc"
#define PV_BYTES_LEN 3
#define PV_STRING "hello, world"
#define PV_ARRAY \
  { 1u, 2u, 3u, 0xFFFFFFFFu }
#define PV_ARRAY_LEN 4
#define PV_VECTOR \
  { -1, 0, 32767 }
#define PV_VECTOR_LEN 3
#define PV_UNION_DISC 2 /* arm 1: int, arm 2: string, default: void */
#define PV_UNION_STRING "arm two"
#define PV_POINTER_VALUE 42
/* Then a null pointer (presence word 0). */

/* Byte offset of the double's first word in the encoded scenario. */
#define PV_DOUBLE_OFFSET 36
