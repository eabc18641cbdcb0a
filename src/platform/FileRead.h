// Reading a file the program itself holds open (a new copy before it has a
// name), by its descriptor.
#pragma once

#include <cstddef>
#include <cstdint>

namespace harvix {

// Reads up to `n` bytes at `offset` of the open file `fd`; fewer only at the
// end of the file. 0 with errno set on a read error.
std::size_t readFromDescriptor(int fd, uint64_t offset, void* buffer, std::size_t n);

// The size of the open file `fd`; 0 when it cannot be told.
uint64_t descriptorSize(int fd);

}  // namespace harvix
