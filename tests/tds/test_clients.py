"""varrowd against the real SQL Server clients in Debian: pytds, FreeTDS's
tsql and pymssql. Each test class starts its own server on a free port."""
import hashlib
import os
import socket
import struct
import subprocess
import tempfile
import threading
import time
import unittest

import pytds
import pymssql
from pymssql import _mssql
from pytds import tds_base, tds_types

VARROWD = os.environ["VARROWD"]
LIBRARY = os.environ["VARROW_LIBRARY"]
PASSWORD = "s3cret pass"
KEYS = {
    128: "000102030405060708090A0B0C0D0E0F",
    192: "000102030405060708090A0B0C0D0E0F1011121314151617",
    256: "603DEB1015CA71BE2B73AEF0857D77811F352C073B6108D72D9810A30914DFF4",
}
EXPECTED_50005 = ("Error: invalid key param, key should be 32/48/64 bytes char that "
                  "contains hex values")


class Server:
    def __init__(self, *args, env=None):
        self.process = subprocess.Popen(
            [VARROWD, "--listen", "127.0.0.1:0", "--library", LIBRARY, *args],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
            env={**os.environ, **(env or {})})
        line = self.process.stdout.readline()
        if "listening on" not in line:
            raise RuntimeError("varrowd did not start: " + line)
        self.port = int(line.rsplit(":", 1)[1])

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=10)
        self.process.stdout.close()
        return self.process.returncode


def varchar(value, length=8000):
    """An explicit VARCHAR parameter (0xA7) carrying raw bytes."""
    return tds_base.Column(type=tds_types.VarCharType(length), value=value, flags=0)


def varchar_output(length):
    return pytds.output(value=None, param_type="VARCHAR(%d)" % length)


class ServerTestCase(unittest.TestCase):
    """Tests against one server of their own, started with SERVER_ARGS."""
    SERVER_ARGS = ()
    SERVER_ENV = None

    @classmethod
    def setUpClass(cls):
        cls.server = Server(*cls.SERVER_ARGS, env=cls.SERVER_ENV)

    @classmethod
    def tearDownClass(cls):
        if cls.server.stop() != 0:
            raise AssertionError("varrowd did not stop cleanly")


class PytdsTest(ServerTestCase):
    SERVER_ARGS = ("--user", "varrow", "--key-dir", tempfile.gettempdir())
    SERVER_ENV = {"VARROW_PASSWORD": PASSWORD}

    def connect(self, **kwargs):
        return pytds.connect(server="127.0.0.1", port=self.server.port, user="varrow",
                             password=PASSWORD, autocommit=True, bytes_to_unicode=False,
                             **kwargs)

    def test_digests_equal_hashlib(self):
        with self.connect() as conn, conn.cursor() as cur:
            for data in [b"", b"abc", bytes(range(256)) * 31]:
                md5 = cur.callproc("xp_MD5_Encrypt", [data, varchar_output(16)])[1]
                sha1 = cur.callproc("dbo.xp_SHA1_Encrypt", [data, varchar_output(20)])[1]
                self.assertEqual(md5, hashlib.md5(data).digest())
                self.assertEqual(sha1, hashlib.sha1(data).digest())
                self.assertEqual(cur.return_value, 0)

    def test_hexstr_with_explicit_varchar_and_nvarchar(self):
        with self.connect() as conn, conn.cursor() as cur:
            result = cur.callproc("xp_hexstr", [varchar(b"AB\n\xff\x00", 5), varchar_output(10)])
            self.assertEqual(result[1], b"41420AFF00")
            result = cur.callproc("master.dbo.xp_hexstr", ["Az", varchar_output(100)])
            self.assertEqual(result[1], b"41007A00")  # NVARCHAR input: UTF-16LE bytes

    def test_aes_round_trip_with_each_key_size(self):
        with self.connect() as conn, conn.cursor() as cur:
            plain = b"The quick brown fox jumps over the lazy dog"
            for bits, key in KEYS.items():
                cipher = cur.callproc("xp_AES_Encrypt",
                                      [plain, varchar(key.encode(), 64), varchar_output(8000)])[2]
                self.assertEqual(len(cipher), 48, bits)
                back = cur.callproc("xp_AES_Decrypt",
                                    [cipher, key.lower().encode(), varchar_output(8000)])[2]
                self.assertEqual(back, plain, bits)
            default = cur.callproc("xp_AES_Encrypt", [plain, None, varchar_output(100)])[2]
            self.assertEqual(
                cur.callproc("xp_AES_Decrypt", [default, None, varchar_output(100)])[2], plain)

    def test_aes_with_a_key_file(self):
        with tempfile.NamedTemporaryFile("w", suffix=".key", delete=False) as f:
            f.write(KEYS[192] + "\r\n")
        try:
            with self.connect() as conn, conn.cursor() as cur:
                key_param = ("keyfile=" + f.name).encode()
                by_file = cur.callproc("xp_AES_Encrypt", [b"file", key_param, varchar_output(16)])[2]
                by_text = cur.callproc("xp_AES_Encrypt",
                                       [b"file", KEYS[192].encode(), varchar_output(16)])[2]
                self.assertEqual(by_file, by_text)
        finally:
            os.unlink(f.name)

    def test_errors_arrive_with_number_class_text_and_status(self):
        with self.connect() as conn, conn.cursor() as cur:
            # Class 10 is informational: the message and the status tell.
            cur.callproc("xp_AES_Encrypt", [b"x", b"0123", varchar_output(16)])
            self.assertEqual([(e.number, e.severity, e.text) for _, e in cur.messages],
                             [(50005, 10, EXPECTED_50005)])
            self.assertEqual(cur.return_value, 1)
            with self.assertRaises(pytds.ProgrammingError) as raised:
                cur.callproc("xp_nothing", [b"x"])
            self.assertEqual(raised.exception.number, 2812)
            # The connection goes on working.
            self.assertEqual(cur.callproc("xp_hexstr", [b"\x01", varchar_output(2)])[1], b"01")

    def test_null_input_gives_null_output(self):
        with self.connect() as conn, conn.cursor() as cur:
            self.assertIsNone(cur.callproc("xp_SHA1_Encrypt", [None, varchar_output(1)])[1])
            self.assertEqual(cur.return_value, 0)

    def test_batches_run_the_language(self):
        with self.connect() as conn, conn.cursor() as cur:
            cur.execute("DECLARE @d VARCHAR(16), @h VARCHAR(32); "
                        "EXEC xp_MD5_Encrypt 'abc', @d OUTPUT; EXEC xp_hexstr @d, @h OUTPUT; "
                        "SELECT @h AS md5, 7 AS n, N'\u00e9' AS e")
            self.assertEqual(cur.fetchall(), [(b"900150983CD24FB0D6963F7D28E17F72", 7, "\u00e9")])
            cur.execute("SET ANSI_NULLS ON; SET TEXTSIZE 2147483647; USE [master]")

    def test_each_tds_version(self):
        for version in [tds_base.TDS71, tds_base.TDS72, tds_base.TDS73, tds_base.TDS74]:
            with self.connect(tds_version=version) as conn, conn.cursor() as cur:
                result = cur.callproc("xp_hexstr", [varchar(b"\xab", 1), varchar_output(2)])
                self.assertEqual(result[1], b"AB", hex(version))

    def test_wrong_password_is_refused(self):
        for user, password in [("varrow", "wrong"), ("someone", PASSWORD)]:
            with self.assertRaises(pytds.Error) as raised:
                pytds.connect(server="127.0.0.1", port=self.server.port, user=user,
                              password=password, login_timeout=5)
            self.assertEqual(raised.exception.number, 18456)

    def test_32_concurrent_clients(self):
        failures = []

        def client(n):
            try:
                with self.connect() as conn, conn.cursor() as cur:
                    for i in range(200):
                        data = b"%d-%d" % (n, i)
                        got = cur.callproc("xp_MD5_Encrypt", [data, varchar_output(16)])[1]
                        if got != hashlib.md5(data).digest():
                            failures.append((n, i))
            except Exception as e:  # noqa: BLE001 - any failure fails the test
                failures.append((n, repr(e)))

        threads = [threading.Thread(target=client, args=(n,)) for n in range(32)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(failures, [])


class FreeTdsTest(ServerTestCase):
    def test_tsql_batch(self):
        batch = ("DECLARE @c VARCHAR(100), @p VARCHAR(100)\n"
                 "EXEC xp_AES_Encrypt 'via tsql', NULL, @c OUTPUT\n"
                 "EXEC xp_AES_Decrypt @c, NULL, @p OUTPUT\n"
                 "SELECT @p AS plain\ngo\nexit\n")
        out = subprocess.run(["tsql", "-H", "127.0.0.1", "-p", str(self.server.port),
                              "-U", "sa", "-P", "any"], input=batch, capture_output=True,
                             text=True, timeout=30).stdout
        self.assertIn("(return status = 0)", out)
        self.assertIn("via tsql", out)

    def test_pymssql_rpc_with_varchar_and_char(self):
        conn = pymssql.connect(server="127.0.0.1", port=self.server.port, user="sa",
                               password="any")
        try:
            proc = conn._conn.init_procedure("xp_hexstr")
            proc.bind("abc", _mssql.SQLVARCHAR, "@in")
            proc.bind(None, _mssql.SQLVARCHAR, "@out", output=True, max_length=8000)
            self.assertEqual(proc.execute(), 0)
            self.assertEqual(proc.parameters["@out"], "610062006300")
            proc = conn._conn.init_procedure("master..xp_MD5_Encrypt")
            proc.bind("abc", _mssql.SQLCHAR, "@in")
            proc.bind(None, _mssql.SQLCHAR, "@out", output=True, max_length=16)
            self.assertEqual(proc.execute(), 0)
            proc = conn._conn.init_procedure("xp_hexstr")
            proc.bind("abc", _mssql.SQLVARCHAR, "@in")
            proc.bind(None, _mssql.SQLVARCHAR, "@out", output=True, max_length=10)
            with self.assertRaises(_mssql.MSSQLDatabaseException) as raised:
                proc.execute()  # FreeTDS sends this output as NVARCHAR
            self.assertEqual(raised.exception.number, 50012)
        finally:
            conn.close()


def packet(kind, payload, status=1):
    return struct.pack(">BBHHBB", kind, status, len(payload) + 8, 0, 1, 0) + payload


def login7(user="sa", password="x", version=0x74000004, offsets_ok=True):
    """A minimal LOGIN7 request."""
    strings = [("host", "h"), ("user", user), ("password", password), ("app", "raw"),
               ("server", ""), ("unused", ""), ("library", "raw"), ("language", ""),
               ("database", "")]
    fixed_size = 94
    data = b""
    fields = b""
    for name, text in strings:
        encoded = text.encode("utf-16-le")
        if name == "password":
            encoded = bytes((((b << 4) | (b >> 4)) & 0xFF) ^ 0xA5 for b in encoded)
        offset = fixed_size + len(data) if offsets_ok else 60000
        fields += struct.pack("<HH", offset, len(text))
        data += encoded
    fields += b"\0" * 6 + struct.pack("<HH", 0, 0) * 3 + struct.pack("<I", 0)
    body = struct.pack("<IIIIIIBBBBiI", 0, version, 4096, 0, 0, 0, 0xE0, 0x03, 0, 0, 0, 0x409)
    payload = body + fields + data
    return payload[:0] + struct.pack("<I", len(payload)) + payload[4:]


class RawConnection:
    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=10)

    def send(self, data):
        self.sock.sendall(data)

    def reply(self):
        """The payload of one whole reply, or None when the server closed."""
        payload = b""
        while True:
            header = self._read(8)
            if header is None:
                return None
            kind, status, length = struct.unpack(">BBH", header[:4])
            body = self._read(length - 8)
            if body is None:
                return None
            payload += body
            if status & 1:
                return payload

    def _read(self, n):
        data = b""
        while len(data) < n:
            try:
                chunk = self.sock.recv(n - len(data))
            except (ConnectionResetError, socket.timeout):
                return None
            if not chunk:
                return None
            data += chunk
        return data

    def login(self):
        self.send(packet(0x12, b"\x00\x00\x06\x00\x06\xff\x09\x00\x00\x00\x00\x00"))
        assert self.reply() is not None
        self.send(packet(0x10, login7()))
        reply = self.reply()
        assert reply is not None and b"\xad" in reply
        return self

    def closed(self):
        return self.reply() is None

    def __del__(self):
        self.sock.close()


class RobustnessTest(ServerTestCase):
    def setUp(self):
        self.witness = pytds.connect(server="127.0.0.1", port=self.server.port, user="sa",
                                     password="x", autocommit=True, bytes_to_unicode=False)

    def tearDown(self):
        # The other client's connection still works after each bad one.
        with self.witness.cursor() as cur:
            self.assertEqual(cur.callproc("xp_hexstr", [b"\x7f", varchar_output(2)])[1], b"7F")
        self.witness.close()

    def test_short_header(self):
        raw = RawConnection(self.server.port)
        raw.send(b"\x12\x01\x00")
        raw.sock.shutdown(socket.SHUT_WR)
        self.assertTrue(raw.closed())

    def test_length_past_the_data(self):
        raw = RawConnection(self.server.port)
        raw.send(struct.pack(">BBHHBB", 0x12, 1, 4000, 0, 1, 0) + b"x" * 20)
        raw.sock.shutdown(socket.SHUT_WR)
        self.assertTrue(raw.closed())

    def test_length_shorter_than_the_header(self):
        raw = RawConnection(self.server.port)
        raw.send(struct.pack(">BBHHBB", 0x12, 1, 4, 0, 1, 0))
        self.assertTrue(raw.closed())

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
        result = subprocess.run([VARROWD, "--listen", "0.0.0.0:0", "--library", LIBRARY],
                                capture_output=True, text=True, timeout=10,
                                env={k: v for k, v in os.environ.items()
                                     if k != "VARROW_PASSWORD"})
        self.assertEqual(result.returncode, 1)
        self.assertIn("loopback", result.stderr)

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
