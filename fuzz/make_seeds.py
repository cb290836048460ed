#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets (run from the fuzz folder with
Debian's python3, whose pytds the TDS test helpers import)."""
import os, struct

PROCS = ["xp_AES_Encrypt", "xp_AES_Decrypt", "xp_MD5_Encrypt", "xp_SHA1_Encrypt", "xp_hexstr"]
TYPE = {"varchar": 2, "char": 3, "nvarchar": 4, "nchar": 5, "int": 7, "varbinary": 8}

def param(type_, declared, value=None, output=False, flags=0):
    f = flags | (1 if output else 0) | (2 if value is None else 0)
    if value is not None and len(value) >= 300:
        f |= 0x10
    out = bytes([TYPE[type_]]) + struct.pack("<H", declared) + bytes([f])
    if value is not None:
        out += struct.pack("<H", len(value)) + value
    return out

def call(proc, params, flags=0):
    return bytes([PROCS.index(proc), len(params), flags]) + b"".join(params)

def write(folder, name, data):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)

key = b"000102030405060708090a0b0c0d0e0f"
d = "corpus/procedure_fuzzer"
write(d, "hexstr", call("xp_hexstr", [param("varchar", 8000, b"AB\n\xff"), param("varchar", 10, output=True)]))
write(d, "hexstr_nchar_out", call("xp_hexstr", [param("varchar", 100, b"abc"), param("nchar", 6, output=True)]))
write(d, "md5", call("xp_MD5_Encrypt", [param("varchar", 100, b"abc"), param("varchar", 16, output=True)]))
write(d, "sha1_null", call("xp_SHA1_Encrypt", [param("varchar", 100), param("char", 1, output=True)]))
write(d, "aes_enc", call("xp_AES_Encrypt", [param("varchar", 100, b"hello"), param("varchar", 32, key), param("varchar", 16, output=True)]))
write(d, "aes_enc_default", call("xp_AES_Encrypt", [param("nvarchar", 100, b"h\x00i\x00"), param("varchar", 32), param("nchar", 8000, output=True)]))
write(d, "aes_dec", call("xp_AES_Decrypt", [param("varchar", 100, bytes(range(32))), param("varchar", 32, key), param("varchar", 32, output=True)]))
write(d, "aes_dec_refused", call("xp_AES_Decrypt", [param("varchar", 100, bytes(16)), param("varchar", 32), param("varchar", 32, output=True)], flags=1))
write(d, "fail_copy", call("xp_AES_Encrypt", [param("varchar", 100, b"x"), param("varchar", 32, key, flags=8), param("varchar", 16, output=True)]))
write(d, "wrong_count", call("xp_hexstr", [param("varchar", 1, b"x")]))
write(d, "long_input", call("xp_MD5_Encrypt", [param("varchar", 8000, b"q" * 8000), param("varchar", 16, output=True)]))
for name in ["k128", "k192", "k256", "u128", "bad", "empty", "folder", "fifo", "outside", "../k128", "missing"]:
    write(d, "keyfile_" + name.replace("../", "up_"), call("xp_AES_Encrypt", [param("varchar", 100, b"hello"), param("varchar", 100, b"KeyFile=" + name.encode()), param("varchar", 16, output=True)]))
write(d, "int_output", call("xp_SHA1_Encrypt", [param("varchar", 8000, b"q"), param("int", 4, output=True)]))

d = "corpus/key_file_fuzzer"
write(d, "text_crlf", key + b"\r\n")
write(d, "text_ctrl_z", key + b"\x1a" + key)
write(d, "utf16", b"\xff\xfe" + "".join(c + "\0" for c in key.decode()).encode() + b"\r\0\n\0")
write(d, "utf16_bom_only", b"\xff\xfe")
write(d, "utf16_nonlatin", b"\xff\xfe" + "\u4e2d\u20ac".encode("utf-16-le"))
write(d, "long", b"a" * 300)
write(d, "empty", b"")

d = "corpus/batch_fuzzer"
write(d, "md5_hex", b"DECLARE @d VARCHAR(16), @h VARCHAR(32); EXEC xp_MD5_Encrypt 'abc', @d OUTPUT; EXEC xp_hexstr @d, @h OUTPUT; SELECT @h")
write(d, "aes_round_trip", b"DECLARE @c VARCHAR(100), @p VARCHAR(100), @rc INT\nEXEC @rc = master.dbo.xp_AES_Encrypt N'text', NULL, @c OUTPUT\nEXEC xp_AES_Decrypt @c, NULL, @p OUTPUT\nSELECT @p AS p, CAST(@c AS VARBINARY(100)) c, @rc\nGO\nPRINT 'x'")
write(d, "session", b"SET ANSI_NULLS ON; USE [master]; BEGIN TRAN; COMMIT TRAN; SELECT CONVERT(VARBINARY(4), 258), -5, 0xABC /* c */ -- d\n")
write(d, "errors", b"DECLARE @x INT = 'a'\nSELECT @y\nEXEC nothing\nDECLARE @v NCHAR(4000), @w VARCHAR(MAX)")
write(d, "expressions", b"SELECT 1 + 2 * -3 % 4, x = 'a' + N'b' + CAST(0x41 AS VARCHAR), ~5 & 7 | 8 ^ 1, 2147483647 + 1\nSELECT 1 / 0 WHERE 1 = 1 AND NOT (2 <= 1 OR NULL IS NULL) AND 3 BETWEEN 1 AND 4 AND 'a' IN ('a', 'b')")
write(d, "case_functions", b"SELECT CASE WHEN 1 <> 2 THEN 'y' ELSE 'n' END, CASE 2 WHEN 1 THEN 'a' END, IIF(1 !< 2, 1, 0), ISNULL(NULL, 1), COALESCE(NULL, N'c'), NULLIF(1, 1)\nSELECT LEN('ab '), LEFT('abc', 2), RIGHT('abc', -1), SUBSTRING(N'abc', 0, 2), CHARINDEX('b', 'abc', 1), REVERSE('ab'), UPPER('a'), LOWER('A'), LTRIM(' a'), RTRIM('a '), TRIM(' a '), REPLACE('aa', 'a', 'bb'), REPLICATE('ab', 3), CONCAT(1, NULL, 'x'), STUFF('abc', 2, 1, 'X'), SPACE(2), STR(12, 5), NO_SUCH(1)")
write(d, "session_functions", b"SELECT DB_NAME(), SCHEMA_NAME(), USER_NAME(), SUSER_SNAME(), ORIGINAL_LOGIN(), CURRENT_USER, SESSION_USER, SYSTEM_USER, APP_NAME(), HOST_NAME(), @@LANGUAGE, @@OPTIONS, @@LOCK_TIMEOUT, @@MICROSOFTVERSION, SERVERPROPERTY('EngineEdition'), DATABASEPROPERTYEX('master', 'Collation')\nSELECT GETDATE(), SYSUTCDATETIME(), CURRENT_TIMESTAMP, CONVERT(VARCHAR(30), CAST('2024-01-02T03:04:05.5' AS DATETIME2), 126), CAST('20240229' AS DATETIME) + 1")
write(d, "select_assign", b"DECLARE @v INT = 1, @d DATETIME2(3); SELECT @v = @v + 1, @d = SYSDATETIME() WHERE @v > 0; SELECT @v = 1, 2")
write(d, "catalog", b"SET TRANSACTION ISOLATION LEVEL SNAPSHOT; SELECT s.transaction_isolation_level FROM sys.dm_exec_sessions AS s WHERE s.session_id = @@SPID\nSELECT name FROM sys.system_views WHERE name IN ('dm_exec_sessions'); SELECT 1 FROM sys.tables\nEXEC sp_stored_procedures 'xp%'; EXEC sp_sproc_columns @procedure_name = 'xp_hexstr'; EXEC sp_tables; sp_server_info 1")

def tds_packet(kind, payload, status=1):
    return struct.pack(">BBHHBB", kind, status, len(payload) + 8, 0, 1, 0) + payload

def ucs2(text):
    return text.encode("utf-16-le")

all_headers = struct.pack("<IIHQI", 22, 18, 2, 0, 1)
def rpc(name, params, headers=all_headers):
    body = headers + struct.pack("<H", len(name)) + ucs2(name) + b"\0\0"
    for pname, status, typeinfo, value in params:
        body += bytes([len(pname)]) + ucs2(pname) + bytes([status]) + typeinfo + value
    return body
collation = b"\x09\x04\xd0\x00\x34"
def varchar_param(value, maxlen=8000, output=False):
    ti = b"\xa7" + struct.pack("<H", maxlen) + collation
    v = b"\xff\xff" if value is None else struct.pack("<H", len(value)) + value
    return ("@p", 1 if output else 0, ti, v)

d = "corpus/tds_fuzzer"
write(d, "rpc_hexstr", b"\x01" + tds_packet(3, rpc("xp_hexstr", [varchar_param(b"abc"), varchar_param(None, 100, True)])))
write(d, "rpc_aes_legacy", b"\x01" + tds_packet(3, rpc("master..xp_AES_Encrypt", [("", 0, b"\x27\x10", b"\x03abc"), varchar_param(None), varchar_param(None, 64, True)])))
write(d, "rpc_plp", b"\x01" + tds_packet(3, rpc("xp_MD5_Encrypt", [("", 0, b"\xe7\xff\xff" + collation, struct.pack("<QI", 4, 4) + ucs2("ab") + b"\0\0\0\0"), ("@o", 1, b"\x26\x04", b"\x00")])))
# TDS 7.1 (first byte bit 1): no ALL_HEADERS, 0x80 between batched requests; from 7.2, 0xFF.
write(d, "rpc_batched_7_1", b"\x03" + tds_packet(3, rpc("xp_hexstr", [varchar_param(b"ab"), varchar_param(None, 10, True)], b"") + b"\x80" + rpc("xp_MD5_Encrypt", [varchar_param(b"abc"), varchar_param(None, 16, True)], b"")))
write(d, "rpc_batched", b"\x01" + tds_packet(3, rpc("xp_hexstr", [varchar_param(b"ab"), varchar_param(None, 10, True)]) + b"\xff" + rpc("xp_SHA1_Encrypt", [varchar_param(b"abc"), varchar_param(None, 20, True)], b"")))
write(d, "batch", b"\x01" + tds_packet(1, all_headers + ucs2("DECLARE @h VARCHAR(10); EXEC xp_hexstr 'ab', @h OUTPUT; SELECT @h, 1")))
def int_param(value, output=False):
    return ("", 1 if output else 0, b"\x26\x04", b"\x00" if value is None else b"\x04" + struct.pack("<i", value))
def ntext_param(text):
    v = ucs2(text)
    return ("", 0, b"\x63\xff\xff\xff\x7f" + collation, struct.pack("<I", len(v)) + v)
def rpc_id(proc_id, params):
    body = all_headers + b"\xff\xff" + struct.pack("<H", proc_id) + b"\0\0"
    for pname, status, typeinfo, value in params:
        body += bytes([len(pname)]) + ucs2(pname) + bytes([status]) + typeinfo + value
    return body
# A server cursor opened, fetched, closed; then one prepared and executed.
write(d, "cursor", b"\x01" + tds_packet(3, rpc_id(2, [int_param(None, True), ntext_param("EXEC sp_datatype_info"), int_param(1, True), int_param(4, True), int_param(None, True)]) + b"\xff" + rpc_id(7, [int_param(180150001), int_param(0x10), int_param(-2), int_param(3)]) + b"\xff" + rpc_id(9, [int_param(180150001)])))
write(d, "cursor_prepared", b"\x01" + tds_packet(3, rpc_id(5, [int_param(None, True), int_param(None, True), ntext_param("@n int"), ntext_param("SELECT @n + 1"), int_param(1), int_param(8), int_param(1), int_param(None, True), int_param(41)]) + b"\xff" + rpc_id(4, [int_param(1), int_param(None, True)]) + b"\xff" + rpc_id(6, [int_param(1)])))
write(d, "catalog_rpc", b"\x01" + tds_packet(3, rpc("..sp_sproc_columns", [("@procedure_name", 0) + varchar_param(b"xp_AES%")[2:]])))
write(d, "attention_tm", b"\x01" + tds_packet(6, b"") + tds_packet(14, all_headers + b"\x05\x00\x00"))
write(d, "prelogin_login", b"\x00" + tds_packet(0x12, b"\x00\x00\x06\x00\x06\xff" + bytes(6)) + tds_packet(0x10, bytes(94)))

# The start of encrypted connections: the first byte is the fuzz target's
# setting (bit 0 required, bit 1 PRELOGIN first, bit 2 wrapped in PRELOGIN
# packets, bits 4-7 piece size), then real ClientHellos made by Python's ssl.
import ssl


def client_hello(alpn=None, max_version=None):
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    ctx.check_hostname = False
    ctx.verify_mode = ssl.CERT_NONE
    if alpn:
        ctx.set_alpn_protocols([alpn])
    if max_version:
        ctx.maximum_version = max_version
    incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
    tls = ctx.wrap_bio(incoming, outgoing, server_hostname="localhost")
    try:
        tls.do_handshake()
    except ssl.SSLWantReadError:
        pass
    return outgoing.read()


def tds_packet(kind, payload):
    return struct.pack(">BBHHBB", kind, 1, len(payload) + 8, 0, 1, 0) + payload


d = "corpus/tls_fuzzer"
write(d, "tds7_tls12_required", b"\x07" + client_hello(max_version=ssl.TLSVersion.TLSv1_2))
write(d, "tds7_tls13_optional", b"\x06" + client_hello())
write(d, "tds7_in_small_pieces", b"\x37" + client_hello())
write(d, "tds8_strict", b"\x01" + client_hello(alpn="tds/8.0"))
write(d, "tds8_other_alpn", b"\x21" + client_hello(alpn="h2"))
write(d, "prelogin_off_then_hello", b"\x00" + tds_packet(0x12, b"\x01\x00\x06\x00\x01\xff\x00")
      + tds_packet(0x12, client_hello()))
write(d, "not_sup_then_clear_login", b"\x01" + tds_packet(0x12, b"\x01\x00\x06\x00\x01\xff\x02")
      + tds_packet(0x10, b"\x00" * 94))

# sp_executesql and the prepare family, by ProcID and by name.
d = "corpus/tds_fuzzer"
def rpc_id(proc_id, params):
    body = all_headers + b"\xff\xff" + struct.pack("<HH", proc_id, 0)
    for pname, status, typeinfo, value in params:
        body += bytes([len(pname)]) + ucs2(pname) + bytes([status]) + typeinfo + value
    return body
def nvarchar_param(text, name=""):
    data = ucs2(text)
    return (name, 0, b"\xe7\x40\x1f" + collation, struct.pack("<H", len(data)) + data)
def int_param(value, output=False, name=""):
    return (name, 1 if output else 0, b"\x26\x04", b"\x00" if value is None else b"\x04" + struct.pack("<i", value))
stmt = "DECLARE @d VARCHAR(16); EXEC xp_MD5_Encrypt @P1, @d OUTPUT; EXEC xp_hexstr @d, @h OUTPUT; SELECT @h"
decl = "@P1 varchar(8000), @h varchar(32) OUTPUT"
write(d, "executesql", b"\x01" + tds_packet(3, rpc_id(10, [nvarchar_param(stmt), nvarchar_param(decl), varchar_param(b"abc"), varchar_param(None, 32, True)])))
write(d, "executesql_named", b"\x01" + tds_packet(3, rpc("sys.SP_EXECUTESQL", [nvarchar_param("SELECT @b, @a"), nvarchar_param("@a int, @b nvarchar(max) OUT"), ("@b", 0, b"\xe7\x08\x00" + collation, b"\x02\x00h\x00"), int_param(7, name="@a")])))
write(d, "executesql_bad_decl", b"\x01" + tds_packet(3, rpc_id(10, [nvarchar_param("SELECT 1"), nvarchar_param("@a varchar(10, @b")])))
write(d, "prepare_execute_unprepare", b"\x01" + tds_packet(3, rpc_id(11, [int_param(None, True), nvarchar_param("@P1 varchar(10)"), nvarchar_param("SELECT @P1"), int_param(1)]))
      + tds_packet(3, rpc_id(12, [int_param(1), varchar_param(b"x")])) + tds_packet(3, rpc_id(15, [int_param(1)])) + tds_packet(3, rpc_id(12, [int_param(1)])))
write(d, "prepexec", b"\x01" + tds_packet(3, rpc_id(13, [int_param(None, True), nvarchar_param(decl), nvarchar_param(stmt), varchar_param(b"abc"), varchar_param(None, 32, True)])))

# Hostile logins and the limits of prepared statements: a user name that
# would forge a log line, a LOGIN7 at the size its offsets can reach, a
# PRELOGIN past its bound, and declaration lists at and past 2100.
import sys
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "tds"))
from tds_wire import login7

prelogin = tds_packet(0x12, b"\xff")
d = "corpus/tds_fuzzer"
write(d, "login_forged_name", b"\x00" + prelogin + tds_packet(0x10, login7("sa\r\nvarrowd: login succeeded \x1b[2J\u202e\u2028", "x")))
write(d, "login_long_name", b"\x00" + prelogin + tds_packet(0x10, login7("u" * 4000, "p" * 128)))
big = b"\xff" + bytes(70000)
pieces = [big[i:i + 4088] for i in range(0, len(big), 4088)]
write(d, "prelogin_oversized", b"\x00" + b"".join(
    struct.pack(">BBHHBB", 0x12, int(i == len(pieces) - 1), len(p) + 8, 0, 1, 0) + p for i, p in enumerate(pieces)))
many = ", ".join("@p%d int" % i for i in range(2101))
write(d, "prepare_2101_declarations", b"\x01" + tds_packet(3, rpc_id(11, [int_param(None, True), nvarchar_param(many), nvarchar_param("SELECT 1"), int_param(1)])))
write(d, "executesql_keyfile_relative", b"\x01" + tds_packet(3, rpc_id(10, [nvarchar_param("EXEC xp_AES_Encrypt 'x', 'keyfile=k128', @c OUTPUT"), nvarchar_param("@c varchar(32) OUTPUT"), varchar_param(None, 32, True)])))
write(d, "rpc_keyfile_proc_fd", b"\x01" + tds_packet(3, rpc("xp_AES_Encrypt", [varchar_param(b"x"), varchar_param(b"keyfile=/proc/self/fd/0"), varchar_param(None, 32, True)])))

d = "corpus/tls_fuzzer"
write(d, "tds8_http_alpn_only", b"\x01" + client_hello(alpn="http/1.1"))
