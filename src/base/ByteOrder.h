// Byte-order decoders and a bounded cursor for the on-disk formats of the
// caches. Every cache format stores numbers in a fixed byte order (Firefox's
// old cache and cache2 big-endian, the URL cache and Chromium's caches
// little-endian); the readers decode them here and nowhere else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace harvix {

inline uint16_t loadLe16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t loadLe24(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16);
}
inline uint32_t loadLe32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t loadLe64(const unsigned char* p) {
    return static_cast<uint64_t>(loadLe32(p)) | (static_cast<uint64_t>(loadLe32(p + 4)) << 32);
}
inline uint16_t loadBe16(const unsigned char* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
inline uint32_t loadBe32(const unsigned char* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}
inline uint64_t loadBe64(const unsigned char* p) {
    return (static_cast<uint64_t>(loadBe32(p)) << 32) | static_cast<uint64_t>(loadBe32(p + 4));
}

// Reads numbers and byte runs from a span without ever leaving it. Each
// reading returns false and moves nothing when too few bytes remain, so a
// parser can test every step and stop at the first that fails.
class ByteCursor {
public:
    ByteCursor() = default;
    explicit ByteCursor(std::span<const unsigned char> bytes) : bytes_(bytes) {}

    std::size_t pos() const { return pos_; }
    std::size_t size() const { return bytes_.size(); }
    std::size_t remaining() const { return bytes_.size() - pos_; }

    bool seek(std::size_t pos) {
        if (pos > bytes_.size()) {
            return false;
        }
        pos_ = pos;
        return true;
    }
    bool skip(std::size_t n) {
        if (n > remaining()) {
            return false;
        }
        pos_ += n;
        return true;
    }
    bool bytes(std::size_t n, std::span<const unsigned char>& out) {
        if (n > remaining()) {
            return false;
        }
        out = bytes_.subspan(pos_, n);
        pos_ += n;
        return true;
    }
    bool u8(uint8_t& v) {
        return take(1, [&](const unsigned char* p) { v = p[0]; });
    }
    bool le16(uint16_t& v) {
        return take(2, [&](const unsigned char* p) { v = loadLe16(p); });
    }
    bool le32(uint32_t& v) {
        return take(4, [&](const unsigned char* p) { v = loadLe32(p); });
    }
    bool le64(uint64_t& v) {
        return take(8, [&](const unsigned char* p) { v = loadLe64(p); });
    }
    bool be16(uint16_t& v) {
        return take(2, [&](const unsigned char* p) { v = loadBe16(p); });
    }
    bool be32(uint32_t& v) {
        return take(4, [&](const unsigned char* p) { v = loadBe32(p); });
    }
    bool be64(uint64_t& v) {
        return take(8, [&](const unsigned char* p) { v = loadBe64(p); });
    }

private:
    template <typename Load>
    bool take(std::size_t n, Load load) {
        if (n > remaining()) {
            return false;
        }
        load(bytes_.data() + pos_);
        pos_ += n;
        return true;
    }

    std::span<const unsigned char> bytes_;
    std::size_t pos_ = 0;
};

}  // namespace harvix
