"""varrowd through pytds (python3-tds): procedure calls by RPC with OUTPUT
parameters, parameterised queries (RPC to sp_executesql), batches."""
import datetime
import hashlib
import os
import sys
import tempfile
import unittest

import pytds
from pytds import tds_base

import common as c

# The helpers the tests of varrowd itself use, beside them in tests/tds.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tds"))
from tds_wire import run_clients, varchar, varchar_output  # noqa: E402

KEYS = {
    128: "000102030405060708090A0B0C0D0E0F",
    192: "000102030405060708090A0B0C0D0E0F1011121314151617",
    256: "603DEB1015CA71BE2B73AEF0857D77811F352C073B6108D72D9810A30914DFF4",
}


def connect(**kwargs):
    if c.ENCRYPTION != "off":
        kwargs.update(cafile=c.CAFILE, validate_host=False)
    return pytds.connect(server=c.HOST, port=c.PORT, user=c.USER, password=c.PASSWORD,
                         autocommit=True, bytes_to_unicode=False, login_timeout=10, **kwargs)


def message_numbers(cursor):
    return [(e.number, e.text) for _, e in cursor.messages]


class PytdsTest(unittest.TestCase):
    def test_digests_by_rpc_equal_hashlib(self):
        with connect() as conn, conn.cursor() as cur:
            for data in [b"", b"abc", bytes(range(256)) * 31]:
                md5 = cur.callproc("xp_MD5_Encrypt", [data, varchar_output(16)])[1]
                sha1 = cur.callproc("dbo.xp_SHA1_Encrypt", [data, varchar_output(20)])[1]
                self.assertEqual(md5, hashlib.md5(data).digest())
                self.assertEqual(sha1, hashlib.sha1(data).digest())
                self.assertEqual(cur.return_value, 0)

    def test_parameterised_query(self):
        with connect() as conn, conn.cursor() as cur:
            # A VARCHAR value hashes its bytes; a plain str goes as NVARCHAR
            # and hashes its UTF-16LE bytes.
            cur.execute(c.HASH_THEN_HEX.format(p="%s"), (varchar(b"abc", 3),))
            self.assertEqual(cur.fetchall(), [(c.MD5_ABC_HEX.encode(),)])
            cur.execute(c.HASH_THEN_HEX.format(p="%(v)s"), {"v": "abc"})
            self.assertEqual(cur.fetchall(),
                             [(hashlib.md5("abc".encode("utf-16-le")).hexdigest().upper().encode(),)])

    def test_executesql_returns_outputs_and_messages(self):
        with connect() as conn, conn.cursor() as cur:
            result = cur.callproc("sp_executesql", [
                "EXEC xp_hexstr @in, @h OUTPUT; EXEC @rc = xp_AES_Encrypt 'x', '0123', @c OUTPUT",
                "@in VARCHAR(10), @h VARCHAR(20) OUTPUT, @rc INT OUTPUT, @c VARCHAR(32) OUTPUT",
                varchar(b"\x01\xff", 10), varchar_output(20),
                pytds.output(value=None, param_type="INT"), varchar_output(32)])
            self.assertEqual(result[3:6], [b"01FF", 1, None])
            self.assertIn((50005, c.TEXT_50005), message_numbers(cur))

    def test_hexstr_with_explicit_varchar_and_nvarchar(self):
        with connect() as conn, conn.cursor() as cur:
            result = cur.callproc("xp_hexstr", [varchar(b"AB\n\xff\x00", 5), varchar_output(10)])
            self.assertEqual(result[1], b"41420AFF00")
            result = cur.callproc("master.dbo.xp_hexstr", ["Az", varchar_output(100)])
            self.assertEqual(result[1], b"41007A00")  # NVARCHAR input: UTF-16LE bytes

    def test_aes_round_trip_with_each_key_size(self):
        with connect() as conn, conn.cursor() as cur:
            plain = b"The quick brown fox jumps over the lazy dog"
            for bits, key in KEYS.items():
                cipher = cur.callproc("xp_AES_Encrypt",
                                      [plain, varchar(key.encode(), 64), varchar_output(8000)])[2]
                self.assertEqual(cipher.hex().upper(), c.aes_ecb_hex(plain, key), bits)
                back = cur.callproc("xp_AES_Decrypt",
                                    [cipher, key.lower().encode(), varchar_output(8000)])[2]
                self.assertEqual(back, plain, bits)
            default = cur.callproc("xp_AES_Encrypt", [plain, None, varchar_output(100)])[2]
            self.assertEqual(
                cur.callproc("xp_AES_Decrypt", [default, None, varchar_output(100)])[2], plain)

    def test_aes_round_trip_in_a_parameterised_query(self):
        with connect() as conn, conn.cursor() as cur:
            cur.execute(c.AES_ROUND_TRIP.format(p="%s", k="%s"),
                        (varchar(c.PLAIN.encode(), 64), varchar(c.KEY_128.encode(), 64),
                         varchar(c.KEY_128.encode(), 64)))
            self.assertEqual(cur.fetchall(), [(c.aes_ecb_hex(c.PLAIN.encode(), c.KEY_128).encode(),
                                               c.PLAIN.encode())])

    def test_aes_with_a_key_file(self):
        with tempfile.NamedTemporaryFile("w", suffix=".key", delete=False) as f:
            f.write(KEYS[192] + "\r\n")
        try:
            with connect() as conn, conn.cursor() as cur:
                key_param = ("keyfile=" + f.name).encode()
                by_file = cur.callproc("xp_AES_Encrypt", [b"file", key_param, varchar_output(16)])[2]
                by_text = cur.callproc("xp_AES_Encrypt",
                                       [b"file", KEYS[192].encode(), varchar_output(16)])[2]
                self.assertEqual(by_file, by_text)
        finally:
            os.unlink(f.name)

    def test_failing_call_gives_message_and_status(self):
        with connect() as conn, conn.cursor() as cur:
            # Severity 10 is informational: no exception, the message and the
            # status tell the failure, as with SQL Server.
            result = cur.callproc("xp_AES_Encrypt", [b"x", c.BAD_KEY.encode(), varchar_output(16)])
            self.assertIsNone(result[2])
            self.assertEqual(cur.return_value, 1)
            self.assertEqual(message_numbers(cur), [(50005, c.TEXT_50005)])
            self.assertEqual(cur.messages[0][1].severity, 10)
            # The same call in a batch reads the same.
            cur.execute("DECLARE @c VARCHAR(16), @rc INT; "
                        "EXEC @rc = xp_AES_Encrypt 'x', '0123', @c OUTPUT; SELECT @rc")
            self.assertEqual(cur.fetchall(), [(1,)])
            self.assertEqual(message_numbers(cur), [(50005, c.TEXT_50005)])
            # varrowd's own errors are errors.
            with self.assertRaises(pytds.ProgrammingError) as raised:
                cur.callproc("xp_nothing", [b"x"])
            self.assertEqual(raised.exception.number, 2812)
            self.assertEqual(cur.callproc("xp_hexstr", [b"\x01", varchar_output(2)])[1], b"01")

    def test_null_input_gives_null_output(self):
        with connect() as conn, conn.cursor() as cur:
            self.assertIsNone(cur.callproc("xp_SHA1_Encrypt", [None, varchar_output(1)])[1])
            self.assertEqual(cur.return_value, 0)

    def test_plain_batch(self):
        with connect() as conn, conn.cursor() as cur:
            cur.execute("DECLARE @d VARCHAR(16), @h VARCHAR(32); "
                        "EXEC xp_MD5_Encrypt 'abc', @d OUTPUT; EXEC xp_hexstr @d, @h OUTPUT; "
                        "SELECT @h AS md5, 7 AS n, N'\u00e9' AS e")
            self.assertEqual(cur.fetchall(), [(c.MD5_ABC_HEX.encode(), 7, "\u00e9")])
            cur.execute("SET ANSI_NULLS ON; SET TEXTSIZE 2147483647; USE [master]")

    def test_each_tds_version(self):
        for version in [tds_base.TDS71, tds_base.TDS72, tds_base.TDS73, tds_base.TDS74]:
            with connect(tds_version=version, appname="probe") as conn, conn.cursor() as cur:
                result = cur.callproc("xp_hexstr", [varchar(b"\xab", 1), varchar_output(2)])
                self.assertEqual(result[1], b"AB", hex(version))
                # DATETIME2 from TDS 7.3 on, its text before; the login's names.
                cur.execute("SELECT SYSDATETIME(), APP_NAME(), SUSER_SNAME()")
                when, app, login = cur.fetchone()
                expected = datetime.datetime if version >= tds_base.TDS73 else str
                self.assertIsInstance(when, expected)
                self.assertEqual((app, login), ("probe", c.USER))
                cur.execute(c.HASH_THEN_HEX.format(p="%s"), (varchar(b"abc", 3),))
                self.assertEqual(cur.fetchall(), [(c.MD5_ABC_HEX.encode(),)], hex(version))

    def test_wrong_password_is_refused(self):
        for user, password in [(c.USER, "wrong"), ("someone", c.PASSWORD)]:
            with self.assertRaises(pytds.Error) as raised:
                kwargs = {"cafile": c.CAFILE, "validate_host": False} if c.ENCRYPTION != "off" else {}
                pytds.connect(server=c.HOST, port=c.PORT, user=user, password=password,
                              login_timeout=5, **kwargs)
            self.assertEqual(raised.exception.number, 18456)

    def test_16_concurrent_clients(self):
        # 16: as many logins from one address as varrowd lets wait at once.
        def client(n):
            inputs = [b"%d-%d" % (n, i) for i in range(100)]
            with connect() as conn, conn.cursor() as cur:
                return [(n, data) for data in inputs
                        if cur.callproc("xp_MD5_Encrypt", [data, varchar_output(16)])[1]
                        != hashlib.md5(data).digest()]

        self.assertEqual(run_clients(client, 16), [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
