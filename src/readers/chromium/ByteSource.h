// What the Chromium cache parsers read from: a file of known size read at
// offsets. The reader hands them open cache files; tests and fuzz targets hand
// them bytes in memory. Numbers are decoded with base/ByteOrder.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/ByteOrder.h"

namespace harvix::chromium {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual uint64_t size() const = 0;
    // Exactly `n` bytes at `offset`; false on a short read or an error.
    virtual bool readExactAt(uint64_t offset, void* buffer, std::size_t n) const = 0;
};

// Bytes in memory (tests, fuzzing).
class MemoryBytes : public ByteSource {
public:
    explicit MemoryBytes(std::vector<unsigned char> bytes) : bytes_(std::move(bytes)) {}
    uint64_t size() const override { return bytes_.size(); }
    bool readExactAt(uint64_t offset, void* buffer, std::size_t n) const override {
        if (offset > bytes_.size() || n > bytes_.size() - offset) {
            return false;
        }
        if (n != 0) {
            std::memcpy(buffer, bytes_.data() + offset, n);
        }
        return true;
    }

private:
    std::vector<unsigned char> bytes_;
};

}  // namespace harvix::chromium
