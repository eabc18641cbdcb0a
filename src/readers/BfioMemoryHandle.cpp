#include "readers/BfioMemoryHandle.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace harvix {

namespace {

using Range = BfioMemoryHandle::Range;

Range& rangeOf(intptr_t* ioHandle) {
    return *reinterpret_cast<Range*>(ioHandle);
}

// The range belongs to the BfioMemoryHandle: libbfio neither frees nor
// clones it.
int memoryFree(intptr_t** /*ioHandle*/, libbfio_error_t** /*error*/) {
    return 1;
}

int memoryClone(intptr_t** /*destination*/, intptr_t* /*source*/, libbfio_error_t** /*error*/) {
    return -1;
}

int memoryOpen(intptr_t* ioHandle, int accessFlags, libbfio_error_t** /*error*/) {
    if ((accessFlags & LIBBFIO_ACCESS_FLAG_WRITE) != 0) {
        return -1;  // the index is only ever read
    }
    rangeOf(ioHandle).open = true;
    rangeOf(ioHandle).offset = 0;
    return 1;
}

int memoryClose(intptr_t* ioHandle, libbfio_error_t** /*error*/) {
    rangeOf(ioHandle).open = false;
    return 0;
}

ssize_t memoryRead(intptr_t* ioHandle, uint8_t* buffer, size_t size, libbfio_error_t** /*error*/) {
    Range& range = rangeOf(ioHandle);
    if (!range.open || buffer == nullptr) {
        return -1;
    }
    if (range.offset >= range.size) {
        return 0;
    }
    const std::size_t count =
        std::min({size, range.size - range.offset, static_cast<std::size_t>(SSIZE_MAX)});
    std::memcpy(buffer, range.data + range.offset, count);
    range.offset += count;
    return static_cast<ssize_t>(count);
}

ssize_t memoryWrite(intptr_t* /*ioHandle*/, const uint8_t* /*buffer*/, size_t /*size*/,
                    libbfio_error_t** /*error*/) {
    return -1;
}

off64_t memorySeek(intptr_t* ioHandle, off64_t offset, int whence, libbfio_error_t** /*error*/) {
    Range& range = rangeOf(ioHandle);
    if (!range.open) {
        return -1;
    }
    int64_t base = 0;
    if (whence == SEEK_CUR) {
        base = static_cast<int64_t>(range.offset);
    } else if (whence == SEEK_END) {
        base = static_cast<int64_t>(range.size);
    } else if (whence != SEEK_SET) {
        return -1;
    }
    // A position before the start, or one no index could reach, is refused.
    if (offset < -base || offset > INT64_MAX / 2) {
        return -1;
    }
    const int64_t target = base + offset;
    range.offset = static_cast<std::size_t>(target);
    return target;
}

int memoryExists(intptr_t* /*ioHandle*/, libbfio_error_t** /*error*/) {
    return 1;
}

int memoryIsOpen(intptr_t* ioHandle, libbfio_error_t** /*error*/) {
    return rangeOf(ioHandle).open ? 1 : 0;
}

int memoryGetSize(intptr_t* ioHandle, size64_t* size, libbfio_error_t** /*error*/) {
    if (size == nullptr) {
        return -1;
    }
    *size = rangeOf(ioHandle).size;
    return 1;
}

// Holds the error a libbfio call may hand back and frees it.
class BfioError {
public:
    BfioError() = default;
    ~BfioError() {
        if (error_ != nullptr) {
            libbfio_error_free(&error_);
        }
    }
    BfioError(const BfioError&) = delete;
    BfioError& operator=(const BfioError&) = delete;
    libbfio_error_t** operator&() { return &error_; }

private:
    libbfio_error_t* error_ = nullptr;
};

}  // namespace

BfioMemoryHandle::BfioMemoryHandle(std::span<const uint8_t> bytes) {
    range_.data = bytes.data();
    range_.size = bytes.size();
    BfioError error;
    if (libbfio_handle_initialize(&handle_, reinterpret_cast<intptr_t*>(&range_), memoryFree,
                                  memoryClone, memoryOpen, memoryClose, memoryRead, memoryWrite,
                                  memorySeek, memoryExists, memoryIsOpen, memoryGetSize,
                                  LIBBFIO_FLAG_IO_HANDLE_NON_MANAGED, &error) != 1) {
        handle_ = nullptr;
    }
}

BfioMemoryHandle::~BfioMemoryHandle() {
    if (handle_ != nullptr) {
        BfioError error;
        libbfio_handle_free(&handle_, &error);
    }
}

}  // namespace harvix
