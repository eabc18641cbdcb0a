// On-disk layout of Chromium's block-file cache: what Chrome writes on
// Windows, what older or copied profiles hold, and what Chromium still uses
// for small caches of its own (GPUCache, DawnWebGPUCache, ...). Layouts from
// Chromium's net/disk_cache/blockfile/disk_format.h, disk_format_base.h and
// addr.h. All numbers are little-endian.
//
// A block-file cache is one folder:
//   index        IndexHeader, then a hash table of CacheAddr (one per bucket)
//   data_0       rankings nodes (36-byte blocks)
//   data_1       entries (EntryStore, 256-byte blocks, 1 to 4 per entry)
//   data_2       data of 1 KiB blocks
//   data_3       data of 4 KiB blocks
//   data_4 ...   further block files, chained from a full one by next_file
//   f_xxxxxx     one external file per stream larger than 16 KiB
//                (six lower-case hex digits, the CacheAddr's file number)
// An entry is found from its bucket: table[hash & (table_len - 1)], then the
// chain of EntryStore::next addresses. Stream 0 of an HTTP cache entry is the
// pickled response info (ResponseInfo.h), stream 1 the body.
#pragma once

#include <cstddef>
#include <cstdint>

namespace harvix::blockfile {

// --- index: IndexHeader (368 bytes), then the table --------------------------------
inline constexpr uint32_t kIndexMagic = 0xC103CAC3;
inline constexpr uint32_t kIndexVersion2_0 = 0x20000;
inline constexpr uint32_t kIndexVersion2_1 = 0x20001;
inline constexpr uint32_t kIndexVersion3_0 = 0x30000;
inline constexpr std::size_t kIndexHeaderSize = 368;
inline constexpr std::size_t kIndexMagicOffset = 0;       // uint32 magic
inline constexpr std::size_t kIndexVersionOffset = 4;     // uint32 version
inline constexpr std::size_t kIndexNumEntriesOffset = 8;  // int32 entries stored
                                                          // 12: int32 bytes stored (2.x)
                                                          // 16: int32 last external file made
                                                          // 20: int32 this_id (dirty marker)
                                                          // 24: CacheAddr statistics
inline constexpr std::size_t kIndexTableLenOffset = 28;  // int32 buckets; 0 = kIndexDefaultTableLen
                                                         // 32: int32 crash, 36: int32 experiment
                                                         // 40: uint64 create_time
                                                         // 48: int64 bytes stored (3.0)
                                                         // 56: int32 corruption_detected
                                                         // 60: int32 pad[49]
                                                         // 256: LruData (112 bytes)
inline constexpr std::size_t kIndexTableOffset = kIndexHeaderSize;  // CacheAddr table[table_len]
inline constexpr uint32_t kIndexDefaultTableLen = 0x10000;
// The table length must be a power of two; this reader accepts up to 2^22 buckets.
inline constexpr uint32_t kIndexMaxTableLen = 1u << 22;

// --- data_N: BlockFileHeader (8192 bytes), then the blocks --------------------------
inline constexpr uint32_t kBlockMagic = 0xC104CAC3;
inline constexpr uint32_t kBlockVersion2 = 0x20000;
inline constexpr uint32_t kBlockVersion3 = 0x30000;
inline constexpr std::size_t kBlockHeaderSize = 8192;
inline constexpr std::size_t kBlockMagicOffset = 0;      // uint32 magic
inline constexpr std::size_t kBlockVersionOffset = 4;    // uint32 version
inline constexpr std::size_t kBlockThisFileOffset = 8;   // int16 this file's number
inline constexpr std::size_t kBlockNextFileOffset = 10;  // int16 next file of the same size, 0 none
inline constexpr std::size_t kBlockEntrySizeOffset = 12;   // int32 block size of this file
inline constexpr std::size_t kBlockNumEntriesOffset = 16;  // int32 blocks in use
inline constexpr std::size_t kBlockMaxEntriesOffset = 20;  // int32 blocks the file has room for
                                                           // 24: int32 empty[4], 40: int32 hints[4]
                                                           // 56: int32 updating, 60: int32 user[5]
                                                           // 80: uint32 allocation bitmap
inline constexpr uint32_t kMaxBlocks = (kBlockHeaderSize - 80) * 8;  // blocks one file can hold

// --- CacheAddr: a 32-bit address of a record ----------------------------------------
//   bit 31       initialized
//   bits 28..30  file type (FileType)
//   external file (type 0):  bits 0..27 file number (f_%06x)
//   block file:   bits 26..27 reserved (0), bits 24..25 blocks - 1,
//                 bits 16..23 file number (data_%d), bits 0..15 first block
inline constexpr uint32_t kAddrInitializedMask = 0x80000000;
inline constexpr uint32_t kAddrFileTypeMask = 0x70000000;
inline constexpr uint32_t kAddrFileTypeShift = 28;
inline constexpr uint32_t kAddrReservedMask = 0x0c000000;
inline constexpr uint32_t kAddrNumBlocksMask = 0x03000000;
inline constexpr uint32_t kAddrNumBlocksShift = 24;
inline constexpr uint32_t kAddrFileSelectorMask = 0x00ff0000;
inline constexpr uint32_t kAddrFileSelectorShift = 16;
inline constexpr uint32_t kAddrStartBlockMask = 0x0000ffff;
inline constexpr uint32_t kAddrFileNameMask = 0x0fffffff;

enum class FileType : uint32_t {
    External = 0,      // a separate file f_xxxxxx
    Rankings = 1,      // 36-byte blocks (data_0)
    Block256 = 2,      // 256-byte blocks (data_1: entries and small data)
    Block1K = 3,       // 1 KiB blocks (data_2)
    Block4K = 4,       // 4 KiB blocks (data_3)
    BlockFiles = 5,    // 8-byte blocks (not used by the HTTP cache)
    BlockEntries = 6,  // 104-byte blocks (not used by the HTTP cache)
    BlockEvicted = 7,  // 48-byte blocks (not used by the HTTP cache)
};
inline constexpr uint32_t kMaxNumBlocks = 4;         // blocks one record may span
inline constexpr uint32_t kMaxBlockData = 4096 * 4;  // larger streams go to external files

// Block size of a file type; 0 for External.
constexpr uint32_t blockSizeOf(FileType type) {
    switch (type) {
        case FileType::Rankings:
            return 36;
        case FileType::Block256:
            return 256;
        case FileType::Block1K:
            return 1024;
        case FileType::Block4K:
            return 4096;
        case FileType::BlockFiles:
            return 8;
        case FileType::BlockEntries:
            return 104;
        case FileType::BlockEvicted:
            return 48;
        case FileType::External:
            return 0;
    }
    return 0;
}

// --- EntryStore: one entry in data_1 (256 bytes, continued in up to 3 more blocks) ----
inline constexpr std::size_t kEntryStoreSize = 256;
inline constexpr std::size_t kEntryHashOffset = 0;  // uint32 hash of the key
inline constexpr std::size_t kEntryNextOffset = 4;  // CacheAddr next entry in the bucket
inline constexpr std::size_t kEntryRankingsOffset =
    8;  // CacheAddr rankings node
        // 12: int32 reuse_count, 16: int32 refetch_count
inline constexpr std::size_t kEntryStateOffset = 20;         // int32 state (EntryState)
inline constexpr std::size_t kEntryCreationTimeOffset = 24;  // uint64 creation time (µs since 1601)
inline constexpr std::size_t kEntryKeyLenOffset = 32;        // int32 key length
inline constexpr std::size_t kEntryLongKeyOffset = 36;       // CacheAddr of the key when not inline
inline constexpr std::size_t kEntryDataSizeOffset = 40;      // int32 data_size[4]
inline constexpr std::size_t kEntryDataAddrOffset = 56;      // CacheAddr data_addr[4]
inline constexpr std::size_t kEntryFlagsOffset = 72;         // uint32 flags (EntryFlags)
                                                             // 76: int32 pad[4]
                                                             // 92: uint32 self_hash
inline constexpr std::size_t kEntryKeyOffset = 96;           // char key[160], NUL-terminated,
                                                             // continuing into the next blocks
inline constexpr std::size_t kEntryStreams = 4;
inline constexpr std::size_t kMaxInternalKeyLength = 4 * kEntryStoreSize - kEntryKeyOffset - 1;

inline constexpr int32_t kEntryNormal = 0;  // EntryState
inline constexpr int32_t kEntryEvicted = 1;
inline constexpr int32_t kEntryDoomed = 2;
inline constexpr uint32_t kParentEntry = 1;       // EntryFlags: has sparse children
inline constexpr uint32_t kChildEntry = 1u << 1;  // holds sparse data; key "Range_..."

// --- RankingsNode: 36 bytes in data_0 ------------------------------------------------
// uint64 last_used, uint64 last_modified (no longer kept), CacheAddr next,
// CacheAddr prev, CacheAddr contents (the entry), int32 dirty, uint32 self_hash.
inline constexpr std::size_t kRankingsNodeSize = 36;
inline constexpr std::size_t kRankingsLastUsedOffset = 0;   // uint64 µs since 1601
inline constexpr std::size_t kRankingsContentsOffset = 24;  // CacheAddr of the entry
// int32 dirty: 0 once the entry was closed cleanly; while a browser has the
// entry open (writing it) the id of that session (the index's this_id), and
// after a crash an id of a session gone. Either way its data is not whole.
inline constexpr std::size_t kRankingsDirtyOffset = 28;

// File names.
inline constexpr const char* kIndexName = "index";
// data_%d for block files, f_%06x for external files.

// Limits this reader puts on untrusted numbers.
inline constexpr uint32_t kMaxKeyLength = 1u << 20;    // long keys in external files
inline constexpr uint32_t kMaxStream0Size = 4u << 20;  // response info
inline constexpr uint32_t kMaxBlockFileNumber = 255;

}  // namespace harvix::blockfile
