// Comparing open files for the duplicate test of a comb: files are read in
// pieces, never whole.
#pragma once

#include <cstdint>
#include <optional>

namespace harvix {

// A fast 64-bit digest of the first `n` bytes of an open file (four
// independent lanes over 32-byte blocks); nothing when the file cannot be
// read or is shorter. Equal digests only say that a byte comparison is
// worth making.
std::optional<uint64_t> digestFile(int fd, uint64_t n);

// True when the first `n` bytes of both open files agree (n > 0).
bool sameBytes(int a, int b, uint64_t n);

}  // namespace harvix
