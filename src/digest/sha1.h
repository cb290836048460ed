// SHA-1 (FIPS 180-1) of one whole message in memory.
#pragma once

#include <cstdint>

namespace varrow {

inline constexpr int SHA1_DIGEST_SIZE = 20;

// Writes the 20 digest bytes to `out` and returns true. The message is copied
// into one heap working copy; when that cannot be allocated std::bad_alloc
// propagates and `out` is untouched. `data` is not read when length is 0.
bool sha1_digest(const std::uint8_t* data, std::uint32_t length,
                 std::uint8_t out[SHA1_DIGEST_SIZE]);

}  // namespace varrow
