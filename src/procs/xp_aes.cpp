// xp_AES_Encrypt and xp_AES_Decrypt: AES-ECB with PKCS#7 padding over the
// bytes of the input; parameters (input, key, OUTPUT).
#include <cstdint>
#include <cstring>

#include "aes/aes.h"
#include "common/wipe.h"
#include "key/hex_key.h"
#include "key/key_file.h"
#include "procs/frame.h"
#include "procs/procedures.h"

namespace varrow {
namespace {

constexpr int AES_PARAM_COUNT = 3;
constexpr int AES_OUTPUT_PARAM = 3;
constexpr std::uint32_t BLOCK = AES_BLOCK_SIZE;

// The key used when the key parameter is NULL: an AES-128 key.
constexpr char DEFAULT_KEY_TEXT[] = "9C2B7E41D0A35F86B1E4720C3D95A6F8";
constexpr std::uint32_t DEFAULT_KEY_TEXT_LENGTH = sizeof(DEFAULT_KEY_TEXT) - 1;

// Everything of one call that holds key material or caller data; cleared
// once when the call ends, whichever way it ends.
struct AesCall {
  std::uint8_t input[PARAM_MAX];
  std::uint8_t output[PARAM_MAX];
  std::uint8_t key_text[KEY_TEXT_MAX];
  std::uint8_t key[32];
  int key_bits;
  std::uint32_t length;         // of the input
  std::uint32_t output_length;  // bytes of `output` the blocks may have written
  std::uint32_t schedule[AES_SCHEDULE_WORDS];
  std::uint8_t last_block[AES_BLOCK_SIZE];  // the padded last block of a plaintext

  AesCall()
      : input{},
        output{},
        key_text{},
        key{},
        key_bits(0),
        length(0),
        output_length(0),
        schedule{},
        last_block{} {}
  ~AesCall() {
    secure_zero(input, length);
    secure_zero(output, output_length);
    secure_zero(key_text, sizeof key_text);
    secure_zero(key, sizeof key);
    secure_zero(schedule, sizeof schedule);
    secure_zero(last_block, sizeof last_block);
    // The block functions' frames held the state after the first round key.
    secure_zero_stack();
  }
  AesCall(const AesCall&) = delete;
  AesCall& operator=(const AesCall&) = delete;
};

bool is_valid_key_text_length(std::uint32_t length) {
  return length == 32 || length == 48 || length == 64;
}

// Settles the key from the key parameter: hexadecimal text, a key file, or
// the built-in key for NULL.
XpErrorCode read_key(SRV_PROC* srvproc, AesCall& call) {
  std::uint32_t length = 0;
  const XpErrorCode code = read_input_param(srvproc, KEY_PARAM, call.key_text, &length);
  if (code == XpErrorCode::ParamNull) {
    std::memcpy(call.key_text, DEFAULT_KEY_TEXT, DEFAULT_KEY_TEXT_LENGTH);
    length = DEFAULT_KEY_TEXT_LENGTH;
  } else if (code != XpErrorCode::Ok) {
    return code;
  } else {
    if (is_keyfile_spec(call.key_text)) {
      const int loaded = load_key_file(call.key_text);
      if (loaded < 0) return XpErrorCode::KeyFile;
      length = static_cast<std::uint32_t>(loaded);
    }
    if (!is_valid_key_text_length(length)) return XpErrorCode::Key;
  }
  if (hex_key_decode(call.key_text, call.key, length) != XpErrorCode::Ok) return XpErrorCode::Key;
  call.key_bits = static_cast<int>(length / 2 * 8);
  return XpErrorCode::Ok;
}

// ECB with PKCS#7 padding: every whole block, then a last block of the rest
// of the input and 1 to 16 bytes each holding the number of bytes added.
// Writes (length / 16 + 1) * 16 bytes of `output` and returns that length.
std::uint32_t encrypt_padded(const std::uint8_t* input, std::uint32_t length, AesCall& call) {
  const std::uint32_t blocks = length / BLOCK;
  const std::uint32_t rest = length % BLOCK;
  for (std::uint32_t i = 0; i < blocks; ++i) {
    aes_encrypt_block(input + i * BLOCK, call.key, call.key_bits, call.output + i * BLOCK,
                      call.schedule);
  }
  std::uint8_t* last = call.last_block;
  if (rest != 0) std::memcpy(last, input + blocks * BLOCK, rest);
  std::memset(last + rest, static_cast<int>(BLOCK - rest), BLOCK - rest);
  aes_encrypt_block(last, call.key, call.key_bits, call.output + blocks * BLOCK, call.schedule);
  return (blocks + 1) * BLOCK;
}

// Needs a length that is a non-zero multiple of 16. Decrypts every block and
// stores the plaintext length once the padding is removed; false when the last
// byte does not describe valid padding.
bool decrypt_padded(const std::uint8_t* input, std::uint32_t length, AesCall& call,
                    std::uint32_t* plain_length) {
  for (std::uint32_t i = 0; i < length / BLOCK; ++i) {
    aes_decrypt_block(input + i * BLOCK, call.key, call.key_bits, call.output + i * BLOCK,
                      call.schedule);
  }
  const std::uint8_t* output = call.output;
  const std::uint8_t pad = output[length - 1];
  if (pad > BLOCK) return false;
  // Deliberately lenient, as existing ciphertexts rely on it: a last byte of
  // 16 drops the block unexamined, a last byte of 0 removes nothing.
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
  AesCall call;
  const bool encrypt = direction == Direction::Encrypt;

  if (srv_rpcparams(srvproc) != AES_PARAM_COUNT) {
    return fail_call(srvproc, XpErrorCode::ParamCount);
  }
  XpErrorCode code = read_input_param(srvproc, 1, call.input, &call.length);
  if (code == XpErrorCode::ParamNull) return set_null_output(srvproc, AES_OUTPUT_PARAM);
  if (code != XpErrorCode::Ok) return fail_call(srvproc, code);
  const std::uint32_t length = call.length;
  // Ciphertext is whole blocks, at least the one of padding; this is checked
  // before the key is looked at.
  if (!encrypt && (length == 0 || length % BLOCK != 0)) {
    return fail_call(srvproc, XpErrorCode::CipherData);
  }

  code = read_key(srvproc, call);
  if (code != XpErrorCode::Ok) return fail_call(srvproc, code);
  // The OUTPUT parameter needs room for the whole padded ciphertext, or for as
  // many bytes as the ciphertext although the plaintext is shorter. It is at
  // most PARAM_MAX bytes, so once this passes the result fits the output buffer.
  const std::uint32_t needed = encrypt ? (length / BLOCK + 1) * BLOCK : length;
  code = check_output_param(srvproc, AES_OUTPUT_PARAM, needed);
  if (code != XpErrorCode::Ok) return fail_call(srvproc, code);

  call.output_length = needed;
  std::uint32_t result_length = 0;
  if (encrypt) {
    result_length = encrypt_padded(call.input, length, call);
  } else if (!decrypt_padded(call.input, length, call, &result_length)) {
    return fail_call(srvproc, XpErrorCode::CipherData);
  }
  return set_output_param(srvproc, AES_OUTPUT_PARAM, call.output, result_length, false);
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
