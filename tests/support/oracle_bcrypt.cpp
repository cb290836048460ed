#include <windows.h>
// bcrypt.h needs the types windows.h defines.
#include <bcrypt.h>

#include "support/oracle.h"

namespace varrow::test {
namespace {

Bytes digest(LPCWSTR algorithm, const Bytes& message) {
  BCRYPT_ALG_HANDLE alg = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  BCryptOpenAlgorithmProvider(&alg, algorithm, nullptr, 0);
  DWORD size = 0, got = 0;
  BCryptGetProperty(alg, BCRYPT_HASH_LENGTH, reinterpret_cast<PUCHAR>(&size), sizeof size, &got, 0);
  Bytes out(size);
  BCryptCreateHash(alg, &hash, nullptr, 0, nullptr, 0, 0);
  BCryptHashData(hash, const_cast<PUCHAR>(message.data()), static_cast<ULONG>(message.size()), 0);
  BCryptFinishHash(hash, out.data(), size, 0);
  BCryptDestroyHash(hash);
  BCryptCloseAlgorithmProvider(alg, 0);
  return out;
}

}  // namespace

Bytes oracle_aes_ecb(bool encrypt, const Bytes& key, const Bytes& data, bool padding) {
  BCRYPT_ALG_HANDLE alg = nullptr;
  BCRYPT_KEY_HANDLE handle = nullptr;
  BCryptOpenAlgorithmProvider(&alg, BCRYPT_AES_ALGORITHM, nullptr, 0);
  BCryptSetProperty(alg, BCRYPT_CHAINING_MODE,
                    reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(BCRYPT_CHAIN_MODE_ECB)),
                    sizeof(BCRYPT_CHAIN_MODE_ECB), 0);
  BCryptGenerateSymmetricKey(alg, &handle, nullptr, 0, const_cast<PUCHAR>(key.data()),
                             static_cast<ULONG>(key.size()), 0);
  Bytes out(data.size() + 16);
  ULONG length = 0;
  const ULONG flags = padding ? BCRYPT_BLOCK_PADDING : 0;
  auto* in = const_cast<PUCHAR>(data.data());
  const auto in_length = static_cast<ULONG>(data.size());
  if (encrypt) {
    BCryptEncrypt(handle, in, in_length, nullptr, nullptr, 0, out.data(),
                  static_cast<ULONG>(out.size()), &length, flags);
  } else {
    BCryptDecrypt(handle, in, in_length, nullptr, nullptr, 0, out.data(),
                  static_cast<ULONG>(out.size()), &length, flags);
  }
  out.resize(length);
  BCryptDestroyKey(handle);
  BCryptCloseAlgorithmProvider(alg, 0);
  return out;
}

Bytes oracle_md5(const Bytes& message) {
  return digest(BCRYPT_MD5_ALGORITHM, message);
}
Bytes oracle_sha1(const Bytes& message) {
  return digest(BCRYPT_SHA1_ALGORITHM, message);
}

}  // namespace varrow::test
