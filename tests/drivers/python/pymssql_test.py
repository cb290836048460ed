"""varrowd through pymssql (python3-pymssql, FreeTDS): RPC calls through
_mssql, parameterised queries (pymssql puts the values into the text and
sends a batch), batches."""
import hashlib
import os
import unittest

import common as c

os.environ.update(c.freetds_environment())

import pymssql  # noqa: E402 - FreeTDS reads FREETDSCONF when it starts
from pymssql import _mssql  # noqa: E402


def connect():
    return pymssql.connect(server=c.HOST, port=c.PORT, user=c.USER, password=c.PASSWORD,
                           login_timeout=10)


class PymssqlTest(unittest.TestCase):
    def setUp(self):
        self.conn = connect()  # sends its SET batch, then BEGIN TRAN
        self.messages = []
        self.conn._conn.set_msghandler(lambda *m: self.messages.append(m))

    def tearDown(self):
        _mssql.min_error_severity = 6
        self.conn.close()

    def procedure(self, name, *params):
        proc = self.conn._conn.init_procedure(name)
        for i, (value, kind, output, length) in enumerate(params):
            proc.bind(value, kind, "@p%d" % i, output=output, max_length=length)
        return proc

    def test_rpc_with_outputs(self):
        proc = self.procedure("xp_hexstr", ("abc", _mssql.SQLVARCHAR, False, -1),
                              (None, _mssql.SQLVARCHAR, True, 8000))
        self.assertEqual(proc.execute(), 0)
        self.assertEqual(proc.parameters["@p1"], "610062006300")  # sent as NVARCHAR
        proc = self.procedure("master..xp_MD5_Encrypt", ("abc", _mssql.SQLCHAR, False, -1),
                              (None, _mssql.SQLCHAR, True, 16))
        self.assertEqual(proc.execute(), 0)
        # FreeTDS turns a VARCHAR OUTPUT of 4000 bytes or less into NVARCHAR,
        # which xp_hexstr refuses (50012).
        proc = self.procedure("xp_hexstr", ("abc", _mssql.SQLVARCHAR, False, -1),
                              (None, _mssql.SQLVARCHAR, True, 10))
        with self.assertRaises(_mssql.MSSQLDatabaseException) as raised:
            proc.execute()
        self.assertEqual(raised.exception.number, 50012)

    def test_parameterised_query(self):
        cur = self.conn.cursor()
        # bytes are written as a VARCHAR literal, str as an NVARCHAR one.
        cur.execute(c.HASH_THEN_HEX.format(p="%s"), (b"abc",))
        self.assertEqual(cur.fetchall(), [(c.MD5_ABC_HEX,)])
        cur.execute(c.HASH_THEN_HEX.format(p="%s"), ("abc",))
        self.assertEqual(cur.fetchall(),
                         [(hashlib.md5("abc".encode("utf-16-le")).hexdigest().upper(),)])

    def test_aes_round_trip(self):
        cur = self.conn.cursor()
        cur.execute(c.AES_ROUND_TRIP.format(p="%s", k="%s"), (c.PLAIN.encode(), c.KEY_128.encode(),
                                                          c.KEY_128.encode()))
        self.assertEqual(cur.fetchall(), [(c.aes_ecb_hex(c.PLAIN.encode(), c.KEY_128), c.PLAIN)])

    def test_failing_call(self):
        params = (("x", _mssql.SQLVARCHAR, False, -1), (c.BAD_KEY, _mssql.SQLVARCHAR, False, -1),
                  (None, _mssql.SQLVARCHAR, True, 8000))
        # pymssql raises for every message of severity 6 or more (its
        # min_error_severity): the message arrives, the status does not.
        with self.assertRaises(_mssql.MSSQLDatabaseException) as raised:
            self.procedure("xp_AES_Encrypt", *params).execute()
        self.assertEqual((raised.exception.number, raised.exception.severity), (50005, 10))
        self.assertEqual(raised.exception.text.decode(), c.TEXT_50005)
        # Raising it above 10, as SQL Server ranks messages, gives the status
        # and the message (to the message handler).
        _mssql.min_error_severity = 11
        self.messages.clear()
        proc = self.procedure("xp_AES_Encrypt", *params)
        self.assertEqual(proc.execute(), 1)
        self.assertIn(proc.parameters["@p2"], (None, ""))  # pymssql reads NULL as ''
        self.assertEqual([(m[1], m[5].decode()) for m in self.messages], [(10, c.TEXT_50005)])
        cur = self.conn.cursor()
        cur.execute("DECLARE @c VARCHAR(16), @rc INT; "
                    "EXEC @rc = xp_AES_Encrypt 'x', '0123', @c OUTPUT; SELECT @rc")
        self.assertEqual(cur.fetchall(), [(1,)])

    def test_plain_batch(self):
        cur = self.conn.cursor()
        cur.execute("SELECT 1")
        self.assertEqual(cur.fetchall(), [(1,)])
        cur.execute("DECLARE @h VARCHAR(10); EXEC xp_hexstr 'hi', @h OUTPUT; SELECT @h AS h")
        self.assertEqual(cur.fetchall(), [("6869",)])
        self.conn.commit()


if __name__ == "__main__":
    unittest.main(verbosity=2)
