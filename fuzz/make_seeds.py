#!/usr/bin/env python3
"""Writes the annotated seeds of the first class's lookups (corpus/lookup):
valid replies and a few traps.

The C++ tests build their messages with tests/support/packets.h; the seeds stay
in Python because they are committed data that a script run by hand rewrites
without a build tree; each is named after what it holds. The whole-reply
reader's corpus (corpus/message) holds their octets as well.
"""
import pathlib
import struct

OUT = pathlib.Path(__file__).parent / "corpus" / "lookup"


def header(qd, an, flags2=0x80, ident=0x3039):
    return struct.pack(">HBBHHHH", ident, 0x81, flags2, qd, an, 0, 0)


def name(*labels):
    return b"".join(bytes([len(l)]) + l for l in labels) + b"\0"


def rr(owner, rtype, rdata, ttl=60):
    return owner + struct.pack(">HHIH", rtype, 1, ttl, len(rdata)) + rdata


PTR = lambda offset: struct.pack(">H", 0xC000 | offset)
Q_AB_CD = name(b"ab", b"cd") + b"\0\1\0\1"                    # offsets 12..22
Q_WWW = name(b"www", b"ab", b"cd") + b"\0\1\0\1"              # ab.cd at 16
Q_REV = name(b"1", b"2", b"0", b"192", b"in-addr", b"arpa") + b"\0\x0c\0\1"
A = lambda last: rr(PTR(16), 1, bytes([10, 0, 0, last]))

SEEDS = {
    "a_one_address": header(1, 1) + Q_AB_CD + rr(PTR(12), 1, b"\x0a\0\0\1"),
    "a_two_addresses": header(1, 2) + Q_WWW + A(1) + A(2),
    "a_cname_then_addresses": header(1, 3) + Q_WWW + rr(PTR(12), 5, PTR(16)) + A(1) + A(2),
    "a_addresses_then_cname": header(1, 2) + Q_WWW + A(1) + rr(PTR(12), 5, PTR(16)),
    "a_uncompressed_owner": header(1, 1) + Q_AB_CD + rr(name(b"ab", b"cd"), 1, b"\x0a\0\0\1", 0xFFFFFFFF),
    "a_nxdomain": header(1, 0, flags2=0x83) + Q_AB_CD,
    "a_no_question": header(0, 1, ident=0x8000) + rr(name(b"x"), 1, b"\1\2\3\4"),
    "ptr_plain": header(1, 1) + Q_REV + rr(PTR(12), 12, name(b"host", b"example")),
    "ptr_label_then_pointer": header(1, 1) + Q_REV + rr(PTR(12), 12, b"\5host2" + PTR(22)),
    "ptr_escapes": header(1, 1) + Q_REV + rr(PTR(12), 12, name(b"a.\\\n \xff", b"ok")),
    "ptr_root": header(1, 2) + Q_REV + rr(PTR(12), 12, b"\0") + rr(PTR(12), 16, b"\3txt"),
    "trap_forward_pointer": header(1, 1) + Q_AB_CD + rr(PTR(25), 1, b"\x0a\0\0\1"),
    "trap_self_pointer": header(1, 0) + PTR(12) + b"\0\1\0\1",
    "trap_pointer_loop": header(0, 2) + rr(b"\0", 16, PTR(25)) + rr(PTR(23), 1, b""),
    "trap_pointer_last_octet": (header(1, 1) + Q_AB_CD)[:23] + b"\xc0",
    "trap_reserved_label": header(1, 0) + b"\x41" + b"a" * 65 + b"\0\0\1\0\1",
    "trap_rdlength_past_end": header(1, 1) + Q_AB_CD + rr(PTR(12), 1, b"\x0a\0\0\1")[:-1],
}

if __name__ == "__main__":
    OUT.mkdir(parents=True, exist_ok=True)
    for seed, packet in SEEDS.items():
        (OUT / seed).write_bytes(packet)
