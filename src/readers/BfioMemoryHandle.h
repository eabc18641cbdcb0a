// A libbfio handle over bytes held in memory, through which libmsiecf reads
// the URL cache index after it has been put right in memory.
//
// libbfio's own memory-range handle copies the whole requested length even
// when the range ends sooner, and trusts an offset past the end, so a damaged
// record offset or length makes it read far outside the buffer. This handle
// hands out only the bytes that are there: a read at or past the end gives
// nothing. It never writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include <libbfio.h>

namespace harvix {

class BfioMemoryHandle {
public:
    // A handle over `bytes`, which must outlive it. False (see operator
    // bool) when libbfio could not make one.
    explicit BfioMemoryHandle(std::span<const uint8_t> bytes);
    ~BfioMemoryHandle();
    BfioMemoryHandle(const BfioMemoryHandle&) = delete;
    BfioMemoryHandle& operator=(const BfioMemoryHandle&) = delete;

    explicit operator bool() const { return handle_ != nullptr; }
    libbfio_handle_t* get() const { return handle_; }

    // Where libbfio reads: the bytes and its position in them. The handle
    // passes its address to libbfio, so it never moves.
    struct Range {
        const uint8_t* data = nullptr;
        std::size_t size = 0;
        std::size_t offset = 0;
        bool open = false;
    };

private:
    Range range_;
    libbfio_handle_t* handle_ = nullptr;
};

}  // namespace harvix
