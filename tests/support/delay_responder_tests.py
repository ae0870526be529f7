#!/usr/bin/env python3
"""The delaying responder's behaviour on the wire, over UDP and TCP.

    delay_responder_tests.py PROGRAM ADDRESS

Starts PROGRAM (delay_responder) on the loopback ADDRESS, ports 5391 to 5396,
one configuration per port, and checks its replies octet by octet. Untimed
beyond "not before the delay": speed belongs to scripts/bench.
"""
import socket
import struct
import subprocess
import sys
import time
import unittest

PROGRAM, ADDRESS = sys.argv[1], sys.argv[2]


def wire_name(text):
    return b"".join(bytes([len(label)]) + label.encode() for label in text.split(".")) + b"\x00"


def query(name, qtype=1, ident=0x1234, flags=0x0100, qdcount=1, qclass=1):
    header = struct.pack(">HHHHHH", ident, flags, qdcount, 0, 0, 0)  # ID, flags (RD), counts
    return header + wire_name(name) + struct.pack(">HH", qtype, qclass)


def a_record(address):
    # owner: pointer to offset 12; type A, class IN, TTL 300, RDLENGTH 4, the address
    return bytes([0xC0, 0x0C, 0, 1, 0, 1, 0, 0, 0x01, 0x2C, 0, 4]) + socket.inet_aton(address)


class Responder:
    def __init__(self, port, *options):
        self.port = port
        self.process = subprocess.Popen(
            [PROGRAM, "--address", ADDRESS, "--port", str(port), "--lifetime-s", "60", *options],
            stdout=subprocess.PIPE, text=True)
        line = self.process.stdout.readline()
        if not line.startswith("ready"):
            raise RuntimeError("the responder did not come up: " + line)

    def ask(self, datagram, timeout=1.0):
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            s.settimeout(timeout)
            s.sendto(datagram, (ADDRESS, self.port))
            try:
                return s.recv(4096)
            except socket.timeout:
                return None

    def stop(self):
        self.process.terminate()
        counts = self.process.stdout.read()
        self.process.stdout.close()
        self.process.wait(5)
        return counts


class Answers(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.responder = Responder(5391, "--delay-ms", "20")

    @classmethod
    def tearDownClass(cls):
        cls.responder.stop()

    def test_a_question_gets_one_record_from_its_number_after_the_delay(self):
        asked = query("H70000.Batch.Test")
        start = time.monotonic()
        reply = self.responder.ask(asked)
        took = time.monotonic() - start
        self.assertGreaterEqual(took, 0.019)
        self.assertEqual(reply[:2], b"\x12\x34")                     # ID echoed
        self.assertEqual(reply[2:4], b"\x85\x80")                    # QR AA RD, RA NOERROR
        self.assertEqual(reply[4:12], b"\x00\x01\x00\x01\x00\x00\x00\x00")  # 1 question, 1 answer
        self.assertEqual(reply[12:len(asked)], asked[12:])           # question octet for octet, case kept
        self.assertEqual(reply[len(asked):], a_record("10.1.17.112"))  # 70000 = 0x011170

    def test_other_names_get_a_hashed_address_the_same_whatever_the_case(self):
        lower = self.responder.ask(query("www.example.com"))
        mixed = self.responder.ask(query("WwW.ExAmple.COM"))
        self.assertEqual(lower[-4:], mixed[-4:])
        self.assertEqual(lower[-4], 198)
        self.assertIn(lower[-3], (18, 19))
        # "h" alone, "h1x" and a number past 24 bits are not numbered names either
        for name in ("h.test", "h1x.test", "h16777216.test"):
            self.assertEqual(self.responder.ask(query(name))[-4], 198, name)

    def test_other_types_and_classes_get_no_records(self):
        for asked in (query("h1.test", qtype=28), query("h1.test", qclass=3)):
            reply = self.responder.ask(asked)
            self.assertEqual(reply[2:4], b"\x85\x80")
            self.assertEqual(reply[6:8], b"\x00\x00")               # ANCOUNT 0
            self.assertEqual(reply[12:], asked[12:])

    def test_bad_queries_get_a_header_with_their_code_or_nothing(self):
        cases = {
            "two questions": (query("h1.test", qdcount=2), b"\x85\x81"),             # FORMERR
            "label of 64": (query("a" * 64 + ".test"), b"\x85\x81"),
            "pointer in the question": (query("h1.test")[:12] + b"\xc0\x0c\x00\x01\x00\x01", b"\x85\x81"),
            "cut short": (query("h1.test")[:-3], b"\x85\x81"),
            "name past 255 octets": (query(".".join(["a" * 63] * 4) + ".test"), b"\x85\x81"),
            "opcode STATUS": (query("h1.test", flags=0x1100), b"\x95\x84"),         # NOTIMP, opcode echoed
        }
        for what, (asked, flags) in cases.items():
            reply = self.responder.ask(asked)
            self.assertEqual(reply[2:4], flags, what)
            self.assertEqual(len(reply), 12, what)
        for what, asked in {"a reply": query("h1.test", flags=0x8100), "eleven octets": b"\x12" * 11}.items():
            self.assertIsNone(self.responder.ask(asked, timeout=0.3), what)

    def test_tcp_answers_pipelined_queries_in_order_with_their_prefixes(self):
        asked = [query("h%d.test" % n, ident=n) for n in (1, 2, 3)]
        with socket.create_connection((ADDRESS, 5391), timeout=2) as s:
            s.sendall(b"".join(struct.pack(">H", len(q)) + q for q in asked))  # one write, three queries
            stream = b""
            while len(stream) < sum(2 + len(q) + 16 for q in asked):
                chunk = s.recv(4096)
                self.assertTrue(chunk)
                stream += chunk
        for n, q in zip((1, 2, 3), asked):
            (length,) = struct.unpack(">H", stream[:2])
            reply, stream = stream[2:2 + length], stream[2 + length:]
            self.assertEqual(reply[:2], struct.pack(">H", n))
            self.assertEqual(reply[12:], q[12:] + a_record("10.0.0.%d" % n))
        self.assertEqual(stream, b"")


class Options(unittest.TestCase):
    def test_fold_case_lower_cases_the_question_only(self):
        responder = Responder(5392, "--delay-ms", "0", "--fold-case")
        try:
            reply = responder.ask(query("H5.BaTCH.Test"))
            self.assertEqual(reply[12:12 + len(wire_name("h5.batch.test"))], wire_name("h5.batch.test"))
            self.assertEqual(reply[-4:], socket.inet_aton("10.0.0.5"))
        finally:
            responder.stop()

    def test_truncate_sets_tc_without_answers_over_udp_and_answers_whole_over_tcp(self):
        responder = Responder(5393, "--delay-ms", "0", "--truncate")
        try:
            asked = query("h9.test")
            reply = responder.ask(asked)
            self.assertEqual(reply[2:4], b"\x87\x80")                # QR AA TC RD
            self.assertEqual(reply[12:], asked[12:])
            self.assertEqual(reply[6:8], b"\x00\x00")
            with socket.create_connection((ADDRESS, 5393), timeout=2) as s:
                s.sendall(struct.pack(">H", len(asked)) + asked)
                stream = b""
                while len(stream) < 2 + len(asked) + 16:
                    stream += s.recv(4096)
            self.assertEqual(stream[4:6], b"\x85\x80")
            self.assertEqual(stream[-4:], socket.inet_aton("10.0.0.9"))
        finally:
            responder.stop()

    def test_drops_follow_the_seed_per_question_and_attempt(self):
        def dropped_attempts(port, seed):
            responder = Responder(port, "--delay-ms", "0", "--drop-percent", "30", "--seed", str(seed))
            try:
                # every question twice; the second send of a question is its own draw
                return [responder.ask(query("h%d.test" % (n % 30)), timeout=0.1) is None for n in range(60)]
            finally:
                responder.stop()
        first, again, other = dropped_attempts(5394, 7), dropped_attempts(5395, 7), dropped_attempts(5396, 8)
        self.assertEqual(first, again)
        self.assertNotEqual(first, other)
        self.assertTrue(6 <= sum(first) <= 30, sum(first))             # about 30 % of 60
        self.assertNotEqual(first[:30], first[30:])                     # a resend is a fresh draw

    def test_refuses_what_it_must_not_do(self):
        for options in (["--address", "192.0.2.1"], ["--address", ADDRESS, "--delay-ms", "-1"],
                        ["--address", ADDRESS, "--drop-percent", "101"], ["--address", ADDRESS, "--lifetime-s", "0"],
                        ["--address", ADDRESS, "--bogus", "1"], ["--address"], []):
            result = subprocess.run([PROGRAM, *options], capture_output=True, text=True, timeout=5)
            self.assertEqual(result.returncode, 2, options)
            self.assertIn("usage", result.stderr)

    def test_exits_by_itself_at_the_end_of_its_lifetime(self):
        process = subprocess.Popen([PROGRAM, "--address", ADDRESS, "--port", "5397", "--lifetime-s", "1"],
                                   stdout=subprocess.PIPE, text=True)
        self.assertEqual(process.wait(5), 0)
        self.assertIn("received 0 answered 0", process.stdout.read())
        process.stdout.close()


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
