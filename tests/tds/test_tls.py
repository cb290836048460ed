"""varrowd with TLS: certificates made with the openssl command at test time,
encryption proven on the wire by a relay that records one connection's
bytes, the refusals (each closing only its own connection while a witness
client keeps working), login-only encryption, TDS 8.0 with a raw TLS client,
and the start-up checks. The drivers themselves run over TLS through
tests/drivers/run_driver.py."""
import itertools
import os
import shutil
import signal
import socket
import ssl
import struct
import tempfile
import threading
import time
import unittest

import pytds

import tls_certs
from test_server import PASSWORD, Server, connect, refusal
from tds_wire import ALL_HEADERS, RawConnection, login7, packet, run_clients, varchar, varchar_output

CERTS = {}
KEY = b"000102030405060708090A0B0C0D0E0F"
KNOWN = b"known plaintext: attack at dawn"


def setUpModule():
    CERTS.update(tls_certs.make(tempfile.mkdtemp(prefix="varrow-tls-")))


def tls_args(encryption="required"):
    return ("--tls-cert", CERTS["server.pem"], "--tls-key", CERTS["server.key"],
            "--encryption", encryption, "--user", "varrow")


def start(*args, password=PASSWORD):
    server = Server(*args, env={"VARROW_PASSWORD": password})
    server.offered = server.stderr()
    return server


def prelogin(encryption):
    """A PRELOGIN payload with VERSION and ENCRYPTION."""
    return (b"\x00\x00\x0b\x00\x06\x01\x00\x11\x00\x01\xff"
            + b"\x09\x00\x00\x00\x00\x00" + bytes([encryption]))


def answer(reply):
    """The ENCRYPTION value of varrowd's PRELOGIN reply."""
    return reply[0x20]


def password_forms(password):
    """The password as it would cross the wire without TLS: LOGIN7's
    obfuscation of its UTF-16, and the plain text in both encodings."""
    utf16 = password.encode("utf-16-le")
    scrambled = bytes((((b << 4) | (b >> 4)) & 0xFF) ^ 0xA5 for b in utf16)
    return [scrambled, utf16, password.encode()]


class Relay:
    """A loopback relay for one connection that keeps every byte it carries,
    in each direction."""

    def __init__(self, port):
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.target = port
        self.from_client = bytearray()
        self.from_server = bytearray()
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        client, _ = self.listener.accept()
        server = socket.create_connection(("127.0.0.1", self.target))
        back = threading.Thread(target=self._pump, args=(server, client, self.from_server))
        back.start()
        self._pump(client, server, self.from_client)
        back.join()
        client.close()
        server.close()
        self.listener.close()

    @staticmethod
    def _pump(source, sink, record):
        while True:
            try:
                data = source.recv(65536)
            except OSError:
                data = b""
            if not data:
                try:
                    sink.shutdown(socket.SHUT_WR)
                except OSError:
                    pass
                return
            record += data
            sink.sendall(data)

    def wire(self):
        self.thread.join(timeout=10)
        return bytes(self.from_client) + bytes(self.from_server)


def pytds_connect(port, password=PASSWORD, **options):
    return connect(port, "varrow", password, **options)


def aes_round_trip(conn):
    with conn.cursor() as cur:
        cipher = cur.callproc("xp_AES_Encrypt", [KNOWN, varchar(KEY, 32), varchar_output(8000)])[2]
        plain = cur.callproc("xp_AES_Decrypt", [cipher, varchar(KEY, 32), varchar_output(8000)])[2]
        return cipher, plain


class WireTest(unittest.TestCase):
    """What an observer of the loopback sees of one connection."""

    def capture(self, server_args, **connect):
        with start(*server_args) as server:
            relay = Relay(server.port)
            with pytds_connect(relay.port, **connect) as conn:
                cipher, plain = aes_round_trip(conn)
                self.assertEqual(plain, KNOWN)
            return relay.wire(), cipher

    def assert_absent(self, wire, secrets):
        for secret in secrets:
            self.assertNotIn(secret, wire)

    def test_full_encryption_hides_password_and_data(self):
        wire, cipher = self.capture(tls_args(), cafile=CERTS["ca.pem"], validate_host=False)
        self.assert_absent(wire, password_forms(PASSWORD) + [KNOWN, KNOWN.hex().encode(), cipher])
        # After the PRELOGIN exchange only TLS application records (0x17).
        self.assertIn(b"\x17\x03\x03", wire)

    def test_the_same_check_sees_everything_without_tls(self):
        # The relay and the checks above do find secrets on a clear connection.
        wire, cipher = self.capture(("--user", "varrow"))
        self.assertIn(password_forms(PASSWORD)[0], wire)
        self.assertIn(KNOWN, wire)
        self.assertIn(cipher, wire)

    def test_login_only_encryption_hides_the_password_alone(self):
        wire, cipher = self.capture(tls_args("optional"), cafile=CERTS["ca.pem"],
                                    validate_host=False, enc_login_only=True)
        self.assert_absent(wire, password_forms(PASSWORD))
        self.assertIn(KNOWN, wire)  # the calls after the login travel in clear
        self.assertIn(cipher, wire)


class RefusalTest(unittest.TestCase):
    """Each bad connection ends alone: a witness logged in over TLS before
    it still works after it."""

    @classmethod
    def setUpClass(cls):
        cls.server = start(*tls_args(), "--login-timeout", "2")

    @classmethod
    def tearDownClass(cls):
        cls.server.__exit__(None)

    def setUp(self):
        self.witness = pytds_connect(self.server.port, cafile=CERTS["ca.pem"], validate_host=False)

    def tearDown(self):
        with self.witness.cursor() as cur:
            self.assertEqual(cur.callproc("xp_hexstr", [b"\x7f", varchar_output(2)])[1], b"7F")
        self.witness.close()

    def test_client_that_cannot_encrypt(self):
        with self.assertRaises(pytds.Error) as raised:
            pytds_connect(self.server.port)
        self.assertIn("encryption", str(raised.exception).lower())

    def test_clear_login_is_answered_with_an_error_and_never_read(self):
        for first in [packet(0x12, prelogin(0x02)), b""]:
            raw = RawConnection(self.server.port)
            if first:
                raw.send(first)
                self.assertEqual(answer(raw.reply()), 0x03)  # ENCRYPT_REQ
            raw.send(packet(0x10, login7(user="varrow", password=PASSWORD)))
            reply = raw.reply()
            self.assertIn(struct.pack("<I", 18456), reply)
            self.assertIn("Encryption is required".encode("utf-16-le"), reply)
            self.assertTrue(raw.closed())

    def test_client_trusting_another_ca(self):
        with self.assertRaises(Exception):
            pytds_connect(self.server.port, cafile=CERTS["other-ca.pem"], validate_host=False)

    def test_garbage_handshake(self):
        """Inside PRELOGIN packets after a PRELOGIN asking to encrypt, or first as TLS."""
        hello = b"\x16\x03\x01\x00\x08\x01\x00\x00\x04abcd"
        for garbage in [hello, os.urandom(300), b"GET / HTTP/1.1\r\n\r\n", None]:
            raw = RawConnection(self.server.port)
            if garbage is None:
                raw.send(hello)
            else:
                raw.send(packet(0x12, prelogin(0x01)))
                self.assertEqual(answer(raw.reply()), 0x03)
                raw.send(packet(0x12, garbage))
            self.assertTrue(closed_after_alert(raw), garbage)

    def test_client_stopping_mid_handshake_is_closed_by_the_login_deadline(self):
        hello = client_hello()
        for sent in [packet(0x12, prelogin(0x01)), packet(0x12, hello)[:40], hello[:30]]:
            raw = RawConnection(self.server.port)
            raw.send(sent)
            started = time.time()
            while raw.reply() is not None:  # the PRELOGIN reply, if any
                pass
            self.assertLess(time.time() - started, 8)

    def test_wrong_password_over_tls(self):
        with self.assertRaises(pytds.Error) as raised:
            pytds_connect(self.server.port, password="wrong", cafile=CERTS["ca.pem"],
                          validate_host=False)
        self.assertEqual(raised.exception.number, 18456)


def closed_after_alert(raw):
    """True when the server closes, perhaps after a TLS alert saying why."""
    data = b""
    while True:
        try:
            chunk = raw.sock.recv(4096)
        except (ConnectionResetError, socket.timeout):
            return False
        if not chunk:
            return len(data) < 100  # an alert, or nothing
        data += chunk


class ConcurrencyTest(unittest.TestCase):
    def test_16_clients_in_tls_at_once(self):
        def client(n):
            with pytds_connect(server.port, cafile=CERTS["ca.pem"], validate_host=False) as conn:
                plains = [aes_round_trip(conn)[1] for _ in range(20)]
            return [(n, plain) for plain in plains if plain != KNOWN]

        with start(*tls_args()) as server:
            self.assertEqual(run_clients(client, 16), [])


def client_hello():
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    ctx.check_hostname = False
    ctx.verify_mode = ssl.CERT_NONE
    incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
    tls = ctx.wrap_bio(incoming, outgoing)
    try:
        tls.do_handshake()
    except ssl.SSLWantReadError:
        pass
    return outgoing.read()


class StrictTest(unittest.TestCase):
    """TDS 8.0: TLS from the first byte, PRELOGIN inside it."""

    def test_raw_tds8_client_logs_in(self):
        with start(*tls_args()) as server:
            ctx = ssl.create_default_context(cafile=CERTS["ca.pem"])
            ctx.set_alpn_protocols(["tds/8.0"])
            with socket.create_connection(("127.0.0.1", server.port), timeout=10) as plain:
                with ctx.wrap_socket(plain, server_hostname="localhost") as tls:
                    self.assertEqual(tls.selected_alpn_protocol(), "tds/8.0")
                    raw = RawConnection.__new__(RawConnection)
                    raw.sock = tls
                    raw.send(packet(0x12, prelogin(0x02)))
                    self.assertEqual(answer(raw.reply()), 0x02)
                    raw.send(packet(0x10, login7(user="varrow", password=PASSWORD)))
                    self.assertIn(b"\xad", raw.reply())  # LOGINACK

    def strict_login(self, port):
        """A TDS 8.0 session logged in, and the certificate it was served."""
        ctx = ssl.create_default_context(cafile=CERTS["ca.pem"])
        ctx.set_alpn_protocols(["tds/8.0"])
        tls = ctx.wrap_socket(socket.create_connection(("127.0.0.1", port), timeout=10),
                              server_hostname="localhost")
        raw = RawConnection.__new__(RawConnection)
        raw.sock = tls
        raw.send(packet(0x12, prelogin(0x02)))
        raw.reply()
        raw.send(packet(0x10, login7(user="varrow", password=PASSWORD)))
        self.assertIn(b"\xad", raw.reply())
        return raw, tls.getpeercert(binary_form=True)

    def test_sighup_serves_a_renewed_certificate_to_new_sessions_only(self):
        folder = os.path.dirname(CERTS["ca.pem"])
        cert, key = os.path.join(folder, "live.pem"), os.path.join(folder, "live.key")
        shutil.copy(CERTS["server.pem"], cert)
        shutil.copy(CERTS["server.key"], key)
        tls_certs.openssl("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                          "-CAcreateserial", "-days", "2", "-extfile", "server.ext", "-out",
                          "renewed.pem", cwd=folder)
        with start("--tls-cert", cert, "--tls-key", key, "--user", "varrow") as server:
            first, served = self.strict_login(server.port)
            # (what the certificate file then holds, the log's word, the certificate served)
            for source, logged in [("renewed.pem", "reloaded"), ("ca.key", "reload failed"),
                                   ("expired.pem", "reload failed")]:
                shutil.copy(os.path.join(folder, source), cert)
                before = server.stderr().count(" reload")
                server.process.send_signal(signal.SIGHUP)
                while server.stderr().count(" reload") == before:
                    time.sleep(0.05)
                self.assertIn(logged, server.stderr().splitlines()[-1], source)
                _, now = self.strict_login(server.port)
                with open(os.path.join(folder, "renewed.pem")) as renewed:
                    self.assertEqual(ssl.DER_cert_to_PEM_cert(now).strip(), renewed.read().strip())
            # The session opened before the reloads goes on as it was.
            first.send(packet(0x01, ALL_HEADERS + "SELECT 1".encode("utf-16-le")))
            self.assertIn(b"\xfd", first.reply())
            self.assertNotEqual(served, now)

    def test_tls_first_to_a_server_without_tls(self):
        with start("--user", "varrow") as server:
            ctx = ssl.create_default_context(cafile=CERTS["ca.pem"])
            with socket.create_connection(("127.0.0.1", server.port), timeout=10) as plain:
                with self.assertRaises((ssl.SSLError, OSError)):
                    ctx.wrap_socket(plain, server_hostname="localhost")


class StartupTest(unittest.TestCase):
    def refusal(self, *args, password=PASSWORD):
        return refusal(*args, env={"VARROW_PASSWORD": password} if password else None)

    def test_unusable_files_stop_varrowd_naming_the_file(self):
        missing = os.path.join(os.path.dirname(CERTS["ca.pem"]), "missing.pem")
        cases = [
            ((missing, CERTS["server.key"]), [missing]),
            ((CERTS["server.pem"], CERTS["other-ca.pem"]), [CERTS["other-ca.pem"]]),
            ((CERTS["server.pem"], CERTS["expired.key"]),
             ["does not match", CERTS["expired.key"]]),
            ((CERTS["expired.pem"], CERTS["expired.key"]), ["expired", CERTS["expired.pem"]]),
        ]
        for (cert, key), expected in cases:
            stderr = self.refusal("--listen", "127.0.0.1:0", "--tls-cert", cert, "--tls-key", key)
            for text in expected:
                self.assertIn(text, stderr, (cert, key))

    def test_network_address_names_what_is_missing(self):
        cases = [
            ((), PASSWORD, ["--tls-cert", "--encryption required"]),
            (tls_args("optional"), PASSWORD, ["--encryption required"]),
            (tls_args(), None, ["password"]),
        ]
        for (args, password, expected), check in itertools.product(cases, [(), ("--check-config",)]):
            stderr = self.refusal("--listen", "0.0.0.0:0", *check, *args, password=password)
            self.assertIn("loopback", stderr)
            for text in expected:
                self.assertIn(text, stderr, args)

    def test_start_up_says_which_encryption(self):
        for args, expected in [(tls_args(), "encryption required"),
                               (tls_args("optional"), "encryption optional"),
                               (("--user", "varrow"), "encryption off")]:
            with start(*args) as server:
                self.assertIn(expected, server.offered)


if __name__ == "__main__":
    unittest.main()
