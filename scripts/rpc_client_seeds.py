#!/usr/bin/env python3
"""Writes the seed corpora of the RPC client fuzz targets: a few valid
replies each, so that a fuzzing run starts from messages that reach the
result decoders instead of having to discover the reply header first.

Run from the repository root; the files land in fuzz/corpus/<target>/."""
import os
import struct

XID = 0x01020304


def u32(*values):
    return b"".join(struct.pack(">I", v & 0xFFFFFFFF) for v in values)


def string(text):
    data = text.encode()
    return u32(len(data)) + data + b"\0" * (-len(data) % 4)


def success(xid=XID):
    # Reply, accepted, AUTH_NONE verifier of no bytes, success.
    return u32(xid, 1, 0, 0, 0, 0)


def rpcblist():
    entries = [(100000, 4, "tcp", "0.0.0.0.0.111", "superuser"),
               (100000, 2, "udp6", "::.0.111", "superuser")]
    out = b""
    for prog, vers, netid, addr, owner in entries:
        out += u32(1, prog, vers) + string(netid) + string(addr) + string(owner)
    return out + u32(0)


def pmaplist():
    return u32(1, 100000, 2, 6, 111, 1, 100003, 3, 17, 2049, 0)


def entry_list():
    return (u32(1) + string("127.0.0.1.8.1") + string("tcp") + u32(3) +
            string("inet") + string("tcp") + u32(0))


def record(body, fragments=1):
    """Record marking: the body cut into fragments, the last one flagged."""
    step = -(-len(body) // fragments)
    out = b""
    for start in range(0, len(body), step):
        piece = body[start:start + step]
        last = start + step >= len(body)
        out += u32((0x80000000 if last else 0) | len(piece)) + piece
    return out


# Datagram client: a control byte (low bits pick the result filter, 0x80
# keeps the reply's own transaction id), then the reply datagram.
DG = {
    "uint_result": b"\x04" + success() + u32(42),
    "rpcblist": b"\x00" + success() + rpcblist(),
    "pmaplist": b"\x01" + success() + pmaplist(),
    "opaque": b"\x02" + success() + u32(5) + b"hello\0\0\0",
    "uaddr_text": b"\x03" + success() + string("127.0.0.1.0.111"),
    "prog_mismatch": b"\x04" + u32(XID, 1, 0, 0, 0, 2, 2, 4),
    "rpc_mismatch": b"\x04" + u32(XID, 1, 1, 0, 2, 2),
    "auth_error": b"\x04" + u32(XID, 1, 1, 1, 2),
    "foreign_xid": b"\x84" + success(0x0BADF00D) + u32(1),
}

# Connection client: a control byte (low two bits: extra calls, 4: the
# binder's list as result), then the record stream; each call uses the
# transaction id one below the previous call's.
VC = {
    "opaque": b"\x00" + record(success() + u32(3) + b"abc\0"),
    "rpcblist": b"\x04" + record(success() + rpcblist()),
    "two_fragments": b"\x04" + record(success() + rpcblist(), 2),
    "two_calls": b"\x01" + record(success() + u32(0)) +
                 record(success(XID - 1) + u32(1) + b"x\0\0\0"),
    "other_call_first": b"\x00" + record(success(XID + 7) + u32(0)) +
                        record(success() + u32(0)),
}

# Binder reply bodies, decoded by every binder filter.
RPCB = {
    "rpcblist": rpcblist(),
    "pmaplist": pmaplist(),
    "rpcb": u32(100000, 4) + string("tcp") + string("0.0.0.0.0.111") +
            string("superuser"),
    "entry_list": entry_list(),
    "netbuf": u32(16, 16) + bytes(range(16)),
    "rmtcallres": string("127.0.0.1.8.1") + u32(4, 42),
    "uaddr_v4": b"127.0.0.1.0.111",
    "uaddr_v6": b"fe80::1.8.1",
}


def write(target, seeds):
    folder = os.path.join("fuzz", "corpus", target)
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


write("clnt_dg_reply_fuzz", DG)
write("clnt_vc_stream_fuzz", VC)
write("rpcb_reply_fuzz", RPCB)
