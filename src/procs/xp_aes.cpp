// xp_AES_Encrypt and xp_AES_Decrypt: AES-ECB with PKCS#7 padding over the
// bytes of the input; parameters (input, key, OUTPUT).
#include <cstdint>
#include <cstring>

#include "aes/aes.h"
#include "key/hex_key.h"
#include "key/key_file.h"
#include "procs/frame.h"
#include "procs/procedures.h"

namespace varrow {
namespace {

constexpr int AES_PARAM_COUNT = 3;
constexpr int KEY_PARAM = 2;
constexpr int AES_OUTPUT_PARAM = 3;
constexpr std::uint32_t BLOCK = AES_BLOCK_SIZE;

// The key used when the key parameter is NULL: an AES-128 key.
constexpr char DEFAULT_KEY_TEXT[] = "9C2B7E41D0A35F86B1E4720C3D95A6F8";
constexpr std::uint32_t DEFAULT_KEY_TEXT_LENGTH = sizeof(DEFAULT_KEY_TEXT) - 1;

struct AesKey {
  std::uint8_t bytes[32];
  int bits;
};

bool is_valid_key_text_length(std::uint32_t length) {
  return length == 32 || length == 48 || length == 64;
}

// Settles the key from parameter 2: hexadecimal text, a key file, or the
// built-in key for NULL.
XpErrorCode read_key(SRV_PROC* srvproc, AesKey* key) {
  std::uint8_t text[KEY_TEXT_MAX] = {};
  std::uint32_t length = 0;
  const XpErrorCode code = read_input_param(srvproc, KEY_PARAM, text, &length);
  if (code == XP_ERR_PARAM_NULL) {
    std::memcpy(text, DEFAULT_KEY_TEXT, DEFAULT_KEY_TEXT_LENGTH);
    length = DEFAULT_KEY_TEXT_LENGTH;
  } else if (code != XP_OK) {
    return code;
  } else {
    if (is_keyfile_spec(text)) {
      const int loaded = load_key_file(text);
      if (loaded < 0) return XP_ERR_KEY_FILE;
      length = static_cast<std::uint32_t>(loaded);
    }
    if (!is_valid_key_text_length(length)) return XP_ERR_KEY;
  }
  if (hex_key_decode(text, key->bytes, length) != XP_OK) return XP_ERR_KEY;
  key->bits = static_cast<int>(length / 2 * 8);
  return XP_OK;
}

// ECB with PKCS#7 padding: every whole block, then the rest of the input and
// 1 to 16 bytes each holding the number of bytes added. `input` has room for
// the padding; returns the ciphertext length.
std::uint32_t encrypt_padded(std::uint8_t* input, std::uint32_t length, const AesKey& key,
                             std::uint8_t* output) {
  const std::uint32_t blocks = length / BLOCK;
  const std::uint32_t rest = length % BLOCK;
  for (std::uint32_t i = 0; i < blocks; ++i) {
    aes_encrypt_block(input + i * BLOCK, key.bytes, key.bits, output + i * BLOCK);
  }
  std::uint8_t* last = input + blocks * BLOCK;
  std::memset(last + rest, static_cast<int>(BLOCK - rest), BLOCK - rest);
  aes_encrypt_block(last, key.bytes, key.bits, output + blocks * BLOCK);
  return (blocks + 1) * BLOCK;
}

// Decrypts every block and stores the plaintext length once the padding is
// removed; false when the last byte does not describe valid padding. A last
// byte of 16 drops the block unexamined; a last byte of 0 removes nothing.
bool decrypt_padded(const std::uint8_t* input, std::uint32_t length, const AesKey& key,
                    std::uint8_t* output, std::uint32_t* plain_length) {
  for (std::uint32_t i = 0; i < length / BLOCK; ++i) {
    aes_decrypt_block(input + i * BLOCK, key.bytes, key.bits, output + i * BLOCK);
  }
  const std::uint8_t pad = output[length - 1];
  if (pad > BLOCK) return false;
  if (pad < BLOCK) {
    for (std::uint32_t i = length - pad; i < length; ++i) {
      if (output[i] != pad) return false;
    }
  }
  *plain_length = length - pad;
  return true;
}

enum class Direction { Encrypt, Decrypt };

int aes_procedure(SRV_PROC* srvproc, Direction direction) {
  std::uint8_t input[PARAM_MAX] = {};
  std::uint8_t output[PARAM_MAX] = {};
  AesKey key = {};
  std::uint32_t length = 0;
  const bool encrypt = direction == Direction::Encrypt;

  if (srv_rpcparams(srvproc) != AES_PARAM_COUNT) return fail_call(srvproc, XP_ERR_PARAM_COUNT);
  XpErrorCode code = read_input_param(srvproc, 1, input, &length);
  if (code == XP_ERR_PARAM_NULL) return set_null_output(srvproc, AES_OUTPUT_PARAM);
  if (code != XP_OK) return fail_call(srvproc, code);
  // Ciphertext is whole blocks, at least the one of padding; this is checked
  // before the key is looked at.
  if (!encrypt && (length == 0 || length % BLOCK != 0)) {
    return fail_call(srvproc, XP_ERR_CIPHER_DATA);
  }

  code = read_key(srvproc, &key);
  if (code != XP_OK) return fail_call(srvproc, code);
  // The OUTPUT parameter needs room for the whole padded ciphertext, or for as
  // many bytes as the ciphertext although the plaintext is shorter. It is at
  // most PARAM_MAX bytes, so once this passes the result fits both buffers.
  code = check_output_param(srvproc, AES_OUTPUT_PARAM,
                            encrypt ? (length / BLOCK + 1) * BLOCK : length);
  if (code != XP_OK) return fail_call(srvproc, code);

  std::uint32_t result_length = 0;
  if (encrypt) {
    result_length = encrypt_padded(input, length, key, output);
  } else if (!decrypt_padded(input, length, key, output, &result_length)) {
    return fail_call(srvproc, XP_ERR_CIPHER_DATA);
  }
  return set_output_param(srvproc, AES_OUTPUT_PARAM, output, result_length, false);
}

}  // namespace
}  // namespace varrow

extern "C" int xp_AES_Encrypt(SRV_PROC* srvproc) {
  return varrow::run_procedure(srvproc, [](SRV_PROC* call) {
    return varrow::aes_procedure(call, varrow::Direction::Encrypt);
  });
}

extern "C" int xp_AES_Decrypt(SRV_PROC* srvproc) {
  return varrow::run_procedure(srvproc, [](SRV_PROC* call) {
    return varrow::aes_procedure(call, varrow::Direction::Decrypt);
  });
}
