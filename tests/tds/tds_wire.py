"""What the Python tests of varrowd share: TDS requests as a raw client
writes them, reading whole replies back from a socket, the VARCHAR
parameters pytds tests bind, and running clients at once in threads. Reads
nothing from the environment, so that any test program may import it."""
import socket
import struct
import threading

import pytds
from pytds import tds_base, tds_types

# A PRELOGIN payload holding only a VERSION option, all zeros.
PRELOGIN = b"\x00\x00\x06\x00\x06\xff\x09\x00\x00\x00\x00\x00"
# The ALL_HEADERS block before a batch or RPC: one transaction descriptor
# header, no transaction, one request outstanding.
ALL_HEADERS = struct.pack("<IIHQI", 22, 18, 2, 0, 1)


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
    return struct.pack("<I", len(payload)) + payload[4:]


def recv_exactly(sock, n):
    """`n` bytes from `sock`, or None when the server closed first."""
    data = b""
    while len(data) < n:
        try:
            chunk = sock.recv(n - len(data))
        except (ConnectionResetError, socket.timeout):
            return None
        if not chunk:
            return None
        data += chunk
    return data


def reply(sock):
    """The payload of one whole reply, or None when the server closed."""
    payload = b""
    while True:
        header = recv_exactly(sock, 8)
        if header is None:
            return None
        _, status, length = struct.unpack(">BBH", header[:4])
        body = recv_exactly(sock, length - 8)
        if body is None:
            return None
        payload += body
        if status & 1:
            return payload


def varchar(value, length=8000):
    """An explicit VARCHAR parameter (0xA7) carrying raw bytes."""
    return tds_base.Column(type=tds_types.VarCharType(length), value=value, flags=0)


def varchar_output(length):
    return pytds.output(value=None, param_type="VARCHAR(%d)" % length)


class RawConnection:
    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=10)

    def send(self, data):
        self.sock.sendall(data)

    def reply(self):
        """The payload of one whole reply, or None when the server closed."""
        return reply(self.sock)

    def login(self):
        self.send(packet(0x12, PRELOGIN))
        assert self.reply() is not None
        self.send(packet(0x10, login7()))
        answer = self.reply()
        assert answer is not None and b"\xad" in answer
        return self

    def closed(self):
        return self.reply() is None

    def __del__(self):
        self.sock.close()


def run_clients(client, count, timeout=None):
    """Calls client(n) for each n below `count`, all at once, each in a thread
    of its own, and returns what went wrong: the failures each call returns
    (an iterable, or None) and, as (n, repr), any exception it raised."""
    failures = []

    def run(n):
        try:
            failures.extend(client(n) or [])
        except Exception as e:  # noqa: BLE001 - any failure fails the test
            failures.append((n, repr(e)))

    threads = [threading.Thread(target=run, args=(n,)) for n in range(count)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout)
    return failures
