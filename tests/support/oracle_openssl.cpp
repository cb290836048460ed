#include <openssl/evp.h>

#include "support/oracle.h"

namespace varrow::test {
namespace {

Bytes digest(const EVP_MD* md, const Bytes& message) {
  Bytes out(EVP_MAX_MD_SIZE);
  unsigned int length = 0;
  EVP_Digest(message.data(), message.size(), out.data(), &length, md, nullptr);
  out.resize(length);
  return out;
}

}  // namespace

Bytes oracle_aes_ecb(bool encrypt, const Bytes& key, const Bytes& data, bool padding) {
  const EVP_CIPHER* cipher = key.size() == 16   ? EVP_aes_128_ecb()
                             : key.size() == 24 ? EVP_aes_192_ecb()
                                                : EVP_aes_256_ecb();
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_CipherInit_ex(ctx, cipher, nullptr, key.data(), nullptr, encrypt ? 1 : 0);
  EVP_CIPHER_CTX_set_padding(ctx, padding ? 1 : 0);
  Bytes out(data.size() + 16);
  int length = 0, final_length = 0;
  EVP_CipherUpdate(ctx, out.data(), &length, data.data(), static_cast<int>(data.size()));
  EVP_CipherFinal_ex(ctx, out.data() + length, &final_length);
  EVP_CIPHER_CTX_free(ctx);
  out.resize(static_cast<std::size_t>(length + final_length));
  return out;
}

Bytes oracle_md5(const Bytes& message) {
  return digest(EVP_md5(), message);
}
Bytes oracle_sha1(const Bytes& message) {
  return digest(EVP_sha1(), message);
}

}  // namespace varrow::test
