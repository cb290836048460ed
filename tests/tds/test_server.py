"""varrowd against hostile and careless clients: connections that never log
in or trickle, password guessing, exhausted descriptors and threads, calls
that never end at shutdown, bad passwords at start. Each test starts its own
server on a free loopback port; attackers use other loopback addresses
(127.0.0.2 and up) so that the legitimate client's address stays distinct."""
import contextlib
import json
import os
import re
import shutil
import resource
import signal
import socket
import struct
import subprocess
import tempfile
import threading
import time
import unittest
import urllib.error
import urllib.request

import pytds

from tds_wire import ALL_HEADERS, PRELOGIN, login7, packet, reply, run_clients

VARROWD = os.environ["VARROWD"]
LIBRARY = os.environ["VARROW_LIBRARY"]
HANGING_LIBRARY = os.environ.get("HANGING_LIBRARY")
PASSWORD = "right one"


def environment(env):
    """This process's environment without VARROW_PASSWORD, with `env` added."""
    return {**{k: v for k, v in os.environ.items() if k != "VARROW_PASSWORD"}, **(env or {})}


def refusal(*args, env=None):
    """What varrowd says on stderr when it refuses to start with `args`."""
    result = subprocess.run([VARROWD, "--library", LIBRARY, *args], capture_output=True,
                            text=True, timeout=10, env=environment(env))
    if result.returncode != 1:
        raise AssertionError("varrowd did not refuse to start: " + result.stdout)
    return result.stderr


class Server:
    def __init__(self, *args, env=None, library=LIBRARY, preexec_fn=None):
        self.log = tempfile.TemporaryFile("w+")
        self.process = subprocess.Popen(
            [VARROWD, "--listen", "127.0.0.1:0", "--library", library, *args],
            stdout=subprocess.PIPE, stderr=self.log, text=True, env=environment(env),
            preexec_fn=preexec_fn)
        line = self.process.stdout.readline()
        if "listening on" not in line:
            raise RuntimeError("varrowd did not start: " + line + self.stderr())
        self.port = int(line.rsplit(":", 1)[1])

    def stderr(self):
        self.log.seek(0)
        return self.log.read()

    def cpu_seconds(self):
        with open("/proc/%d/stat" % self.process.pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def __enter__(self):
        return self

    def __exit__(self, failure, *_):
        """Stops varrowd; a sanitizer finding or a leak shows as its exit status."""
        if self.stop() != 0 and failure in (None, unittest.SkipTest):
            raise AssertionError("varrowd did not stop cleanly")

    def stop(self, timeout=15):
        self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(timeout=timeout)
        finally:
            if self.process.poll() is None:
                self.process.kill()
                self.process.wait()
            self.process.stdout.close()
        return self.process.returncode


class ServerTestCase(unittest.TestCase):
    """Tests against one server of their own, which must stop cleanly."""
    @classmethod
    def setUpClass(cls):
        cls.server = Server()
        cls.addClassCleanup(cls.server.__exit__, None)


def raw(port, source="127.0.0.1", timeout=10):
    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    sock.settimeout(timeout)
    sock.bind((source, 0))
    sock.connect(("127.0.0.1", port))
    return sock


def closed_within(sock, seconds):
    """True when the server closes `sock` within `seconds` (whatever it sends first)."""
    sock.settimeout(seconds)
    end = time.time() + seconds
    try:
        while time.time() < end:
            if not sock.recv(65536):
                return True
    except ConnectionResetError:
        return True
    except socket.timeout:
        return False
    return False


def keep_sending(senders, seconds):
    """Sends each connection its next piece every 0.1 s for up to `seconds`;
    returns the names of those the server closed within 6 s (while the
    pieces kept coming)."""
    closed = set()
    started, i = time.time(), 0
    while len(closed) < len(senders) and time.time() - started < seconds:
        for name, (sock, piece) in senders.items():
            if name in closed:
                continue
            try:
                sock.send(piece(i))
                sock.settimeout(0.1 / len(senders))
                if not sock.recv(65536):
                    closed.add(name)
            except socket.timeout:
                pass
            except OSError:
                closed.add(name)
        i += 1
    return closed if time.time() - started <= 6 else set()


def raw_login(port, user="sa", password="x", source="127.0.0.1"):
    """A raw connection's login reply (None when closed) and the connection."""
    sock = raw(port, source)
    try:
        sock.sendall(packet(0x12, PRELOGIN))
        if reply(sock) is None:
            return None, sock
        sock.sendall(packet(0x10, login7(user, password)))
    except (BrokenPipeError, ConnectionResetError):
        return None, sock
    return reply(sock), sock


def connect(port, user="sa", password="x", **options):
    """A pytds connection to varrowd on `port`."""
    return pytds.connect(server="127.0.0.1", port=port, user=user, password=password,
                         autocommit=True, bytes_to_unicode=False, login_timeout=10, **options)


def legitimate_call(port, password="x", user="sa"):
    with connect(port, user, password) as conn:
        with conn.cursor() as cur:
            out = pytds.output(value=None, param_type="VARCHAR(2)")
            return cur.callproc("xp_hexstr", [b"\x5a", out])[1]


class Trickler:
    """Connections that hold their places: half send nothing, half a byte of a
    request every so often."""

    def __init__(self, port, count, sources):
        self.socks = []
        for i in range(count):
            try:
                self.socks.append(raw(port, sources[i % len(sources)]))
            except OSError:
                pass
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self._trickle, daemon=True)
        self.thread.start()

    def _trickle(self):
        stream = packet(0x12, PRELOGIN * 20)
        position = 0
        while not self.stop.wait(0.2):
            for sock in self.socks[::2]:
                try:
                    sock.send(stream[position:position + 1])
                except OSError:
                    pass
            position = (position + 1) % len(stream)

    def close(self):
        self.stop.set()
        self.thread.join()
        for sock in self.socks:
            sock.close()


class AdmissionTest(unittest.TestCase):
    def test_a_client_logs_in_while_64_connections_idle_or_trickle(self):
        cases = {
            "64 from one address": ["127.0.0.2"],
            "64 from 64 addresses": ["127.0.1.%d" % i for i in range(1, 65)],
        }
        for name, sources in cases.items():
            with self.subTest(name):
                with Server() as server:
                    attack = Trickler(server.port, 64, sources)
                    time.sleep(1.5)  # an address's only place gives way once over a second old
                    started = time.time()
                    self.assertEqual(legitimate_call(server.port), b"5A")
                    self.assertLess(time.time() - started, 8)
                    attack.close()

    def test_an_address_may_keep_few_connections_without_login(self):
        with Server() as server:
            idle = [raw(server.port, "127.0.0.3") for _ in range(20)]
            time.sleep(1.5)  # no longer a burst: they count against their address
            self.assertTrue(closed_within(raw(server.port, "127.0.0.3"), 3))
            self.assertFalse(closed_within(raw(server.port, "127.0.0.4"), 1))
            self.assertFalse(closed_within(idle[-1], 0.1))

    def test_the_whole_login_has_a_deadline(self):
        with Server("--login-timeout", "1") as server:
            stream = packet(0x12, PRELOGIN * 50)
            after_prelogin = raw(server.port)
            after_prelogin.sendall(packet(0x12, PRELOGIN))
            self.assertIsNotNone(reply(after_prelogin))
            login = packet(0x10, login7("sa", "x" * 200))
            senders = {
                "trickling its login": (after_prelogin, lambda i: login[i % len(login):][:1]),
                "silent": (raw(server.port), lambda i: b""),
                "trickling": (raw(server.port), lambda i: stream[i % len(stream):][:1]),
                "empty packets": (raw(server.port), lambda i: packet(0x12, b"", status=0) * 50),
            }
            self.assertEqual(keep_sending(senders, 8), set(senders))
            self.assertEqual(legitimate_call(server.port), b"5A")

    def test_a_request_begun_must_arrive_whole_in_time(self):
        with Server("--request-timeout", "1") as server:
            login, sock = raw_login(server.port)
            self.assertIn(b"\xad", login)
            batch = packet(0x01, ALL_HEADERS + "SELECT 1".encode("utf-16-le") * 10)
            self.assertEqual(keep_sending({"trickling": (sock, lambda i: batch[i:i + 1])}, 8),
                             {"trickling"})

    def test_unfinished_messages_before_the_login_are_cut_at_their_bound(self):
        with Server() as server:  # whose login deadline is 10 s
            for name, kind in [("LOGIN7", 0x10), ("a batch for LOGIN7", 0x01)]:
                sock = raw(server.port)
                sock.sendall(packet(0x12, PRELOGIN))
                self.assertIsNotNone(reply(sock), name)
                with contextlib.suppress(BrokenPipeError, ConnectionResetError):
                    sock.sendall(packet(kind, bytes(4000), status=0) * 33)  # 128 KiB and more
                self.assertTrue(closed_within(sock, 5), name)
                sock.close()

    def test_logins_past_the_cap_are_refused_with_an_error(self):
        with Server("--max-connections", "1") as server:
            first, first_sock = raw_login(server.port)
            self.assertIn(b"\xad", first)
            second, second_sock = raw_login(server.port)
            self.assertIn(struct.pack("<I", 17809), second)
            self.assertTrue(closed_within(second_sock, 5))
            first_sock.sendall(packet(0x06, b""))  # the first connection still answers
            self.assertEqual(reply(first_sock)[0], 0xFD)


class GuessingTest(unittest.TestCase):
    def test_guesses_lock_out_their_address_only_and_are_logged(self):
        with Server("--user", "varrow", env={"VARROW_PASSWORD": PASSWORD}) as server:
            early = raw(server.port, "127.0.0.2")  # opened before the lockout
            early.sendall(packet(0x12, PRELOGIN))
            self.assertIsNotNone(reply(early))
            for i in range(5):
                answer, sock = raw_login(server.port, "varrow", "guess%d" % i, "127.0.0.2")
                self.assertIn(struct.pack("<I", 18456), answer, i)
                sock.close()
            refused, sock = raw_login(server.port, "varrow", PASSWORD, "127.0.0.2")
            self.assertIsNone(refused, "a locked-out address may still log in")
            early.sendall(packet(0x10, login7("varrow", PASSWORD)))
            answer = reply(early)
            self.assertIn(struct.pack("<I", 18456), answer, "a guess on an earlier connection")
            self.assertIn("refused for 1 more second ".encode("utf-16-le"), answer)
            self.assertEqual(legitimate_call(server.port, PASSWORD, "varrow"), b"5A")
            time.sleep(1.5)  # the first lockout is a second long
            answer, sock = raw_login(server.port, "varrow", PASSWORD, "127.0.0.2")
            self.assertIn(b"\xad", answer)
            forged = "x\r\nvarrowd: login succeeded for user 'sa'\x1b[2J\u202e"
            raw_login(server.port, forged, "y", "127.0.0.3")[1].close()
        log = server.stderr()
        self.assertNotIn("\nvarrowd: login succeeded", log)
        self.assertIn("user 'x\\r\\nvarrowd: login succeeded for user \\'sa\\'\\x1b[2J\\u202e' "
                      "from 127.0.0.3: unknown user\n", log)
        self.assertIn("login failed for user 'varrow' from 127.0.0.2", log)
        self.assertIn("refused for 1 s", log)
        self.assertNotIn("guess", log)


class ExhaustionTest(unittest.TestCase):
    def test_out_of_descriptors_backs_off(self):
        limit = 24

        def few_descriptors():
            resource.setrlimit(resource.RLIMIT_NOFILE, (limit, limit))

        with Server(preexec_fn=few_descriptors) as server:
            if under_sanitizer(server.process.pid):
                # UBSan tests memory it reports on through a pipe: without
                # descriptors it reports every object as unreadable.
                self.skipTest("a sanitizer's runtime needs descriptors of its own")
            socks = [raw(server.port, "127.0.0.%d" % (2 + i // 8)) for i in range(2 * limit)]
            time.sleep(0.5)
            before = server.cpu_seconds()
            time.sleep(2)
            self.assertLess(server.cpu_seconds() - before, 0.5, "spins on EMFILE")
            for sock in socks:
                sock.close()
            self.assertEqual(legitimate_call(server.port), b"5A")
        self.assertIn("cannot accept connections", server.stderr())

    def test_no_thread_refuses_that_connection_only(self):
        with Server() as server:
            size = memory_kib(server.process.pid, "VmSize")
            if under_sanitizer(server.process.pid):
                self.skipTest("address space limits do not work under a sanitizer")
            # Room for a few thread stacks beyond what the server has now.
            room = (size << 10) + (48 << 20)
            resource.prlimit(server.process.pid, resource.RLIMIT_AS, (room, room))
            socks = [raw(server.port, "127.0.0.%d" % (2 + i // 8)) for i in range(40)]
            time.sleep(1)
            self.assertIsNone(server.process.poll(), "varrowd ended")
            for sock in socks:
                sock.close()
            time.sleep(0.5)
            self.assertEqual(legitimate_call(server.port), b"5A")
        self.assertIn("cannot serve a connection from 127.0.0.", server.stderr())


class LogTest(unittest.TestCase):
    STAMP = r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z"

    def test_one_session_logged_as_text_and_as_json(self):
        for form in ["text", "json"]:
            with Server("--log-format", form, env={"VARROW_PASSWORD": PASSWORD}) as server:
                legitimate_call(server.port, PASSWORD)
                raw_login(server.port, "x\n", "y")[1].close()
                time.sleep(0.2)  # the session's end is logged after the client has gone
            lines = server.stderr().splitlines()
            if form == "json":
                events = {event["message"].split(" for ")[0]: event for event in map(json.loads, lines)}
                self.assertRegex(events["login"]["time"], "^" + self.STAMP + "$")
                self.assertEqual([events["login"][k] for k in ["peer", "user", "tds", "tls"]],
                                 ["127.0.0.1", "sa", "7.4", "clear"])
                ended = events["session ended"]
                self.assertEqual([ended["calls"], ended["reason"]], [1, "client disconnected"])
                self.assertGreater(min(ended["requests"], ended["bytes_in"], ended["bytes_out"]), 0)
                self.assertEqual(events["login failed"]["user"], "x\\n")
            else:
                for line in lines:
                    self.assertRegex(line, "^" + self.STAMP + " (info|warning|error) ")
                self.assertRegex(server.stderr(), r"connection=\d+ peer=127.0.0.1 login user='sa' "
                                 r"tds='7.4' tls='clear' app='[^']+'\n")
                self.assertRegex(server.stderr(), r"session ended duration_seconds=[\d.]+ "
                                 r"requests=\d+ calls=1 bytes_in=\d+ bytes_out=\d+ "
                                 r"reason='client disconnected'\n")


def http_get(url):
    try:
        with urllib.request.urlopen(url, timeout=5) as answer:
            return answer.status, answer.read().decode()
    except urllib.error.HTTPError as e:
        return e.code, e.read().decode()


class MetricsTest(unittest.TestCase):
    def test_scraped_counts_after_known_calls_and_readiness_on_sigterm(self):
        with Server("--metrics-listen", "127.0.0.1:0", "--stop-delay", "1",
                    env={"VARROW_PASSWORD": PASSWORD}) as server:
            url = re.search(r"http://\S+/", server.stderr()).group(0)  # logged before listening
            for _ in range(2):
                legitimate_call(server.port, PASSWORD)
            raw_login(server.port, "sa", "wrong")[1].close()
            status, text = http_get(url + "metrics")
            for line in ['varrowd_calls_total{procedure="xp_hexstr",status="ok"} 2',
                         'varrowd_call_duration_seconds_count{procedure="xp_hexstr"} 2',
                         'varrowd_logins_total{result="ok"} 2',
                         'varrowd_logins_total{result="wrong_password"} 1',
                         'varrowd_errors_total{number="18456"} 1']:
                self.assertIn(line + "\n", text)
            self.assertEqual([http_get(url + p)[0] for p in ["healthz", "readyz"]], [200, 200])
            server.process.send_signal(signal.SIGTERM)
            time.sleep(0.3)  # not ready at once, and still serving for the stop delay
            self.assertEqual(http_get(url + "readyz"), (503, "not ready: stopping\n"))
            self.assertEqual(legitimate_call(server.port, PASSWORD), b"5A")
        if not shutil.which("promtool"):
            self.skipTest("promtool (Debian prometheus) is not installed")
        check = subprocess.run(["promtool", "check", "metrics"], input=text, text=True,
                               capture_output=True)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)


class NotifyTest(unittest.TestCase):
    def test_systemd_hears_ready_reloading_and_stopping(self):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "notify")
            with socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM) as notify:
                notify.bind(path)
                notify.settimeout(10)
                heard = lambda: notify.recv(4096).decode().split("\n")[0]
                with Server(env={"NOTIFY_SOCKET": path}) as server:
                    self.assertEqual(heard(), "READY=1")
                    server.process.send_signal(signal.SIGHUP)
                    self.assertEqual([heard(), heard()], ["RELOADING=1", "READY=1"])
                    server.process.send_signal(signal.SIGTERM)
                    self.assertEqual(heard(), "STOPPING=1")


class ShutdownTest(unittest.TestCase):
    def test_exits_after_the_grace_with_a_call_still_running(self):
        server = Server("--shutdown-grace", "1", library=HANGING_LIBRARY)

        def hang():
            with contextlib.suppress(Exception):  # the connection ends with the server
                legitimate_call(server.port)

        threading.Thread(target=hang, daemon=True).start()
        time.sleep(1)
        idle, _ = raw_login(server.port)
        self.assertIn(b"\xad", idle)
        started = time.time()
        self.assertEqual(server.stop(timeout=10), 1)
        self.assertLess(time.time() - started, 8)

    def test_stops_at_once_when_no_call_runs(self):
        server = Server("--shutdown-grace", "30")
        answer, sock = raw_login(server.port)
        self.assertIn(b"\xad", answer)
        started = time.time()
        self.assertEqual(server.stop(), 0)
        self.assertLess(time.time() - started, 5)
        self.assertTrue(closed_within(sock, 1))


KEY = "000102030405060708090A0B0C0D0E0F"


def encrypt(cur, key_param, way="rpc"):
    """xp_AES_Encrypt with a VARCHAR key by RPC, in a batch, or as a parameter of
    sp_executesql (as pytds sends a parameterised query); the error number, or
    the ciphertext."""
    statement = "DECLARE @c VARCHAR(32) EXEC xp_AES_Encrypt 'plain', %s, @c OUTPUT SELECT @c"
    try:
        if way == "rpc":
            out = pytds.output(value=None, param_type="VARCHAR(32)")
            return cur.callproc("xp_AES_Encrypt", [b"plain", key_param.encode(), out])[2]
        if way == "batch":
            cur.execute(statement % ("'%s'" % key_param))
        else:
            cur.execute(statement, (key_param.encode(),))
        return cur.fetchall()[0][0]
    except pytds.Error as e:
        return e.number


class KeyDirTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.top = tempfile.TemporaryDirectory()
        top = os.path.realpath(cls.top.name)
        cls.dir = os.path.join(top, "keys")
        outside = os.path.join(top, "outside.key")
        os.mkdir(cls.dir)
        os.mkdir(os.path.join(cls.dir, "folder"))
        os.mkdir(cls.dir + "2")
        for path in [os.path.join(cls.dir, "inside.key"), outside,
                     os.path.join(cls.dir + "2", "sibling.key")]:
            with open(path, "w") as f:
                f.write(KEY + "\n")
        os.symlink(outside, os.path.join(cls.dir, "link-out.key"))
        os.symlink(os.path.join(cls.dir, "inside.key"), os.path.join(cls.dir, "link-in.key"))
        os.mkfifo(os.path.join(cls.dir, "fifo.key"))
        cls.addClassCleanup(cls.top.cleanup)

    def calls(self, server):
        with connect(server.port) as conn:
            with conn.cursor() as cur:
                by_text = encrypt(cur, KEY)
                self.assertIsInstance(by_text, bytes)
                d = self.dir
                cases = {
                    "inside": ("keyfile=%s/inside.key" % d, by_text),
                    "prefix in capitals": ("KEYFILE=%s/inside.key" % d, by_text),
                    "symlink inside": ("keyfile=%s/link-in.key" % d, by_text),
                    "symlink out": ("keyfile=%s/link-out.key" % d, 50100),
                    "outside": ("keyfile=%s/../outside.key" % d, 50100),
                    "system file": ("keyfile=/etc/passwd", 50100),
                    "a folder beside with the same start": ("keyfile=%s2/sibling.key" % d, 50100),
                    "a folder": ("keyfile=%s/folder" % d, 50100),
                    "a FIFO": ("keyfile=%s/fifo.key" % d, 50100),
                    "missing": ("keyfile=%s/none.key" % d, 50100),
                    "the folder itself": ("keyfile=%s" % d, 50100),
                }
                results = {}
                for name, (key_param, _) in cases.items():
                    results[name] = tuple(encrypt(cur, key_param, way)
                                          for way in ("rpc", "batch", "executesql"))
                return by_text, cases, results

    def test_key_files_only_inside_the_key_dir(self):
        with Server("--key-dir", self.dir) as server:
            by_text, cases, results = self.calls(server)
        for name, (_, expected) in cases.items():
            self.assertEqual(results[name], (expected,) * 3, name)

    def test_no_key_files_without_a_key_dir(self):
        with Server() as server:
            _, cases, results = self.calls(server)
        for name in cases:
            self.assertEqual(results[name], (50100,) * 3, name)

    def test_a_key_dir_that_is_no_folder_stops_the_start(self):
        self.assertIn("not a folder", refusal("--listen", "127.0.0.1:0",
                                              "--key-dir", os.path.join(self.dir, "inside.key")))


NULL_INT = b"\x00\x00\x26\x04\x00"  # unnamed, not OUTPUT, INTN(4), NULL


def message(kind, payload, size=4096):
    """`payload` as packets of `size` bytes, the last one marked."""
    chunk = size - 8
    parts = [payload[i:i + chunk] for i in range(0, len(payload), chunk)] or [b""]
    return b"".join(packet(kind, part, 1 if i == len(parts) - 1 else 0)
                    for i, part in enumerate(parts))


def rpc_by_name(name, params=b""):
    return struct.pack("<H", len(name)) + name.encode("utf-16-le") + b"\x00\x00" + params


def hexstr_param(data):
    """xp_hexstr's input: a VARCHAR(8000) with `data`, then its OUTPUT VARCHAR(8000)."""
    collation = b"\x09\x04\xd0\x00\x34"
    return (b"\x00\x00\xa7" + struct.pack("<H", 8000) + collation +
            struct.pack("<H", len(data)) + data +
            b"\x00\x01\xa7" + struct.pack("<H", 8000) + collation + b"\xff\xff")


def error_numbers(payload):
    """The numbers of the ERROR and INFO tokens (0xAA, 0xAB) in a reply, in order."""
    numbers = []
    i = 0
    while i < len(payload) - 9:
        if payload[i] in (0xAA, 0xAB):
            length, number, state = struct.unpack("<HIB", payload[i + 1:i + 8])
            if 8 < length < 2000 and state < 128 and number in KNOWN_NUMBERS:
                numbers.append(number)
                i += 3 + length
                continue
        i += 1
    return numbers


KNOWN_NUMBERS = {2812, 8003, 50001, 50101, 50102}


def wide_select(columns):
    """A batch selecting an 8000-byte value `columns` times: little text, a large reply."""
    return ("DECLARE @v VARCHAR(8000) = '%s'\nSELECT %s\n" %
            ("a" * 8000, ", ".join(["@v"] * columns)))


def ask(sock, kind, payload):
    sock.sendall(message(kind, payload))
    return reply(sock)


def batch_text(text):
    return ALL_HEADERS + text.encode("utf-16-le")


def still_answers(sock):
    answer = ask(sock, 0x03, ALL_HEADERS + rpc_by_name("xp_hexstr", hexstr_param(b"\x7f")))
    return answer is not None and b"7F" in answer


class ProtocolLimitTest(ServerTestCase):
    def test_limits_give_an_error_and_the_connection_goes_on(self):
        cases = {
            "2100 parameters run": (0x03, rpc_by_name("xp_hexstr", NULL_INT * 2100), 50001),
            "2101 parameters": (0x03, rpc_by_name("xp_hexstr", NULL_INT * 2101), 8003),
            "1001 requests": (0x03, b"\xff".join([rpc_by_name("xp_nothing")] * 1001), 50102),
            "a reply over 8 MiB in one result set": (0x01, wide_select(1100), 50101),
            "a reply over 8 MiB over many":
                (0x01, wide_select(100) + ("SELECT %s\n" % ", ".join(["@v"] * 100)) * 11, 50101),
        }
        for name, (kind, payload, number) in cases.items():
            with self.subTest(name):
                _, sock = raw_login(self.server.port)
                body = batch_text(payload) if kind == 0x01 else ALL_HEADERS + payload
                answer = ask(sock, kind, body)
                self.assertIsNotNone(answer)
                self.assertLess(len(answer), 9 << 20)
                self.assertEqual(error_numbers(answer)[-1], number)
                self.assertTrue(still_answers(sock))
                sock.close()

    def test_requests_before_the_limit_are_answered(self):
        _, sock = raw_login(self.server.port)
        requests = [rpc_by_name("xp_hexstr", hexstr_param(b"\x01"))] * 1001
        answer = ask(sock, 0x03, ALL_HEADERS + b"\xff".join(requests))
        self.assertEqual(answer.count(b"\x02\x0001"), 1000)  # each RETURNVALUE's hex text
        self.assertEqual(error_numbers(answer), [50102])


def under_sanitizer(pid):
    """True for a varrowd built with a sanitizer, whose shadow memory takes
    terabytes of address space."""
    return memory_kib(pid, "VmSize") > 1 << 30  # KiB


def memory_kib(pid, field):
    with open("/proc/%d/status" % pid) as f:
        return next(int(line.split()[1]) for line in f if line.startswith(field + ":"))


class MemoryTest(unittest.TestCase):
    # The worst a connection can make varrowd hold at once, as README's
    # "Limits" section works it out, with room for the allocator's slack.
    PER_CONNECTION_MIB = 64

    def test_hostile_requests_stay_within_the_documented_memory(self):
        with Server() as server:
            if under_sanitizer(server.process.pid):
                self.skipTest("a sanitizer's allocator and shadow memory are not varrowd's")
            baseline = memory_kib(server.process.pid, "VmRSS")
            attacks = [
                (0x01, batch_text(";" * (1 << 20))),
                (0x01, batch_text(wide_select(4000))),
                (0x01, batch_text(wide_select(4000) + ("SELECT %s\n" % ", ".join(["@v"] * 1000))
                                  * 60)),
                (0x03, ALL_HEADERS + rpc_by_name("xp_hexstr", NULL_INT * 800000)),
                (0x03, ALL_HEADERS + b"\xff".join([b"\xff\xff\x0a\x00\x00\x00"] * 590000)),
            ]
            clients = 8

            def attacker(n):
                _, sock = raw_login(server.port)
                for kind, body in attacks:
                    if ask(sock, kind, body) is None:
                        return [(n, "closed after %d bytes" % len(body))]
                sock.close()

            self.assertEqual(run_clients(attacker, clients, timeout=120), [])
            peak = memory_kib(server.process.pid, "VmHWM")
            time.sleep(1)
            after = memory_kib(server.process.pid, "VmRSS")
            self.assertEqual(legitimate_call(server.port), b"5A")
        grown_mib = (peak - baseline) / 1024
        self.assertLess(grown_mib, clients * self.PER_CONNECTION_MIB, "peak RSS")
        self.assertLess((after - baseline) / 1024, 2 * self.PER_CONNECTION_MIB, "RSS afterwards")
        print("peak growth %.0f MiB for %d connections, %.0f MiB kept" %
              (grown_mib, clients, (after - baseline) / 1024))


class PasswordTest(unittest.TestCase):
    def test_empty_passwords_are_refused_at_start(self):
        with tempfile.NamedTemporaryFile("w") as empty_line:
            empty_line.write("\nsecond line\n")
            empty_line.flush()
            cases = {
                "empty VARROW_PASSWORD": ((), {"VARROW_PASSWORD": ""}),
                "empty first line": (("--password-file", empty_line.name), None),
                "only a CR": ((), {"VARROW_PASSWORD": "\r"}),
            }
            for name, (args, env) in cases.items():
                with self.subTest(name):
                    self.assertIn("empty password",
                                  refusal("--listen", "127.0.0.1:0", *args, env=env))

    def test_a_crlf_password_file_gives_the_password_without_cr(self):
        with tempfile.NamedTemporaryFile("w", newline="") as crlf:
            crlf.write(PASSWORD + "\r\n")
            crlf.flush()
            with Server("--password-file", crlf.name) as server:
                self.assertEqual(legitimate_call(server.port, PASSWORD), b"5A")
                # SIGHUP reads it again; an empty one is refused and the last good one stays.
                for line, valid in [("second\r\n", "second"), ("\n", "second")]:
                    with open(crlf.name, "w") as f:
                        f.write(line)
                    before = server.stderr().count(" reload")
                    server.process.send_signal(signal.SIGHUP)
                    while server.stderr().count(" reload") == before:
                        time.sleep(0.05)
                    self.assertEqual(legitimate_call(server.port, valid), b"5A")


if __name__ == "__main__":
    unittest.main()
