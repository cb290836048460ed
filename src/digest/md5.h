// MD5 (RFC 1321) of one whole message in memory.
#pragma once

#include <cstdint>

namespace varrow {

inline constexpr int MD5_DIGEST_SIZE = 16;

// Writes the 16 digest bytes to `out` and returns true. The message is copied
// into one heap working copy; when that cannot be allocated std::bad_alloc
// propagates and `out` is untouched. `data` is not read when length is 0.
bool md5_digest(const std::uint8_t* data, std::uint32_t length, std::uint8_t out[MD5_DIGEST_SIZE]);

}  // namespace varrow
