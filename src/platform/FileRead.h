// Reading a file the program itself holds open (a new copy before it has a
// name), by its descriptor, and opening a file as a stream for the picture
// libraries, which read through a FILE.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>

namespace harvix {

struct StreamCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using ReadStream = std::unique_ptr<std::FILE, StreamCloser>;

// The regular file `path` (links followed) opened for reading; null when it
// is none or cannot be opened.
ReadStream openRegularFile(const std::filesystem::path& path);

// The open regular file `fd` opened a second time for reading, at its start
// and with a file position of its own (`fd` keeps its own and may be
// write-only); null when it cannot be.
ReadStream reopenForReading(int fd);

// Reads up to `n` bytes at `offset` of the open file `fd`; fewer only at the
// end of the file. 0 with errno set on a read error.
std::size_t readFromDescriptor(int fd, uint64_t offset, void* buffer, std::size_t n);

// The size of the open file `fd`; 0 when it cannot be told.
uint64_t descriptorSize(int fd);

}  // namespace harvix
