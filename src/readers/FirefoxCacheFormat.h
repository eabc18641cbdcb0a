// The on-disk layout of Firefox's old disk cache (versions up to 31), as the
// reader needs it. All numbers in these files are big-endian.
//
// One folder holds:
//   _CACHE_MAP_   the map: a header, then one record per cached item
//   _CACHE_001_   block file 1: a bitmap header, then blocks of 256 bytes
//   _CACHE_002_   block file 2: the same with blocks of 1,024 bytes
//   _CACHE_003_   block file 3: the same with blocks of 4,096 bytes
//   separate files for items too large for the block files, named after the
//   record's hash number (see FirefoxCacheReader::separateFileNames)
#pragma once

#include <cstddef>
#include <cstdint>

namespace harvix::firefox_cache {

// The map, then block files 1 to 3; a location's file selector indexes it.
inline constexpr const char* kFileNames[4] = {"_CACHE_MAP_", "_CACHE_001_", "_CACHE_002_",
                                              "_CACHE_003_"};

// ---- _CACHE_MAP_ ----
// Header: version, data size, entry count, dirty flag, record count, the
// eviction ranks of the 32 buckets (276 bytes in all); records follow it.
inline constexpr std::size_t kMapHeaderSize = 276;
// One record, four 32-bit words:
inline constexpr std::size_t kMapRecordSize = 16;
inline constexpr std::size_t kRecordHashNumber = 0;     // hash of the key; 0 = free record
inline constexpr std::size_t kRecordEvictionRank = 4;   // not used by the reader
inline constexpr std::size_t kRecordDataLocation = 8;   // location word of the data
inline constexpr std::size_t kRecordMetaLocation = 12;  // location word of the metadata item

// ---- Location words (data and metadata) ----
// bits 28-29: file selector, 0 = a separate file, 1..3 = block file 1..3
inline constexpr uint32_t kSelectorShift = 28;
inline constexpr uint32_t kSelectorMask = 3;
// bits 24-25: number of blocks after the first (block files)
inline constexpr uint32_t kExtraBlocksShift = 24;
inline constexpr uint32_t kExtraBlocksMask = 3;
// bits 0-23: the first block (block files)
inline constexpr uint32_t kFirstBlockMask = 0x00FFFFFF;
// bits 0-7: the generation that names a separate file
inline constexpr uint32_t kGenerationMask = 0xFF;

// ---- Block files ----
// The header is the bitmap of used blocks; block 0 starts right after it.
inline constexpr std::size_t kBlockFileHeaderSize = 4096;
// Block size of block file 1..3: 256, 1,024, 4,096 bytes.
inline constexpr uint32_t blockSize(uint32_t selector) {
    return 256u << (2u * (selector - 1u));
}
// An item spans at most four blocks.
inline constexpr uint32_t kMaxBlocksPerItem = 4;
inline constexpr std::size_t kMaxItemSize = kMaxBlocksPerItem * 4096;

// ---- Metadata item ----
// Nine 32-bit header words, then the key (zero-terminated), then the
// metadata's name/value texts, among them the response head ("HTTP/...").
inline constexpr std::size_t kMetaHeaderWords = 9;
inline constexpr std::size_t kMetaVersion = 0;
inline constexpr std::size_t kMetaLocation = 1;
inline constexpr std::size_t kMetaFetchCount = 2;
inline constexpr std::size_t kMetaLastFetched = 3;
inline constexpr std::size_t kMetaLastModified = 4;    // seconds since 1970: the entry's time
inline constexpr std::size_t kMetaExpiration = 5;      // seconds since 1970
inline constexpr uint32_t kNoExpiration = 0xFFFFFFFF;  // an expiration time of "never"
inline constexpr std::size_t kMetaDataSize = 6;        // the body's size in bytes
inline constexpr std::size_t kMetaKeySize = 7;
inline constexpr std::size_t kMetaMetadataSize = 8;
// Byte offset of the key in the item.
inline constexpr std::size_t kMetaKeyOffset = kMetaHeaderWords * 4;
// Keys of cached HTTP responses start so; the URL follows.
inline constexpr const char* kHttpKeyPrefix = "HTTP:";
// A response head in the metadata starts so.
inline constexpr const char* kResponseHeadPrefix = "HTTP/";

}  // namespace harvix::firefox_cache
