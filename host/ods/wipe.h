// Clearing memory that held a caller's values (keys, plaintext, results) once
// the host is done with them, so that they do not linger: the host's own
// buffers clear themselves (secure_bytes.h); this is for fixed buffers and
// memory others own. The clearing is one the compiler keeps although nothing
// reads the memory again.
#pragma once

#include <cstddef>

namespace varrow::host {

void wipe(void* data, std::size_t size) noexcept;

}  // namespace varrow::host
