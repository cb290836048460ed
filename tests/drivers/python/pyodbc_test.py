"""varrowd through pyodbc and FreeTDS's ODBC driver (python3-pyodbc,
tdsodbc, unixodbc). The test registers the driver in an odbcinst.ini of its
own. Parameterised queries go as RPC to sp_prepexec; ODBC cannot bind
OUTPUT parameters through pyodbc, so outputs live in the statements."""
import glob
import hashlib
import os
import tempfile
import unittest

import common as c


def register_driver():
    folder = tempfile.mkdtemp(prefix="varrow-odbc-")
    library = glob.glob("/usr/lib/*/odbc/libtdsodbc.so")[0]
    with open(os.path.join(folder, "odbcinst.ini"), "w") as f:
        f.write("[FreeTDS]\nDriver = %s\n" % library)
    return {"ODBCSYSINI": folder, **c.freetds_environment()}


os.environ.update(register_driver())

import pyodbc  # noqa: E402 - unixODBC reads ODBCSYSINI when it loads


def connect():
    return pyodbc.connect("DRIVER={FreeTDS};SERVER=%s;PORT=%d;UID=%s;PWD=%s;TDS_Version=7.4"
                          % (c.HOST, c.PORT, c.USER, c.PASSWORD), autocommit=True, timeout=10)


def numbers(cursor):
    """The message numbers of the last statement, from FreeTDS's '... (50005)'."""
    return [int(state.rsplit("(", 1)[1].rstrip(")")) for state, _ in cursor.messages]


class PyodbcTest(unittest.TestCase):
    def setUp(self):
        self.conn = connect()
        self.cur = self.conn.cursor()

    def tearDown(self):
        self.conn.close()

    def test_parameterised_query(self):
        # A str goes as NVARCHAR unless the type is given.
        self.cur.setinputsizes([(pyodbc.SQL_VARCHAR, 3, 0)])
        self.cur.execute(c.HASH_THEN_HEX.format(p="?"), "abc")
        self.assertEqual([tuple(r) for r in self.cur.fetchall()], [(c.MD5_ABC_HEX,)])
        cur = self.conn.cursor()  # input sizes stay with a cursor
        cur.execute(c.HASH_THEN_HEX.format(p="?"), "abc")
        self.assertEqual([tuple(r) for r in cur.fetchall()],
                         [(hashlib.md5("abc".encode("utf-16-le")).hexdigest().upper(),)])

    def test_aes_round_trip(self):
        self.cur.setinputsizes([(pyodbc.SQL_VARCHAR, 64, 0)] * 3)
        # The key marker appears twice: three values.
        self.cur.execute(c.AES_ROUND_TRIP.format(p="?", k="?"), c.PLAIN, c.KEY_128, c.KEY_128)
        self.assertEqual([tuple(r) for r in self.cur.fetchall()],
                         [(c.aes_ecb_hex(c.PLAIN.encode(), c.KEY_128), c.PLAIN)])

    def test_failing_call(self):
        self.cur.execute("DECLARE @c VARCHAR(16), @rc INT; "
                         "EXEC @rc = xp_AES_Encrypt ?, ?, @c OUTPUT; SELECT @rc", "x", c.BAD_KEY)
        self.assertEqual(numbers(self.cur), [50005])
        self.assertIn(c.TEXT_50005, self.cur.messages[0][1])
        self.assertEqual([tuple(r) for r in self.cur.fetchall()], [(1,)])
        # The same call in a batch without parameters: the message comes
        # with the EXEC's own (empty) result, the SELECT is the next one.
        self.cur.execute("DECLARE @c VARCHAR(16), @rc INT; "
                         "EXEC @rc = xp_AES_Encrypt 'x', '0123', @c OUTPUT; SELECT @rc")
        self.assertEqual(numbers(self.cur), [50005])
        self.assertTrue(self.cur.nextset())
        self.assertEqual([tuple(r) for r in self.cur.fetchall()], [(1,)])
        # By name (ODBC's call escape) every parameter is an input.
        self.cur.execute("{CALL xp_hexstr(?, ?)}", "abc", "room for the hex")
        self.assertEqual(numbers(self.cur), [50008])  # OUTPUT parameter is not specified
        with self.assertRaises(pyodbc.Error) as raised:
            self.cur.execute("{CALL xp_nothing(?)}", "abc")
        self.assertIn("2812", str(raised.exception))

    def test_type_info(self):
        rows = self.cur.getTypeInfo(pyodbc.SQL_VARCHAR).fetchall()
        self.assertIn("varchar", [r[0] for r in rows])

    def test_server_cursor(self):
        # A static or keyset cursor type makes the driver open server
        # cursors: sp_cursoropen, sp_cursorfetch, sp_cursorclose. A keyset
        # cursor comes back static, with the server's message 16956.
        for cursor_type in (3, 1):  # SQL_CURSOR_STATIC, SQL_CURSOR_KEYSET_DRIVEN
            conn = connect()
            conn.set_attr(6, cursor_type)  # SQL_ATTR_CURSOR_TYPE, for every statement
            cur = conn.cursor()
            cur.execute("EXEC sp_datatype_info")
            self.assertEqual([r[0] for r in cur.fetchmany(4)],
                             ["nvarchar", "nchar", "varbinary", "char"])
            self.assertEqual([r[0] for r in cur.fetchall()],
                             ["int", "varchar", "datetime", "datetime2"])
            self.assertEqual(numbers(cur), [16956] if cursor_type == 1 else [])
            cur.execute("SELECT ? + 1 AS n, SUBSTRING(?, 2, 2) AS s", 41, "abcd")
            self.assertEqual([tuple(r) for r in cur.fetchall()], [(42, "bc")])
            conn.close()

    def test_catalog_functions(self):
        procedures = [tuple(r)[:3] for r in self.cur.procedures()]
        self.assertEqual(procedures, [("master", "dbo", name + ";1") for name in
                                      ("xp_AES_Encrypt", "xp_AES_Decrypt", "xp_MD5_Encrypt",
                                       "xp_SHA1_Encrypt", "xp_hexstr")])
        columns = [(r.column_name, r.column_type, r.type_name)
                   for r in self.cur.procedureColumns(procedure="xp_AES_Encrypt")]
        self.assertEqual(columns, [("@RETURN_VALUE", 5, "int"), ("@input", 1, "varchar"),
                                   ("@key", 1, "varchar"), ("@output", 2, "varchar")])
        self.assertEqual(self.cur.tables().fetchall(), [])

    def test_plain_batch(self):
        self.cur.execute("SELECT 1 AS one")
        self.assertEqual([tuple(r) for r in self.cur.fetchall()], [(1,)])
        self.cur.execute("DECLARE @h VARCHAR(10); EXEC xp_hexstr 'hi', @h OUTPUT; SELECT @h AS h")
        self.assertEqual([tuple(r) for r in self.cur.fetchall()], [("6869",)])


if __name__ == "__main__":
    unittest.main(verbosity=2)
