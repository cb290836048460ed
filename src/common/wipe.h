// Clearing memory that held key material or caller data.
#pragma once

#include <cstddef>

namespace varrow {

// Overwrites `size` bytes at `data` with zeros. Unlike memset, the compiler
// may not drop it as a store to memory that is never read again.
void secure_zero(void* data, std::size_t size);

// Clears the stack just below the caller, where the functions it called kept
// their frames: copies of data the compiler made there (registers spilled by
// the cipher or the digests) do not outlive the call. Covers the deepest
// frames of the algorithms, not the buffers of the procedures themselves.
void secure_zero_stack();

}  // namespace varrow
