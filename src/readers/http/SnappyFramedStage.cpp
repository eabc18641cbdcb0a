// Undoes snappy's framing format (SnappyFramingFormat.h) as a stage of the
// body decoder: chunks are gathered whole (each is bounded), checked against
// their CRC-32C and handed on uncompressed; skippable chunks are passed over
// without being held.
#include <snappy.h>

#include <array>
#include <cstring>
#include <vector>

#include "base/ByteOrder.h"
#include "readers/http/DecodeStage.h"
#include "readers/http/SnappyFramingFormat.h"

namespace harvix::decoding {

namespace sf = snappyframing;

namespace {

std::array<uint32_t, 256> crc32cTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t crc = i;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ ((crc & 1) != 0 ? sf::kCrc32cPolynomial : 0);
        }
        table[i] = crc;
    }
    return table;
}

// CRC-32C before its final inversion.
uint32_t crc32cRaw(const unsigned char* bytes, std::size_t n) {
    static const std::array<uint32_t, 256> table = crc32cTable();
    uint32_t crc = 0xFFFFFFFF;
    for (std::size_t i = 0; i < n; ++i) {
        crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    }
    return crc;
}

uint32_t masked(uint32_t crc) {
    return ((crc >> 15) | (crc << 17)) + sf::kMaskDelta;
}

class SnappyFramedStage : public Stage {
public:
    bool feed(Bytes in, const BodyDecoder::Sink& out) override {
        while (!in.empty()) {
            if (headerHeld_ < sf::kChunkHeaderSize) {
                header_[headerHeld_++] = in.front();
                in = in.subspan(1);
                if (headerHeld_ == sf::kChunkHeaderSize && !startChunk()) {
                    return false;
                }
                continue;
            }
            const std::size_t take = std::min<std::size_t>(in.size(), left_);
            if (!skipping_) {
                chunk_.insert(chunk_.end(), in.begin(), in.begin() + static_cast<long>(take));
            }
            left_ -= take;
            in = in.subspan(take);
            if (left_ == 0 && !endChunk(out)) {
                return false;
            }
        }
        return true;
    }

private:
    // The header is complete: how much data follows and whether it is kept.
    bool startChunk() {
        const uint8_t type = header_[0];
        left_ = loadLe24(header_.data() + 1);
        ended_ = false;
        skipping_ = type >= sf::kFirstSkippable && type != sf::kStreamIdentifier;
        if (type == sf::kStreamIdentifier) {
            if (left_ != sf::kStreamMagicSize) {
                return false;
            }
        } else if (!seenIdentifier_) {
            return false;  // a stream starts with its identifier
        } else if (type == sf::kCompressedData) {
            if (left_ < sf::kChecksumSize || left_ > sf::kChecksumSize + sf::kMaxCompressedChunk) {
                return false;
            }
        } else if (type == sf::kUncompressedData) {
            if (left_ < sf::kChecksumSize ||
                left_ > sf::kChecksumSize + sf::kMaxUncompressedChunk) {
                return false;
            }
        } else if (!skipping_) {
            return false;  // reserved and not skippable
        }
        chunk_.clear();
        return left_ != 0 || endChunk({});
    }

    bool endChunk(const BodyDecoder::Sink& out) {
        headerHeld_ = 0;
        ended_ = true;
        const uint8_t type = header_[0];
        if (skipping_) {
            return true;
        }
        if (type == sf::kStreamIdentifier) {
            seenIdentifier_ =
                std::memcmp(chunk_.data(), sf::kStreamMagic, sf::kStreamMagicSize) == 0;
            return seenIdentifier_;
        }
        const uint32_t stored = loadLe32(chunk_.data());
        const char* data = reinterpret_cast<const char*>(chunk_.data() + sf::kChecksumSize);
        const std::size_t size = chunk_.size() - sf::kChecksumSize;
        const unsigned char* plain = chunk_.data() + sf::kChecksumSize;
        std::size_t plainSize = size;
        if (type == sf::kCompressedData) {
            std::size_t length = 0;
            if (!snappy::GetUncompressedLength(data, size, &length) ||
                length > sf::kMaxUncompressedChunk ||
                !snappy::RawUncompress(data, size, reinterpret_cast<char*>(buffer_.data()))) {
                return false;
            }
            plain = buffer_.data();
            plainSize = length;
        }
        const uint32_t crc = crc32cRaw(plain, plainSize);
        if (stored != masked(crc) && stored != masked(~crc)) {
            return false;
        }
        return plainSize == 0 || out({plain, plainSize});
    }

    std::array<unsigned char, sf::kChunkHeaderSize> header_{};
    std::size_t headerHeld_ = 0;
    std::size_t left_ = 0;
    bool skipping_ = false;
    bool seenIdentifier_ = false;
    std::vector<unsigned char> chunk_;
};

static_assert(kOutChunk >= sf::kMaxUncompressedChunk, "a chunk's bytes fit the stage's buffer");

}  // namespace

std::unique_ptr<Stage> makeSnappyFramedStage() {
    return std::make_unique<SnappyFramedStage>();
}

}  // namespace harvix::decoding
