#!/usr/bin/env python3
"""Writes the annotated seeds of the whole-reply reader's corpus (corpus/message):
one reply per typed type, the sections and EDNS, and the traps of its layouts.
Each file is named after what it holds; the ldns oracle test reads them too."""
import pathlib
import struct

OUT = pathlib.Path(__file__).parent / "corpus" / "message"


def header(qd, an, ns=0, ar=0, flags2=0x80):
    return struct.pack(">HBBHHHH", 0x3039, 0x81, flags2, qd, an, ns, ar)


def name(*labels):
    return b"".join(bytes([len(l)]) + l for l in labels) + b"\0"


def rr(owner, rtype, rdata, ttl=300, rclass=1):
    return owner + struct.pack(">HHIH", rtype, rclass, ttl, len(rdata)) + rdata


def cs(octets):
    return bytes([len(octets)]) + octets


PTR = lambda offset: struct.pack(">H", 0xC000 | offset)
Q = name(b"rec", b"test") + b"\0\xff\0\1"  # offsets 12..25, ANY; answers from 26
OWN = PTR(12)
OPT = lambda size=1232, ext=0, flags=0, options=b"": rr(b"\0", 41, options, (ext << 24) | flags, size)


def reply(*answers, authority=(), additional=(), flags2=0x80):
    return header(1, len(answers), len(authority), len(additional), flags2) + Q + b"".join(answers) + \
        b"".join(authority) + b"".join(additional)


SOA = rr(name(b"test"), 6, name(b"ns", b"test") + name(b"host.master", b"test") + struct.pack(">IIIII", 1, 3600, 600,
                                                                                                  86400, 300))
SEEDS = {
    "a": reply(rr(OWN, 1, bytes([192, 0, 2, 1]))),
    "aaaa_forms": reply(rr(OWN, 28, bytes(16)), rr(OWN, 28, bytes(15) + b"\1"),
                        rr(OWN, 28, bytes(10) + b"\xff\xff\1\2\3\4"),
                        rr(OWN, 28, b"\x20\x01\x0d\xb8" + bytes(4) + b"\0\1\0\0\0\0\0\1")),
    "ns_cname_dname_ptr": reply(rr(OWN, 2, name(b"ns", b"test")), rr(OWN, 5, b"\3cdn" + PTR(12)),
                                rr(OWN, 39, name(b"example", b"net")), rr(OWN, 12, name(b"a.b", b"c\\d", b"\1 \x7f\xff"))),
    "mx_srv_compressed": reply(rr(OWN, 15, b"\0\x0a\4mail" + PTR(12)), rr(OWN, 33, b"\0\0\0\5\x13\xc4" + PTR(12))),
    "txt_strings": reply(rr(OWN, 16, cs(b"") + cs(b'"\\;@$ \0\x1f\x7f\xff') + cs(b"x" * 255)),
                         rr(OWN, 99, cs(b"v=spf1 -all"))),
    "soa_nxdomain": header(1, 0, 1, 0, 0x83) + Q + SOA,
    "caa_naptr_hinfo": reply(rr(OWN, 257, b"\0\5issueca.example"), rr(OWN, 257, b"\x80\3tbsq\"\\"),
                             rr(OWN, 35, b"\0\x64\0\x0a" + cs(b"u") + cs(b"E2U+sip") + cs(b"!^.*$!sip:x@y!") + b"\0"),
                             rr(OWN, 13, cs(b"PC") + cs(b"Linux 6"))),
    "sshfp_tlsa_ds": reply(rr(OWN, 44, b"\1\1" + b"\xab" * 20), rr(OWN, 44, b"\4\x09"),
                           rr(OWN, 52, b"\3\1\1" + b"\x0c" * 32), rr(OWN, 43, b"\xec\x45\5\1" + b"\x2b" * 20),
                           rr(OWN, 43, b"\0\1\x08\xc8\x0f")),
    "svcb_https": reply(rr(OWN, 64, b"\0\0" + name(b"pool", b"test")),
                        rr(OWN, 64, b"\0\1" + PTR(12) + b"\0\0\0\2\0\3" + b"\0\1\0\6\2h2\2h3" + b"\0\3\0\2\x20\xfb"
                           + b"\0\4\0\4\xc0\0\2\1" + b"\0\5\0\2\xab\xcd" + b"\0\6\0\x10" + bytes(15) + b"\1"
                           + b"\xff\x35\0\3a \1"),
                        rr(OWN, 65, b"\0\1\0" + b"\0\1\0\x06\3a,b\1\\" + b"\0\2\0\0" + b"\0\x09\0\0")),
    "uri_openpgpkey_smimea": reply(rr(OWN, 256, b"\0\x0a\0\1ftp://a\"b"), rr(OWN, 61, b"abc"),
                                   rr(OWN, 53, b"\3\1\1\xaa")),
    "dnssec": reply(rr(OWN, 48, b"\1\1\3\x0d\1\2\3\4"), rr(OWN, 60, b"\1\0\3\x08\xfb"),
                    rr(OWN, 59, b"\x09\x43\x0d\2" + b"\1" * 32),
                    rr(OWN, 46, b"\0\1\x0d\2" + struct.pack(">III", 300, 1798761599, 1796083200) + b"\x09\x43"
                       + name(b"test") + b"\1\2\3"),
                    rr(OWN, 47, name(b"next", b"test") + b"\0\1\x60\1\1\x80"),
                    rr(name(b"2T7B4G4VSA5SMI47K61MV5BV1A22BOJR", b"test"), 50,
                       b"\1\1\0\x0c\2\xaa\xbb\x14" + bytes(20) + b"\0\1\x40"),
                    rr(OWN, 51, b"\1\0\0\x0a\0")),
    "loc": reply(rr(OWN, 29, b"\0\x12\x16\x13" + struct.pack(">III", 0x80000000 + 188543000, 0x80000000 + 17612000,
                                                                  9999800)),
                 rr(OWN, 29, b"\1" + bytes(15))),
    "trap_svcb_keys_descending": reply(rr(OWN, 64, b"\0\1\0" + b"\0\3\0\2\1\xbb" + b"\0\1\0\3\2h2")),
    "trap_svcb_mandatory_missing": reply(rr(OWN, 64, b"\0\1\0" + b"\0\0\0\2\0\3")),
    "trap_rrsig_compressed_signer": reply(rr(OWN, 46, b"\0\1\x0d\2" + bytes(12) + b"\0\7" + PTR(12) + b"\1")),
    "trap_nsec_window_zero": reply(rr(OWN, 47, b"\0\0\2\x40\0")),
    "trap_loc_precision": reply(rr(OWN, 29, b"\0\xa2\x16\x13" + struct.pack(">III", 0x80000000, 0x80000000, 0))),
    "unknown_and_classes": reply(rr(OWN, 65534, b"\x0a\0\0\1"), rr(OWN, 65534, b""), rr(OWN, 1, b"\1\2\3\4", rclass=3),
                                 rr(OWN, 16, cs(b"9.18"), rclass=3)),
    "sections_edns": reply(rr(OWN, 1, b"\1\2\3\4"), authority=[SOA],
                           additional=[rr(name(b"ns", b"test"), 28, bytes(16)),
                                       OPT(4096, 1, 0x8000, b"\0\x0a\0\x08" + b"\7" * 8)]),
    "long_owner": reply(rr(name(b"a" * 63, b"b" * 63, b"c" * 63, b"d" * 61), 1, b"\1\2\3\4")),
    "trap_owner_data_loop": reply(rr(PTR(38), 5, PTR(26))),
    "trap_rdlength_short": reply(rr(OWN, 15, b"\0\x0a\4mail" + PTR(12))[:-1]),
    "trap_txt_overrun": reply(rr(OWN, 16, b"\5ab"), rr(OWN, 1, b"\1\2\3\4")),
    "trap_two_opt": reply(additional=[OPT(), OPT()]),
    "trap_many_counts": header(1, 0xFFFF, 0xFFFF, 0xFFFF) + Q,
}

if __name__ == "__main__":
    OUT.mkdir(parents=True, exist_ok=True)
    for seed_name, octets in SEEDS.items():
        (OUT / seed_name).write_bytes(octets)
    print(f"{len(SEEDS)} seeds in {OUT}")
