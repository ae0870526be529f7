#!/usr/bin/env python3
"""Checks that the encrypted test servers (tests/e2e/encrypted-local) behave as
the component's tests rely on: each certificate presented as named, several
queries on one TLS connection answered by ID out of order, a question under
closes.test. closing the connection, DoH answering a POST of
application/dns-message with ID 0 over HTTP/1.1.

encrypted_servers_check.py DNSDIST UNBOUND_TLS CERTDIR"""
import http.client
import socket
import ssl
import struct
import sys
import unittest

DNSDIST, UNBOUND_TLS, CERTS = sys.argv[1:4]
del sys.argv[1:4]


def query(name, qid, qtype=1):
    wire = b"".join(bytes([len(label)]) + label.encode() for label in name.rstrip(".").split(".")) + b"\0"
    return struct.pack(">HHHHHH", qid, 0x0100, 1, 0, 0, 0) + wire + struct.pack(">HH", qtype, 1)


def context(cafile):
    ctx = ssl.create_default_context(cafile=cafile)
    ctx.set_alpn_protocols(["dot"])
    return ctx


def connect(address, port, name="dot.test", cafile=None):
    raw = socket.create_connection((address, port), timeout=5)
    return context(cafile or f"{CERTS}/ca.pem").wrap_socket(raw, server_hostname=name)


def read_exact(sock, count):
    data = b""
    while len(data) < count:
        chunk = sock.recv(count - len(data))
        if not chunk:
            return None
        data += chunk
    return data


def read_message(sock):
    length = read_exact(sock, 2)
    return None if length is None else read_exact(sock, struct.unpack(">H", length)[0])


def send(sock, message):
    sock.sendall(struct.pack(">H", len(message)) + message)


class Certificates(unittest.TestCase):
    def test_good_certificate_answers_on_both_servers(self):
        for address in (DNSDIST, UNBOUND_TLS):
            with connect(address, 853) as sock:
                send(sock, query("vavizav.test", 0x1234, 6))
                reply = read_message(sock)
                self.assertEqual(reply[:2], b"\x12\x34")
                self.assertEqual(reply[3] & 0x0F, 0)

    def test_each_bad_certificate_is_refused_for_its_reason(self):
        for port, reason in ((854, "hostname mismatch"), (855, "expired"), (856, "self-signed certificate in certificate chain")):
            with self.assertRaises(ssl.SSLCertVerificationError) as caught:
                connect(DNSDIST, port).close()
            self.assertIn(reason, str(caught.exception).lower())


class OneConnection(unittest.TestCase):
    def test_replies_come_back_out_of_order_by_id(self):
        with connect(DNSDIST, 853) as sock:
            send(sock, query("a.slow.test", 1))
            send(sock, query("vavizav.test", 2, 6))
            first, second = read_message(sock), read_message(sock)
            self.assertEqual(first[:2], b"\x00\x02")
            self.assertEqual(second[:2], b"\x00\x01")

    def test_a_question_under_closes_test_ends_the_connection(self):
        with connect(DNSDIST, 853) as sock:
            send(sock, query("vavizav.test", 3, 6))
            self.assertEqual(read_message(sock)[:2], b"\x00\x03")
            send(sock, query("x.closes.test", 4))
            send(sock, query("vavizav.test", 5, 6))
            self.assertIsNone(read_message(sock))


class OverHttps(unittest.TestCase):
    def test_post_of_a_dns_message_with_id_zero(self):
        ctx = ssl.create_default_context(cafile=f"{CERTS}/ca.pem")
        connection = http.client.HTTPSConnection(DNSDIST, 443, context=ctx, timeout=5)
        connection.sock = ctx.wrap_socket(socket.create_connection((DNSDIST, 443), timeout=5), server_hostname="doh.test")
        connection.request("POST", "/dns-query", body=query("vavizav.test", 0, 6),
                           headers={"Content-Type": "application/dns-message", "Accept": "application/dns-message"})
        response = connection.getresponse()
        self.assertEqual(response.status, 200)
        self.assertEqual(response.getheader("Content-Type"), "application/dns-message")
        self.assertEqual(response.read()[:2], b"\x00\x00")
        connection.request("POST", "/elsewhere", body=query("vavizav.test", 0, 6),
                           headers={"Content-Type": "application/dns-message"})
        self.assertNotEqual(connection.getresponse().status, 200)
        connection.close()


if __name__ == "__main__":
    unittest.main(verbosity=1)
