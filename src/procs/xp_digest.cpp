// xp_MD5_Encrypt and xp_SHA1_Encrypt: the raw digest of the input bytes;
// parameters (input, OUTPUT).
#include <cstdint>

#include "common/wipe.h"
#include "digest/md5.h"
#include "digest/sha1.h"
#include "procs/frame.h"
#include "procs/procedures.h"

namespace varrow {
namespace {

constexpr int DIGEST_OUTPUT_PARAM = 2;

using DigestFunction = bool (*)(const std::uint8_t*, std::uint32_t, std::uint8_t*);

// The call's buffers, cleared when it ends, whichever way it ends.
template <std::uint32_t digest_size>
struct DigestCall {
  std::uint8_t input[PARAM_MAX] = {};
  std::uint8_t result[digest_size] = {};
  std::uint32_t length = 0;

  DigestCall() = default;
  ~DigestCall() {
    secure_zero(input, length);
    secure_zero(result, sizeof result);
    // The digest's frames held words of the message.
    secure_zero_stack();
  }
  DigestCall(const DigestCall&) = delete;
  DigestCall& operator=(const DigestCall&) = delete;
};

template <DigestFunction digest, std::uint32_t digest_size>
int digest_procedure(SRV_PROC* srvproc) {
  DigestCall<digest_size> call;

  if (srv_rpcparams(srvproc) != 2) return fail_call(srvproc, XpErrorCode::ParamCount);
  XpErrorCode code = read_input_param(srvproc, 1, call.input, &call.length);
  if (code == XpErrorCode::ParamNull) return set_null_output(srvproc, DIGEST_OUTPUT_PARAM);
  if (code != XpErrorCode::Ok) return fail_call(srvproc, code);
  code = check_output_param(srvproc, DIGEST_OUTPUT_PARAM, digest_size);
  if (code != XpErrorCode::Ok) return fail_call(srvproc, code);

  digest(call.input, call.length, call.result);
  return set_output_param(srvproc, DIGEST_OUTPUT_PARAM, call.result, digest_size, false);
}

}  // namespace
}  // namespace varrow

extern "C" int xp_MD5_Encrypt(SRV_PROC* srvproc) {
  return varrow::run_procedure(
      srvproc, varrow::digest_procedure<varrow::md5_digest, varrow::MD5_DIGEST_SIZE>);
}

extern "C" int xp_SHA1_Encrypt(SRV_PROC* srvproc) {
  return varrow::run_procedure(
      srvproc, varrow::digest_procedure<varrow::sha1_digest, varrow::SHA1_DIGEST_SIZE>);
}
