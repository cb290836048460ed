"""What the Python driver tests share: the connection settings run_driver.py
passes in the environment, FreeTDS configuration for them, and the values
every driver must see (computed here independently of varrowd)."""
import hashlib
import os
import tempfile

from cryptography.hazmat.primitives import padding
from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes

HOST = os.environ.get("VARROW_TEST_HOST", "127.0.0.1")
PORT = int(os.environ["VARROW_TEST_PORT"])
USER = os.environ.get("VARROW_TEST_USER", "varrow")
PASSWORD = os.environ.get("VARROW_TEST_PASSWORD", "")
ENCRYPTION = os.environ.get("VARROW_TEST_ENCRYPTION", "off")  # off, require, strict
CAFILE = os.environ.get("VARROW_TEST_CAFILE", "")

KEY_128 = "000102030405060708090A0B0C0D0E0F"
PLAIN = "The quick brown fox"
MD5_ABC_HEX = hashlib.md5(b"abc").hexdigest().upper()
BAD_KEY = "0123"
TEXT_50005 = ("Error: invalid key param, key should be 32/48/64 bytes char that "
              "contains hex values")

# The statement every driver runs with 'abc' bound to its first parameter
# marker (written here as {p}); @d and @h live in the statement.
HASH_THEN_HEX = ("DECLARE @d VARCHAR(16), @h VARCHAR(32); "
                 "EXEC xp_MD5_Encrypt {p}, @d OUTPUT; EXEC xp_hexstr @d, @h OUTPUT; SELECT @h")
# An AES round trip inside one statement (plain text and key bound): the
# cipher text as hex and the decrypted text.
AES_ROUND_TRIP = ("DECLARE @c VARCHAR(64), @h VARCHAR(128), @p VARCHAR(64); "
                  "EXEC xp_AES_Encrypt {p}, {k}, @c OUTPUT; EXEC xp_hexstr @c, @h OUTPUT; "
                  "EXEC xp_AES_Decrypt @c, {k}, @p OUTPUT; SELECT @h, @p")


def aes_ecb_hex(plain: bytes, key_hex: str) -> str:
    """AES-ECB with PKCS#7 padding by the cryptography package, as hex."""
    padder = padding.PKCS7(128).padder()
    data = padder.update(plain) + padder.finalize()
    encryptor = Cipher(algorithms.AES(bytes.fromhex(key_hex)), modes.ECB()).encryptor()
    return (encryptor.update(data) + encryptor.finalize()).hex().upper()


def freetds_environment():
    """Environment for a FreeTDS client (tsql, pymssql, the ODBC driver):
    a freetds.conf of the test's own carrying the encryption settings."""
    folder = tempfile.mkdtemp(prefix="varrow-freetds-")
    lines = ["[global]", "    tds version = 7.4"]
    if ENCRYPTION != "off":
        lines.append("    encryption = require")
        if CAFILE:
            lines.append("    ca file = " + CAFILE)
    path = os.path.join(folder, "freetds.conf")
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")
    return {"FREETDSCONF": path}
