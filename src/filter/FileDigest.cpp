// Comparing copies with the files of a target folder: a digest to find the
// candidates, then the bytes.
#include "filter/FileDigest.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/FileRead.h"

namespace harvix {

namespace {

// Files are compared and digested in pieces of this size, never whole.
constexpr std::size_t kChunkBytes = 64 * 1024;

// Reads an open file from its start in pieces of at most kChunkBytes.
class ChunkReader {
public:
    ChunkReader(int fd, uint64_t bytes)
        : fd_(fd),
          capacity_(static_cast<std::size_t>(std::min<uint64_t>(bytes, kChunkBytes))),
          buffer_(std::make_unique_for_overwrite<unsigned char[]>(capacity_)) {}

    const unsigned char* data() const { return buffer_.get(); }

    // Fills the buffer with the next `want` bytes (want <= the capacity);
    // false when the file ends first or cannot be read.
    bool next(std::size_t want) {
        if (readFromDescriptor(fd_, offset_, buffer_.get(), want) != want) {
            return false;
        }
        offset_ += want;
        return true;
    }

private:
    int fd_;
    uint64_t offset_ = 0;
    std::size_t capacity_;
    std::unique_ptr<unsigned char[]> buffer_;
};

uint64_t load64(const unsigned char* p) {
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

uint64_t mix(uint64_t h) {
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ull;
    h ^= h >> 33;
    return h;
}

}  // namespace

std::optional<uint64_t> digestFile(int fd, uint64_t n) {
    ChunkReader file(fd, n);
    constexpr uint64_t kPrime = 0x9E3779B97F4A7C15ull;
    uint64_t lanes[4] = {n, n ^ 0x243F6A8885A308D3ull, n ^ 0x13198A2E03707344ull,
                         n ^ 0xA4093822299F31D0ull};
    uint64_t tail = 0xCBF29CE484222325ull;
    uint64_t left = n;
    while (left > 0) {
        const std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(left, kChunkBytes));
        if (!file.next(want)) {
            return std::nullopt;
        }
        const unsigned char* data = file.data();
        std::size_t i = 0;
        for (; i + 32 <= want; i += 32) {
            for (std::size_t lane = 0; lane < 4; ++lane) {
                uint64_t h = (lanes[lane] ^ load64(data + i + 8 * lane)) * kPrime;
                lanes[lane] = h ^ (h >> 29);
            }
        }
        for (; i < want; ++i) {
            tail = (tail ^ data[i]) * 0x100000001B3ull;
        }
        left -= want;
    }
    return mix(lanes[0] ^ mix(lanes[1] ^ mix(lanes[2] ^ mix(lanes[3] ^ tail))));
}

bool sameBytes(int a, int b, uint64_t n) {
    ChunkReader fileA(a, n);
    ChunkReader fileB(b, n);
    uint64_t left = n;
    while (left > 0) {
        const std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(left, kChunkBytes));
        if (!fileA.next(want) || !fileB.next(want) ||
            std::memcmp(fileA.data(), fileB.data(), want) != 0) {
            return false;
        }
        left -= want;
    }
    return true;
}

}  // namespace harvix
