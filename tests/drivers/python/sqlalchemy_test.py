"""varrowd through SQLAlchemy 1.4 (python3-sqlalchemy) over both of its
FreeTDS dialects, mssql+pymssql and mssql+pyodbc: the engine's own probes on
first connect (schema_name(), the version, the isolation level), text()
with bound parameters, a procedure with an OUTPUT through the DBAPI
connection, and pre-ping."""
import hashlib
import unittest
import urllib.parse

import common as c
import pyodbc_test  # registers the ODBC driver, as for pyodbc

import pymssql  # noqa: E402 - after FREETDSCONF is set
import sqlalchemy as sa  # noqa: E402

ODBC = ("DRIVER={FreeTDS};SERVER=%s;PORT=%d;UID=%s;PWD=%s;TDS_Version=7.4"
        % (c.HOST, c.PORT, c.USER, c.PASSWORD))
URLS = {
    "pymssql": "mssql+pymssql://%s:%s@%s:%d/master" % (
        urllib.parse.quote(c.USER), urllib.parse.quote(c.PASSWORD), c.HOST, c.PORT),
    "pyodbc": "mssql+pyodbc:///?odbc_connect=" + urllib.parse.quote(ODBC),
}


class SqlAlchemyTest(unittest.TestCase):
    def engines(self):
        for dialect, url in URLS.items():
            with self.subTest(dialect=dialect):
                engine = sa.create_engine(url, pool_pre_ping=True)
                try:
                    yield dialect, engine
                finally:
                    engine.dispose()

    def test_connect_probes_and_text_with_parameters(self):
        for dialect, engine in self.engines():
            with engine.connect() as conn:
                self.assertEqual(engine.dialect.default_schema_name, "dbo")
                self.assertEqual(engine.dialect.server_version_info[:2], (11, 0))
                self.assertEqual(conn.execute(sa.text("SELECT 1+1 AS result")).scalar(), 2)
                self.assertEqual(conn.get_isolation_level(), "READ COMMITTED")
                # Both dialects send a str as NVARCHAR: the digest is of UTF-16.
                hexed = conn.execute(sa.text(c.HASH_THEN_HEX.format(p=":p")), {"p": "abc"})
                self.assertEqual(hexed.scalar(),
                                 hashlib.md5("abc".encode("utf-16-le")).hexdigest().upper())
                row = conn.execute(sa.text("SELECT UPPER(:a) AS u, :n * 2 AS n"),
                                   {"a": "abc", "n": 21}).one()
                self.assertEqual((row.u, row.n), ("ABC", 42))
            with engine.connect().execution_options(isolation_level="SERIALIZABLE") as conn:
                self.assertEqual(conn.get_isolation_level(), "SERIALIZABLE")

    def test_pre_ping_reuses_the_pooled_connection(self):
        for dialect, engine in self.engines():
            for _ in range(2):  # the second checkout pings the pooled connection first
                with engine.connect() as conn:
                    self.assertEqual(conn.execute(sa.text("SELECT @@SPID")).scalar() > 0, True)
            self.assertEqual(engine.pool.checkedin(), 1)

    def test_procedure_with_output_through_the_dbapi_connection(self):
        engine = sa.create_engine(URLS["pymssql"])
        raw = engine.raw_connection()
        try:
            cursor = raw.cursor()
            # pymssql sends a str as NVARCHAR, the digest comes back as UTF-16.
            result = cursor.callproc("xp_MD5_Encrypt", ("abc", pymssql.output(str, " " * 8)))
            self.assertEqual(result[1].encode("utf-16-le"),
                             hashlib.md5("abc".encode("utf-16-le")).digest())
        finally:
            raw.close()
            engine.dispose()


if __name__ == "__main__":
    unittest.main(verbosity=2)
