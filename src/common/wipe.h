// Clearing memory that held key material or caller data.
#pragma once

#include <cstddef>

namespace varrow {

// Overwrites `size` bytes at `data` with zeros. Unlike memset, the compiler
// may not drop it as a store to memory that is never read again.
void secure_zero(void* data, std::size_t size);

}  // namespace varrow
