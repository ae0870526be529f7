#!/usr/bin/env python3
"""dig as the oracle of the whole-reply reader's text.

    dig_oracle.py SERVER ZONEFILE MESSAGE_DUMP [CRAFTED_SERVER]

For every owner and type of ZONEFILE (served by unbound on SERVER), asks dig
(+noall +answer +nosplit) and, separately, sends the same question itself and
hands the reply's octets to MESSAGE_DUMP. Each answer record's owner, type and
data text must equal dig's columns character for character.

With CRAFTED_SERVER, this script also answers on that address itself with
replies no zone can hold (compressed data names, digests of the wrong length,
empty strings): dig must refuse exactly the replies the reader refuses, and
show the same text for the others.

Exit 1 on any difference, listing them."""
import os
import random
import socket
import struct
import subprocess
import sys
import tempfile
import threading


def zone_questions(path):
    """(owner text, type text) of each record line, in zone order, once each."""
    origin = ""
    seen = []
    for line in open(path, encoding="latin-1"):
        line = line.rstrip("\n")
        if not line.strip() or line.lstrip().startswith(";"):
            continue
        if line.startswith("$ORIGIN"):
            origin = line.split()[1]
            continue
        if line.startswith("$") or line[0].isspace():
            continue
        owner = line.split()[0]
        tokens = line.split()
        rrtype = tokens[tokens.index("IN") + 1]
        name = origin if owner == "@" else owner + "." + origin
        if (name, rrtype) not in seen:
            seen.append((name, rrtype))
    return seen


def wire_name(text):
    """Presentation text (with \\X and \\DDD escapes) to wire form."""
    labels, label, i = [], bytearray(), 0
    while i < len(text):
        c = text[i]
        if c == "\\":
            if text[i + 1 : i + 4].isdigit() and len(text[i + 1 : i + 4]) == 3:
                label.append(int(text[i + 1 : i + 4]))
                i += 4
                continue
            label += text[i + 1].encode("latin-1")
            i += 2
            continue
        if c == ".":
            labels.append(bytes(label))
            label = bytearray()
        else:
            label += c.encode("latin-1")
        i += 1
    if label:
        labels.append(bytes(label))
    return b"".join(bytes([len(l)]) + l for l in labels) + b"\0"


TYPES = {"A": 1, "NS": 2, "CNAME": 5, "SOA": 6, "PTR": 12, "HINFO": 13, "MX": 15, "TXT": 16, "AAAA": 28,
         "LOC": 29, "SRV": 33, "NAPTR": 35, "DNAME": 39, "DS": 43, "SSHFP": 44, "RRSIG": 46, "NSEC": 47, "DNSKEY": 48,
         "NSEC3": 50, "NSEC3PARAM": 51, "TLSA": 52, "SMIMEA": 53, "CDS": 59, "CDNSKEY": 60, "OPENPGPKEY": 61,
         "SVCB": 64, "HTTPS": 65, "SPF": 99, "URI": 256, "CAA": 257}


def type_number(text):
    return int(text[4:]) if text.startswith("TYPE") else TYPES[text]


def raw_reply(server, name, rrtype):
    """The reply's octets to a query with RD and an EDNS(0) OPT of 4096, as dig sends it."""
    qid = random.randrange(65536)
    query = struct.pack(">HBBHHHH", qid, 0x01, 0, 1, 0, 0, 1) + wire_name(name) + struct.pack(">HH", rrtype, 1)
    query += b"\0" + struct.pack(">HHIH", 41, 4096, 0, 0)
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.settimeout(2)
        for _ in range(3):
            s.sendto(query, (server, 53))
            try:
                data, _ = s.recvfrom(65535)
            except socket.timeout:
                continue
            if data[:2] == query[:2]:
                return data
    raise RuntimeError(f"no reply for {name} {rrtype}")


def dig_answers(server, name, rrtype):
    out = subprocess.run(["dig", "+noall", "+answer", "+nosplit", "+time=2", "+tries=3", "@" + server, name, rrtype],
                         check=True, capture_output=True, text=True, encoding="latin-1").stdout
    rows = []
    for line in out.splitlines():
        if not line or line.startswith(";"):
            continue
        owner, _ttl, _class, rtype, data = line.split(None, 4)
        rows.append((owner, rtype, data))
    return rows


def reader_answers(dump, octets):
    with tempfile.NamedTemporaryFile(delete=False) as f:
        f.write(octets)
    try:
        out = subprocess.run([dump, f.name], check=True, capture_output=True, text=True, encoding="latin-1").stdout
    finally:
        os.unlink(f.name)
    if out.strip() == "MALFORMED":
        return None
    return [tuple(line.split("\t", 3)[1:]) for line in out.splitlines() if line.startswith("ANSWER\t")]


def record(rrtype, data, rrclass=1):
    """An answer owned by the question's name (a pointer to offset 12)."""
    return b"\xc0\x0c" + struct.pack(">HHIH", rrtype, rrclass, 60, len(data)) + data


def hashed_owner_record(rrtype, data, label=b"2T7B4G4VSA5SMI47K61MV5BV1A22BOJR"):
    """An NSEC3 record owned by a hashed label below the question's name (dig
    refuses an NSEC3 whose owner does not start with one)."""
    return bytes([len(label)]) + label + b"\xc0\x0c" + struct.pack(">HHIH", rrtype, 1, 60, len(data)) + data


def cs(text):
    return bytes([len(text)]) + text


# label -> the answer record of its reply. dig's verdict on each (shown or
# refused as malformed) and its text must be the reader's.
CRAFTED = {
    "srv-compressed": record(33, struct.pack(">HHH", 1, 2, 3) + b"\xc0\x0c"),
    "dname-compressed": record(39, b"\x01x\xc0\x0c"),
    "naptr-compressed": record(35, struct.pack(">HH", 1, 2) + cs(b"u") + cs(b"") + cs(b"") + b"\xc0\x0c"),
    "mx-compressed": record(15, b"\x00\x05\xc0\x0c"),
    "soa-compressed": record(6, b"\xc0\x0c\x01h\xc0\x0c" + struct.pack(">IIIII", 1, 2, 3, 4, 5)),
    "ptr-into-question": record(12, b"\xc0\x1f"),
    "cname-self-pointer": record(5, b"\xc0\x2b"),
    "cname-forward-pointer": record(5, b"\xc0\x2d\x00"),
    "cname-past-rdlength": record(5, b"\x03abc"),
    "cname-left-over": record(5, b"\x00\x00"),
    "ds-sha1-short": record(43, struct.pack(">HBB", 1, 8, 1) + b"\xab" * 19),
    "ds-sha256-long": record(43, struct.pack(">HBB", 1, 8, 2) + b"\xab" * 33),
    "ds-sha384": record(43, struct.pack(">HBB", 1, 14, 4) + b"\xab" * 48),
    "ds-unknown-empty": record(43, struct.pack(">HBB", 1, 8, 9)),
    "ds-unknown-one": record(43, struct.pack(">HBB", 1, 8, 9) + b"\x0f"),
    "sshfp-sha1-short": record(44, b"\x01\x01" + b"\xab" * 19),
    "sshfp-sha256": record(44, b"\x04\x02" + b"\xcd" * 32),
    "sshfp-unknown-empty": record(44, b"\x01\x09"),
    "sshfp-cut": record(44, b"\x01"),
    "tlsa-empty": record(52, b"\x03\x01\x01"),
    "tlsa-one": record(52, b"\x03\x01\x01\xaa"),
    "caa-empty-tag": record(257, b"\x00\x00"),
    "caa-dash-tag": record(257, b"\x00\x02a-x"),
    "caa-upper-tag": record(257, b"\x00\x05ISSUEv"),
    "caa-empty-value": record(257, b"\x00\x05issue"),
    "caa-escapes": record(257, b"\x80\x03tbs" + b'q"b\\\x01\xff '),
    "txt-empty-data": record(16, b""),
    "txt-escapes": record(16, cs(b'"\\;@$()\x00\x1f\x7f\xff ') + cs(b"") + cs(b"x" * 255)),
    "txt-string-past-rdlength": record(16, b"\x05ab"),
    "hinfo-one-string": record(13, cs(b"cpu")),
    "hinfo": record(13, cs(b"cpu") + cs(b"")),
    "a-short": record(1, b"\x01\x02\x03"),
    "a-empty": record(1, b""),
    "cname-empty": record(5, b""),
    "aaaa-long": record(28, b"\x00" * 17),
    "aaaa-forms": record(28, bytes([0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2])),
    "aaaa-v4-compatible": record(28, bytes([0] * 12 + [10, 0, 0, 1])),
    "aaaa-one-zero-group": record(28, bytes([0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1])),
    "unknown-type": record(65280, b"\x00\xff"),
    "unknown-empty": record(65280, b""),
    "null-type": record(10, b"\x01\x02"),
    "owner-escapes": b"\x05a.b\\c\x04\x00 \x7f\xff\xc0\x0c" + struct.pack(">HHIH", 1, 1, 60, 4) + b"\x01\x02\x03\x04",
    "trailing-octets": record(1, b"\x01\x02\x03\x04") + b"\xff",
    # The types unbound does not serve from a zone (NSEC3), and the edges of
    # the newer layouts.
    "nsec3": hashed_owner_record(50, b"\x01\x01\x00\x0a" + cs(b"\xaa\xbb\xcc\xdd") + cs(bytes(range(20))) + b"\x00\x06\x40\x01\x00\x00\x00\x03"),
    "nsec3-sha256-hash": hashed_owner_record(50, b"\x02\x00\x00\x00\x00" + cs(b"\x11" * 32) + b"\x00\x01\x40"),
    "nsec3-unknown-hash7": hashed_owner_record(50, b"\x07\x00\x00\x00\x00" + cs(b"\x11" * 7) + b"\x00\x01\x40"),
    "nsec3-bare": hashed_owner_record(50, b"\x01\x00\x00\x00\x00" + cs(b"\xff" * 7)),
    "nsec3-hash7-typed": hashed_owner_record(50, b"\x01\x00\x00\x00\x00" + cs(b"\xff" * 7) + b"\x00\x01\x40"),
    "nsec3-no-types": hashed_owner_record(50, b"\x01\x00\x00\x00\x00" + cs(b"\x00" * 20)),
    "nsec3-empty-hash": hashed_owner_record(50, b"\x01\x00\x00\x00\x00\x00"),
    "nsec3-cut": hashed_owner_record(50, b"\x01\x00\x00\x00\x00\x05ab"),
    "nsec3param": record(51, b"\x01\x00\x00\x0a" + cs(b"\x01")),
    "nsec3param-left-over": record(51, b"\x01\x00\x00\x0a\x00\x00"),
    "nsec-empty-bitmap": record(47, b"\x00"),
    "nsec-windows": record(47, b"\x01x\x00" + b"\x00\x01\x40" + b"\x01\x01\x80" + b"\xff\x20" + bytes(31) + b"\x01"),
    "nsec-zero-last-octet": record(47, b"\x00\x00\x02\x40\x00"),
    "nsec-windows-descending": record(47, b"\x00\x01\x01\x40\x00\x01\x40"),
    "nsec-window-33": record(47, b"\x00\x00\x21" + bytes(32) + b"\x01"),
    "nsec-compressed-next": record(47, b"\xc0\x0c\x00\x01\x40"),
    "rrsig-compressed-signer": record(46, struct.pack(">HBBIIIH", 1, 8, 2, 60, 1800000000, 1700000000, 7) + b"\xc0\x0c"
                                      + b"\x01\x02"),
    "rrsig-empty-signature": record(46, struct.pack(">HBBIIIH", 1, 8, 2, 60, 0, 0x80000000, 7) + b"\x00"),
    "dnskey-empty-key": record(48, b"\x01\x01\x03\x08"),
    "dnskey-cut": record(48, b"\x01\x01\x03"),
    "openpgpkey-empty": record(61, b""),
    "openpgpkey-one": record(61, b"\xfb"),
    "cds-sha1-short": record(59, struct.pack(">HBB", 1, 8, 1) + b"\xab" * 19),
    "cds-delete": record(59, struct.pack(">HBB", 0, 0, 0) + b"\x00"),
    "smimea-empty": record(53, b"\x03\x01\x01"),
    "uri-empty-target": record(256, struct.pack(">HH", 1, 2)),
    "uri-escapes": record(256, struct.pack(">HH", 1, 2) + b'a"b\\c\x01\xff ;'),
    "svcb-compressed-target": record(64, b"\x00\x01\xc0\x0c"),
    "svcb-alias-params": record(64, b"\x00\x00\x00" + b"\x00\x03\x00\x02\x01\xbb"),
    "svcb-keys-descending": record(64, b"\x00\x01\x00" + b"\x00\x03\x00\x02\x01\xbb" + b"\x00\x01\x00\x03\x02h2"),
    "svcb-key-twice": record(64, b"\x00\x01\x00" + b"\x00\x03\x00\x02\x01\xbb" + b"\x00\x03\x00\x02\x01\xbb"),
    "svcb-alpn-escapes": record(64, b"\x00\x01\x00" + b"\x00\x01\x00\x0e\x03a,b\x03c\\d\x05e\"f\x01 "),
    "svcb-alpn-empty-id": record(64, b"\x00\x01\x00" + b"\x00\x01\x00\x04\x02h2\x00"),
    "svcb-alpn-empty": record(64, b"\x00\x01\x00" + b"\x00\x01\x00\x00"),
    "svcb-port-short": record(64, b"\x00\x01\x00" + b"\x00\x03\x00\x01\x01"),
    "svcb-ipv4hint-5": record(64, b"\x00\x01\x00" + b"\x00\x04\x00\x05\x01\x02\x03\x04\x05"),
    "svcb-ipv6hint-empty": record(64, b"\x00\x01\x00" + b"\x00\x06\x00\x00"),
    "svcb-mandatory-unsorted": record(64, b"\x00\x01\x00" + b"\x00\x00\x00\x04\x00\x03\x00\x01"),
    "svcb-mandatory-odd": record(64, b"\x00\x01\x00" + b"\x00\x00\x00\x03\x00\x03\x00"),
    "svcb-mandatory-present": record(64, b"\x00\x01\x00" + b"\x00\x00\x00\x02\x00\x03\x00\x03\x00\x02\x01\xbb"),
    "svcb-mandatory-itself": record(64, b"\x00\x01\x00" + b"\x00\x00\x00\x04\x00\x00\x00\x03"
                                    + b"\x00\x03\x00\x02\x01\xbb"),
    "svcb-mandatory-unknown": record(64, b"\x00\x01\x00" + b"\x00\x00\x00\x04\x00\x03\x01\x00"),
    "svcb-no-default-alpn-valued": record(64, b"\x00\x01\x00" + b"\x00\x02\x00\x01x"),
    "svcb-unknown-empty": record(64, b"\x00\x01\x00" + b"\x00\x09\x00\x00"),
    "svcb-dohpath": record(64, b"\x00\x01\x00" + b"\x00\x07\x00\x0b/q{?dns}\"\\x"),
    "svcb-unknown-blank": record(64, b"\x00\x01\x00" + b"\x00\x09\x00\x05a b,c"),
    "svcb-ech-empty": record(64, b"\x00\x01\x00" + b"\x00\x05\x00\x00"),
    "svcb-param-past-end": record(64, b"\x00\x01\x00" + b"\x00\x03\x00\x04\x01\xbb"),
    "svcb-param-head-cut": record(64, b"\x00\x01\x00" + b"\x00\x03\x00"),
    "https-key65535": record(65, b"\x00\x01\x00" + b"\xff\xff\x00\x01\x7f"),
    "loc-empty": record(29, b""),
    "loc-version-1-alone": record(29, b"\x01"),
    "loc-version-1": record(29, b"\x01" + bytes(15)),
    "loc-short": record(29, b"\x00\x12\x16\x13" + struct.pack(">II", 0x80000000, 0x80000000) + b"\x00\x98\x96"),
    "loc-long": record(29, b"\x00\x12\x16\x13" + struct.pack(">III", 0x80000000, 0x80000000, 10000000) + b"\x00"),
    "loc-small": record(29, b"\x00\x10\x01\x90" + struct.pack(">III", 0x80000001, 0x7fffffff, 9999999)),
    "loc-mantissa-10": record(29, b"\x00\xa2\x16\x13" + struct.pack(">III", 0x80000000, 0x80000000, 10000000)),
    "loc-exponent-10": record(29, b"\x00\x1a\x16\x13" + struct.pack(">III", 0x80000000, 0x80000000, 10000000)),
    "loc-mantissa-0": record(29, b"\x00\x05\x16\x13" + struct.pack(">III", 0x80000000, 0x80000000, 10000000)),
    "loc-latitude-over": record(29, b"\x00\x12\x16\x13" + struct.pack(">III", 0x80000000 + 90 * 3600000 + 1,
                                                                       0x80000000, 10000000)),
    "loc-longitude-over": record(29, b"\x00\x12\x16\x13" + struct.pack(">III", 0x80000000,
                                                                        0x80000000 - 180 * 3600000 - 1, 10000000)),
}


def crafted_reply(query, label):
    """The reply to `query` (as sent): its ID and question, then CRAFTED[label]."""
    end = 12
    while query[end]:
        end += 1 + query[end]
    question = query[12 : end + 5]
    return query[:2] + b"\x81\x80" + struct.pack(">HHHH", 1, 1, 0, 0) + question + CRAFTED[label]


def serve_crafted(address, stop):
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind((address, 53))
        s.settimeout(0.2)
        while not stop.is_set():
            try:
                query, peer = s.recvfrom(4096)
            except socket.timeout:
                continue
            label = query[13 : 13 + query[12]].decode("latin-1")
            if label in CRAFTED:
                s.sendto(crafted_reply(query, label), peer)


def compare_crafted(address, dump):
    stop = threading.Event()
    server = threading.Thread(target=serve_crafted, args=(address, stop), daemon=True)
    server.start()
    failures = []
    try:
        for label in CRAFTED:
            name = label + ".crafted.test."
            out = subprocess.run(["dig", "+noall", "+answer", "+nosplit", "+noedns", "+time=2", "+tries=2",
                                  "@" + address, name, "A"], capture_output=True, text=True, encoding="latin-1")
            text = out.stdout + out.stderr
            refused = "malformed" in text or "Got bad packet" in text
            shown = [] if refused else [tuple(l.split(None, 4)[i] for i in (0, 3, 4)) for l in out.stdout.splitlines()
                                        if l and not l.startswith(";")]
            query = struct.pack(">HBBHHHH", 0x1234, 1, 0, 1, 0, 0, 0) + wire_name(name) + struct.pack(">HH", 1, 1)
            got = reader_answers(dump, crafted_reply(query, label))
            if not refused and not shown:
                failures.append(f"crafted {label}: dig showed nothing and reported nothing")
            elif refused != (got is None) or (not refused and sorted(shown) != sorted(got)):
                failures.append(f"crafted {label}:\n  dig:    {'refused' if refused else shown}\n"
                                f"  reader: {'refused' if got is None else got}")
    finally:
        stop.set()
        server.join()
    return failures


def main():
    server, zone, dump = sys.argv[1:4]
    failures, records = [], 0
    for name, rrtype in zone_questions(zone):
        expected = dig_answers(server, name, rrtype)
        got = reader_answers(dump, raw_reply(server, name, type_number(rrtype)))
        if got is None:
            failures.append(f"{name} {rrtype}: the reader refused the reply")
            continue
        if not expected:
            failures.append(f"{name} {rrtype}: dig printed no answer")
        records += len(expected)
        if sorted(expected) != sorted(got):
            failures.append(f"{name} {rrtype}:\n  dig:    {sorted(expected)}\n  reader: {sorted(got)}")
    print(f"dig oracle: {records} records of the zone compared")
    if len(sys.argv) > 4:
        failures += compare_crafted(sys.argv[4], dump)
        print(f"dig oracle: {len(CRAFTED)} crafted replies compared")
    for failure in failures:
        print("MISMATCH", failure)
    print(f"dig oracle: {len(failures)} differences")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
