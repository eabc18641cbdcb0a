// What the Chromium cache parsers read from: a file of known size read at
// offsets. The reader hands them open cache files; tests and fuzz targets hand
// them bytes in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

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
        if (offset > bytes_.size() || n > bytes_.size() - offset)
            return false;
        if (n != 0)
            std::memcpy(buffer, bytes_.data() + offset, n);
        return true;
    }

private:
    std::vector<unsigned char> bytes_;
};

inline uint16_t le16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline uint32_t le32(const unsigned char* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
inline uint64_t le64(const unsigned char* p) {
    return uint64_t{le32(p + 4)} << 32 | le32(p);
}

}  // namespace harvix::chromium
