#!/usr/bin/env python3
"""dig as the oracle of the whole-reply reader's text.

    dig_oracle.py SERVER ZONEFILE MESSAGE_DUMP

For every owner and type of ZONEFILE (served by unbound on SERVER), asks dig
(+noall +answer +nosplit) and, separately, sends the same question itself and
hands the reply's octets to MESSAGE_DUMP. Each answer record's owner, type and
data text must equal dig's columns character for character. Exit 1 on any
difference, listing them."""
import os
import random
import socket
import struct
import subprocess
import sys
import tempfile


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
         "SRV": 33, "NAPTR": 35, "DNAME": 39, "DS": 43, "SSHFP": 44, "TLSA": 52, "SPF": 99, "CAA": 257}


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
    for failure in failures:
        print("MISMATCH", failure)
    print(f"dig oracle: {records} records compared, {len(failures)} differences")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
