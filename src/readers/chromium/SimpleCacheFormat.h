// On-disk layout of Chromium's simple cache, the HTTP cache Chromium, Chrome,
// Edge, Brave, Vivaldi and Opera write on Linux (layouts from Chromium's
// net/disk_cache/simple/simple_entry_format.h and simple_index_file.h).
//
// A simple cache is one folder:
//   index                      a 24-byte marker (FakeIndexData below)
//   index-dir/the-real-index   the index proper (hashes, sizes, last use);
//                              never needed to read entries, read for the
//                              entries' last use only (its layout below)
//   <16 hex>_0                 one file per entry: streams 0 and 1
//   <16 hex>_1                 stream 2 of an entry, when it has one
//   <16 hex>_s                 the sparse (range) data of an entry
// The 16 hex digits are the first eight bytes of the key's SHA-1, read as a
// little-endian 64-bit number and printed in lower case.
//
// A `_0` file, all numbers little-endian:
//   EntryHeader                 (kHeaderSize bytes)
//   key                         (key_length bytes, no terminator)
//   stream 1: the body          (as stored, possibly Content-Encoded)
//   EndRecord of stream 1       (kEndRecordSize bytes; its stream_size is not read)
//   stream 0: the pickled HTTP response info (see ResponseInfo.h)
//   SHA-256 of the key          (kKeySha256Size bytes, when the last end
//                                record has kFlagHasKeySha256)
//   EndRecord of stream 0       (kEndRecordSize bytes, the file's last bytes)
// Stream 1's size is what remains between the key and stream 1's end record:
//   file size - header - key - end record - stream 0 - [SHA-256] - end record.
#pragma once

#include <cstddef>
#include <cstdint>

namespace harvix::simplecache {

// --- EntryHeader: the first bytes of `_0`, `_1` and `_s` files ---------------
inline constexpr std::size_t kHeaderSize = 24;
inline constexpr std::size_t kHeaderMagicOffset = 0;       // uint64 initial_magic_number
inline constexpr std::size_t kHeaderVersionOffset = 8;     // uint32 version
inline constexpr std::size_t kHeaderKeyLengthOffset = 12;  // uint32 key_length
inline constexpr std::size_t kHeaderKeyHashOffset = 16;    // uint32 key_hash (a 32-bit hash of the
                                                           // key) 20: uint32 padding, 0
inline constexpr uint64_t kInitialMagic = 0xfcfb6d1ba7725c30ULL;
// The entry file version this reader knows; Chromium has written 5 since 2013
// and upgrades older folders before use.
inline constexpr uint32_t kEntryVersion = 5;

// --- EndRecord: closes each stream of a `_0` file -----------------------------
inline constexpr std::size_t kEndRecordSize = 24;
inline constexpr std::size_t kEndMagicOffset = 0;        // uint64 final_magic_number
inline constexpr std::size_t kEndFlagsOffset = 8;        // uint32 flags (below)
inline constexpr std::size_t kEndCrc32Offset = 12;       // uint32 CRC-32 of the stream's data
inline constexpr std::size_t kEndStreamSizeOffset = 16;  // uint32 stream size (read from stream 0's
                                                         // record only) 20: uint32 padding, 0
inline constexpr uint64_t kFinalMagic = 0xf4fa6f45970d41d8ULL;
// The record's CRC-32 (zlib's, of the stream's bytes) is valid. Chromium sets
// it when the stream was written in one go from its start, which is how HTTP
// bodies and stream 0 are written; end records are written when the entry is
// closed, so a stream that does not match its CRC-32 was being rewritten.
inline constexpr uint32_t kFlagHasCrc32 = 1u << 0;
inline constexpr uint32_t kFlagHasKeySha256 = 1u << 1;  // the key's SHA-256 precedes the record
inline constexpr std::size_t kKeySha256Size = 32;

// --- index-dir/the-real-index: the entries' last use -------------------------
// A pickle, little-endian: uint32 payload size, uint32 CRC-32 (zlib's) of the
// payload, then the payload, every field at a multiple of 4 from its start:
//   uint64 magic (kIndexMagic), uint32 version, uint64 entry count,
//   uint64 cache size, uint32 why it was written (versions 7 and later)
//   per entry (kIndexEntrySize bytes): uint64 hash (the 16 hex digits of the
//     entry's file names), int64 last use (µs since 1601, whole seconds; 0
//     when unknown), uint64 size and flags
//   int64 the cache folder's modification time when the index was written
// Chromium writes it a little after changes and when it closes the cache:
// it may lack the newest entries and name some that are gone. An index whose
// CRC-32 does not match (one being written, or damaged) is not used.
inline constexpr const char* kIndexFolder = "index-dir";
inline constexpr const char* kIndexFile = "the-real-index";
inline constexpr uint64_t kIndexMagic = 0x656e74657220796fULL;
inline constexpr uint32_t kIndexVersionMin = 6;
inline constexpr uint32_t kIndexVersionWithReason = 7;
inline constexpr uint32_t kIndexVersionMax = 9;
inline constexpr std::size_t kIndexEntrySize = 24;
// Past this the file is not read: some 2.8 million entries.
inline constexpr uint64_t kMaxIndexSize = uint64_t{64} << 20;

// --- The `_s` file: media fetched in ranges ------------------------------------
// Media (video, sound) is fetched with Range requests. Its entry's `_0` file
// holds the response info of the first answer, a 206 with
//   Content-Range: bytes 0-N/TOTAL
// and an empty stream 1; the bytes lie in the `_s` file:
//   EntryHeader                 (kHeaderSize bytes; version kSparseVersionMin
//                                to kSparseVersionMax; Chromium writes 9)
//   key                         (key_length bytes, the `_0` file's key)
//   ranges, to the file's end:  SparseRangeHeader, then `length` bytes
// Ranges are appended as the bytes arrive, in any order of their offsets, and
// never overlap (a write over bytes already there rewrites them in place); a
// clip played through is several ranges that together cover [0, TOTAL), one
// cut off part way leaves a gap.
inline constexpr uint32_t kSparseVersionMin = 7;
inline constexpr uint32_t kSparseVersionMax = 9;

// SparseRangeHeader, all little-endian:
inline constexpr std::size_t kSparseRangeHeaderSize = 32;
inline constexpr std::size_t kRangeMagicOffset = 0;    // uint64 magic
inline constexpr std::size_t kRangeOffsetOffset = 8;   // uint64 offset in the resource
inline constexpr std::size_t kRangeLengthOffset = 16;  // uint64 length of the data
inline constexpr std::size_t kRangeCrc32Offset = 24;   // uint32 CRC-32 of the data; 0: none
                                                       // (a range rewritten in part)
                                                       // 28: uint32 padding
inline constexpr uint64_t kSparseRangeMagic = 0xeb97bf016553676bULL;
// At most this many ranges are read from one `_s` file.
inline constexpr std::size_t kMaxSparseRanges = 1u << 20;

// --- The `index` marker (FakeIndexData) ----------------------------------------
// uint64 magic, uint32 version, uint32 unused, uint32 unused, uint32 padding.
inline constexpr std::size_t kIndexMarkerSize = 24;
inline constexpr uint64_t kIndexMarkerMagic = kInitialMagic;
// `index-dir/the-real-index` starts with a pickle whose first number after
// the pickle header is this magic (simple_index_file.cc).
inline constexpr uint64_t kRealIndexMagic = 0x656e74657220796fULL;

// --- File names -----------------------------------------------------------------
inline constexpr std::size_t kEntryHashDigits = 16;  // hex digits before the suffix
inline constexpr const char* kStreams01Suffix = "_0";
inline constexpr const char* kStream2Suffix = "_1";
inline constexpr const char* kSparseSuffix = "_s";

// Limits this reader puts on untrusted numbers (Chromium itself has none this
// tight; real keys and response infos are far smaller).
inline constexpr uint32_t kMaxKeyLength = 1u << 20;    // 1 MiB
inline constexpr uint32_t kMaxStream0Size = 4u << 20;  // 4 MiB

}  // namespace harvix::simplecache
