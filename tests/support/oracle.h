// Independent implementations the tests compare against: OpenSSL's libcrypto
// on Linux, Windows' own CNG (bcrypt.dll) in the Windows build. Never part of
// the library.
#pragma once

#include "support/hex.h"

namespace varrow::test {

// AES-ECB over `data` with a 16, 24 or 32-byte key; PKCS#7 padding added on
// encryption (or checked on decryption) when `padding` is set.
Bytes oracle_aes_ecb(bool encrypt, const Bytes& key, const Bytes& data, bool padding);

Bytes oracle_md5(const Bytes& message);
Bytes oracle_sha1(const Bytes& message);

}  // namespace varrow::test
