// Snappy's framing format, as Firefox keeps the bodies of its service-worker
// caches (morgue/<n>/{uuid}.final). A stream is a run of chunks, each
//   uint8  type
//   uint24 length of the data that follows (little-endian)
//   data
// The first chunk is the stream identifier; every chunk of data starts with
// the masked CRC-32C of its uncompressed bytes (little-endian), then either
// a snappy-compressed block or the bytes as they are.
#pragma once

#include <cstddef>
#include <cstdint>

namespace harvix::snappyframing {

inline constexpr std::size_t kChunkHeaderSize = 4;  // type, 24-bit length
inline constexpr std::size_t kChecksumSize = 4;     // masked CRC-32C, before the data

inline constexpr uint8_t kStreamIdentifier = 0xFF;  // data: kStreamMagic
inline constexpr uint8_t kCompressedData = 0x00;    // data: checksum, snappy block
inline constexpr uint8_t kUncompressedData = 0x01;  // data: checksum, the bytes
inline constexpr uint8_t kPadding = 0xFE;           // skipped
// 0x02..0x7F: reserved, a reader that does not know them must stop;
// 0x80..0xFD: reserved, skipped.
inline constexpr uint8_t kFirstSkippable = 0x80;

inline constexpr char kStreamMagic[] = "sNaPpY";
inline constexpr std::size_t kStreamMagicSize = 6;

// The most uncompressed bytes one chunk may hold, and the most compressed
// bytes a block of that many may take (snappy's MaxCompressedLength).
inline constexpr std::size_t kMaxUncompressedChunk = 65536;
inline constexpr std::size_t kMaxCompressedChunk =
    32 + kMaxUncompressedChunk + kMaxUncompressedChunk / 6;

// The checksum is CRC-32C (Castagnoli), masked: rotated right by 15 bits
// and added to kMaskDelta. Firefox computes the CRC without its final
// inversion; other writers with it. Both are taken.
inline constexpr uint32_t kMaskDelta = 0xA282EAD8;
inline constexpr uint32_t kCrc32cPolynomial = 0x82F63B78;  // reflected

}  // namespace harvix::snappyframing
