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

int aes_encrypt(SRV_PROC* srvproc) {
  std::uint8_t input[PARAM_MAX] = {};
  std::uint8_t output[PARAM_MAX] = {};
  AesKey key = {};
  std::uint32_t length = 0;

  if (srv_rpcparams(srvproc) != AES_PARAM_COUNT) return fail_call(srvproc, XP_ERR_PARAM_COUNT);
  XpErrorCode code = read_input_param(srvproc, 1, input, &length);
  if (code == XP_ERR_PARAM_NULL) return set_null_output(srvproc, AES_OUTPUT_PARAM);
  if (code != XP_OK) return fail_call(srvproc, code);
  const std::uint32_t blocks = length / BLOCK;
  const std::uint32_t rest = length % BLOCK;

  code = read_key(srvproc, &key);
  if (code != XP_OK) return fail_call(srvproc, code);
  // The padded ciphertext must fit an OUTPUT parameter of at most PARAM_MAX
  // bytes, so once this passes it also fits both buffers.
  const std::uint32_t cipher_length = (blocks + 1) * BLOCK;
  code = check_output_param(srvproc, AES_OUTPUT_PARAM, cipher_length);
  if (code != XP_OK) return fail_call(srvproc, code);

  for (std::uint32_t i = 0; i < blocks; ++i) {
    aes_encrypt_block(input + i * BLOCK, key.bytes, key.bits, output + i * BLOCK);
  }
  // PKCS#7: 1 to 16 bytes, each holding the number of bytes added.
  std::uint8_t* last = input + blocks * BLOCK;
  std::memset(last + rest, static_cast<int>(BLOCK - rest), BLOCK - rest);
  aes_encrypt_block(last, key.bytes, key.bits, output + blocks * BLOCK);

  return set_output_param(srvproc, AES_OUTPUT_PARAM, output, cipher_length, false);
}

// Stores the plaintext length once the padding is removed; false when the
// last byte does not describe valid padding. A last byte of 0 removes nothing.
bool unpadded_length(const std::uint8_t* plain, std::uint32_t length, std::uint32_t* result) {
  const std::uint8_t pad = plain[length - 1];
  if (pad > BLOCK) return false;
  if (pad < BLOCK) {
    for (std::uint32_t i = length - pad; i < length; ++i) {
      if (plain[i] != pad) return false;
    }
  }
  *result = length - pad;
  return true;
}

int aes_decrypt(SRV_PROC* srvproc) {
  std::uint8_t input[PARAM_MAX] = {};
  std::uint8_t output[PARAM_MAX] = {};
  AesKey key = {};
  std::uint32_t length = 0;

  if (srv_rpcparams(srvproc) != AES_PARAM_COUNT) return fail_call(srvproc, XP_ERR_PARAM_COUNT);
  XpErrorCode code = read_input_param(srvproc, 1, input, &length);
  if (code == XP_ERR_PARAM_NULL) return set_null_output(srvproc, AES_OUTPUT_PARAM);
  if (code != XP_OK) return fail_call(srvproc, code);
  // No ciphertext is shorter than one block of padding.
  if (length == 0 || length % BLOCK != 0) return fail_call(srvproc, XP_ERR_CIPHER_DATA);

  code = read_key(srvproc, &key);
  if (code != XP_OK) return fail_call(srvproc, code);
  code = check_output_param(srvproc, AES_OUTPUT_PARAM, length);
  if (code != XP_OK) return fail_call(srvproc, code);

  for (std::uint32_t i = 0; i < length / BLOCK; ++i) {
    aes_decrypt_block(input + i * BLOCK, key.bytes, key.bits, output + i * BLOCK);
  }
  std::uint32_t plain_length = 0;
  if (!unpadded_length(output, length, &plain_length)) {
    return fail_call(srvproc, XP_ERR_CIPHER_DATA);
  }
  return set_output_param(srvproc, AES_OUTPUT_PARAM, output, plain_length, false);
}

}  // namespace
}  // namespace varrow

extern "C" int xp_AES_Encrypt(SRV_PROC* srvproc) {
  return varrow::run_procedure(srvproc, varrow::aes_encrypt);
}

extern "C" int xp_AES_Decrypt(SRV_PROC* srvproc) {
  return varrow::run_procedure(srvproc, varrow::aes_decrypt);
}
