"""varrowd against malformed and raw traffic, and its start-up options; a
pytds connection checks the server goes on serving. Each test class starts
its own server on a free port. The drivers' own tests are in tests/drivers/."""
import os
import socket
import struct
import time
import unittest

from tds_wire import RawConnection, login7, packet, varchar_output
from test_server import Server, ServerTestCase, connect, refusal


class RobustnessTest(ServerTestCase):
    def setUp(self):
        self.witness = connect(self.server.port)

    def tearDown(self):
        # The other client's connection still works after each bad one.
        with self.witness.cursor() as cur:
            self.assertEqual(cur.callproc("xp_hexstr", [b"\x7f", varchar_output(2)])[1], b"7F")
        self.witness.close()

    def test_malformed_packets_close_the_connection(self):
        for what, data, ends in [
                ("short header", b"\x12\x01\x00", True),
                ("length past the data", struct.pack(">BBHHBB", 0x12, 1, 4000, 0, 1, 0) + b"x" * 20,
                 True),
                ("length shorter than the header", struct.pack(">BBHHBB", 0x12, 1, 4, 0, 1, 0),
                 False)]:
            raw = RawConnection(self.server.port)
            raw.send(data)
            if ends:  # the client sends no more
                raw.sock.shutdown(socket.SHUT_WR)
            self.assertTrue(raw.closed(), what)

    def test_login_offsets_out_of_range(self):
        raw = RawConnection(self.server.port)
        raw.send(packet(0x12, b"\xff"))
        raw.reply()
        raw.send(packet(0x10, login7(offsets_ok=False)))
        self.assertTrue(raw.closed())

    def test_unknown_packet_type(self):
        raw = RawConnection(self.server.port).login()
        raw.send(packet(0x55, b"hello"))
        self.assertTrue(raw.closed())

    def test_garbage_after_login(self):
        raw = RawConnection(self.server.port).login()
        raw.send(packet(0x03, b"\x16\x00\x00\x00\x12\x00\x00\x00\x02\x00" + os.urandom(64)))
        reply = raw.reply()  # an RPC that cannot be read: closed, or an error
        self.assertTrue(reply is None or b"\xaa" in reply or raw.closed())

    def test_request_over_the_cap(self):
        raw = RawConnection(self.server.port).login()
        chunk = packet(0x01, b"\x00" * 4000, status=0)
        try:
            for _ in range(1300):  # over 5 MiB
                raw.send(chunk)
        except (BrokenPipeError, ConnectionResetError):
            pass
        self.assertTrue(raw.closed())

    def test_attention_is_answered_with_done_attn(self):
        raw = RawConnection(self.server.port).login()
        raw.send(packet(0x06, b""))
        reply = raw.reply()
        self.assertEqual(reply[0], 0xFD)
        self.assertTrue(struct.unpack("<H", reply[1:3])[0] & 0x20)

    def test_integrated_security_is_refused(self):
        raw = RawConnection(self.server.port)
        raw.send(packet(0x12, b"\xff"))
        raw.reply()
        payload = bytearray(login7())
        payload[25] |= 0x80
        raw.send(packet(0x10, bytes(payload)))
        reply = raw.reply()
        self.assertIn(struct.pack("<I", 18456), reply)
        self.assertTrue(raw.closed())


class StartupTest(unittest.TestCase):
    def test_no_password_means_loopback_only(self):
        self.assertIn("loopback", refusal("--listen", "0.0.0.0:0"))

    def test_idle_connections_time_out(self):
        server = Server("--idle-timeout", "1")
        try:
            raw = RawConnection(server.port).login()
            started = time.time()
            self.assertTrue(raw.closed())
            self.assertLess(time.time() - started, 5)
        finally:
            server.stop()

    def test_stops_cleanly_on_sigterm_with_open_connections(self):
        server = Server()
        raw = RawConnection(server.port).login()
        started = time.time()
        self.assertEqual(server.stop(), 0)
        self.assertLess(time.time() - started, 5)
        self.assertTrue(raw.closed())


if __name__ == "__main__":
    unittest.main()
