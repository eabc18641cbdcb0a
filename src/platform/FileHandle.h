// Reading the files of a cache, and copying byte ranges out of them.
//
// A cache folder is input the program does not control: a cached file may be
// a symbolic link to a secret elsewhere, a FIFO that blocks the reader for
// ever, or far larger than its record says. Every file the program reads is
// therefore opened through FileHandle: without following a final link,
// without blocking, and accepted only when it is a regular file; a cache
// file must moreover lie below the cache folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace harvix {

namespace fs = std::filesystem;

class FileHandle {
public:
    FileHandle() = default;
    ~FileHandle();
    FileHandle(FileHandle&& other) noexcept;
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    // Opens `path` for reading as described above. On failure the handle is
    // closed and error() tells why: the system's errno, ELOOP for a final
    // link, EINVAL for something that is not a regular file.
    static FileHandle openForReading(const fs::path& path);
    // Like openForReading, and the file must lie below `root` (a folder
    // resolved once with resolveFolder): a path whose folders lead out of
    // the root through links or "..", even when one is swapped in while
    // the path is opened, fails with EXDEV. Links that stay below the root
    // are followed (a final link is refused, as above).
    static FileHandle openBelow(const fs::path& root, const fs::path& path);
    // Tests only: false resolves paths below a root by hand, as on kernels
    // without openat2 (before Linux 5.6).
    static void setKernelResolutionForTesting(bool allowed);

    explicit operator bool() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    int error() const { return error_; }
    // Size in bytes at the time of the call (0 when closed).
    uint64_t size() const;
    // Size in bytes when the file was opened.
    uint64_t sizeAtOpen() const { return sizeAtOpen_; }
    // Reads up to `n` bytes at `offset`; fewer at the end of the file. 0 with
    // errno set on a read error.
    std::size_t readAt(uint64_t offset, void* buffer, std::size_t n) const;
    // True when exactly `n` bytes could be read at `offset`.
    bool readExactAt(uint64_t offset, void* buffer, std::size_t n) const;
    // The same two with the error as a value: 0, or the errno of the failed
    // read (readExactError: EIO when the file ends before `n` bytes).
    std::size_t readAt(uint64_t offset, void* buffer, std::size_t n, int& error) const;
    int readExactError(uint64_t offset, void* buffer, std::size_t n) const;
    void close();

private:
    explicit FileHandle(int fd) : fd_(fd) {}
    static FileHandle failed(int error);
    // Takes `fd` when it is a regular file; closes it and fails otherwise.
    static FileHandle checkedRegular(int fd);

    int fd_ = -1;
    int error_ = 0;
    uint64_t sizeAtOpen_ = 0;
};

// Copies exactly `length` bytes of `in`, starting at `offset`, to the current
// position of `outFd` (copy_file_range, with a read and write loop where the
// file systems do not support it). False with errno set on an error, and
// with EIO when the source ends before `length` bytes.
bool copyRange(const FileHandle& in, uint64_t offset, uint64_t length, int outFd);

// Writes all of `n` bytes to `fd`; false with errno set on failure.
bool writeAll(int fd, const void* data, std::size_t n);

// copyRange and writeAll with the error as the result: 0 on success, else
// the errno of the call that failed.
int copyRangeError(const FileHandle& in, uint64_t offset, uint64_t length, int outFd);
int writeAllError(int fd, const void* data, std::size_t n);
// Cuts the file `fd` back to its first `size` bytes and goes on writing
// there (what was written after them is dropped): 0, or the errno.
int cutBackError(int fd, uint64_t size);

// The folder with its links resolved (as far as it exists), the form in
// which openBelow expects its root and in which two spellings compare equal.
fs::path resolveFolder(const fs::path& folder);

// True when `path` (resolved) is `folder` (resolved) or lies below it.
bool isAtOrBelow(const fs::path& path, const fs::path& folder);

}  // namespace harvix
