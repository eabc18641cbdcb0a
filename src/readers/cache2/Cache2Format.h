// The entry files of Firefox's disk cache since version 32 ("cache2"): every
// offset, number and record layout the reader relies on, in one place. The
// layout follows Firefox's own netwerk/cache2 sources (CacheFileMetadata,
// CacheFileChunk, CacheFileUtils, CacheHashUtils); files written by Firefox
// ESR 153 were checked byte by byte against it.
//
// Folder
//   <local profile folder>/cache2/
//     entries/<40 hex digits>   one file per entry, named by the SHA-1 of its key
//     doomed/                   entries being removed: never read
//     trash<N>/                 old entries folders being deleted: never read
//     index, index.log, ce_*    Firefox's own bookkeeping: not needed here
//
// Entry file
//   [0, metaOffset)             the stored body, exactly as the server sent it
//                               (encoded when it came with a Content-Encoding).
//                               With an "alt-data" element, only
//                               [0, altDataOffset) is the resource; the rest is
//                               another representation (compiled script).
//   [metaOffset, end)           the metadata, below
//
// Metadata (all numbers big-endian)
//   u32    hash            CacheHash (Bob Jenkins' lookup2, initial value 0) of
//                          every following byte up to, not including, the
//                          trailer (version 4) or the offset word (1 to 3)
//   u16[n] chunk hashes    n = ceil(metaOffset / 262144): one per 256 KiB chunk
//                          of the body, the low 16 bits of CacheHash of it
//   header                 32 bytes (28 in version 1):
//     u32  version         1, 2, 3 or 4
//     u32  fetch count
//     u32  last fetched    seconds since 1970
//     u32  last modified   seconds since 1970: the entry's time
//     u32  frecency
//     u32  expiration time seconds since 1970; 0xFFFFFFFF: none (kNoExpiration)
//     u32  key size        bytes of the key, without its terminating NUL
//     u32  flags           version 2 and later; bit 0: pinned
//   key + NUL              tags, then ':' and the URL, e.g.
//                          "O^partitionKey=%28http%2C127.0.0.1%29,a,:http://h/x"
//   elements               name NUL value NUL, repeated; among them
//                          "response-head" (status line and headers, CR LF)
//                          and "alt-data" ("1;<offset>,<type>")
//   u32    trailer         version 4 only: a word Firefox 15x writes after the
//                          elements (4 in every file seen); the hash stops before it
//   u32    metaOffset      the last four bytes of the file
//
// Key tags (CacheFileUtils' key parser): single characters in ascending
// order, each closed by ',': 'O' + origin-attributes suffix, 'a' anonymous,
// 'p' private, 'b' (old), 'i' + number (old), '~' + id enhancement, any other
// tag with an optional value. In a value ",," stands for one comma. The tag
// ':' opens the URL, which runs to the end of the key unescaped.
#pragma once

#include <cstddef>
#include <cstdint>

namespace harvix::cache2 {

inline constexpr std::size_t kHashSize = 4;
inline constexpr std::size_t kChunkHashSize = 2;
inline constexpr uint64_t kChunkSize = 256 * 1024;
inline constexpr std::size_t kOffsetWordSize = 4;
inline constexpr std::size_t kVersion4TrailerSize = 4;

// The header: eight 32-bit words from version 2 on, seven in version 1.
inline constexpr std::size_t kHeaderSize = 32;
inline constexpr std::size_t kHeaderSizeVersion1 = 28;
inline constexpr std::size_t kHeaderVersionAt = 0;
inline constexpr std::size_t kHeaderFetchCountAt = 4;
inline constexpr std::size_t kHeaderLastFetchedAt = 8;
inline constexpr std::size_t kHeaderLastModifiedAt = 12;
inline constexpr std::size_t kHeaderFrecencyAt = 16;
inline constexpr std::size_t kHeaderExpirationAt = 20;
inline constexpr std::size_t kHeaderKeySizeAt = 24;
inline constexpr std::size_t kHeaderFlagsAt = 28;

inline constexpr uint32_t kFirstVersion = 1;
inline constexpr uint32_t kLastVersion = 4;
inline constexpr uint32_t kFlagPinned = 1u << 0;
// The expiration time of an entry that never goes stale by its headers.
inline constexpr uint32_t kNoExpiration = 0xFFFFFFFF;

// Upper bounds on what one entry's metadata may hold. Firefox keeps the
// elements under 64 KiB and keys are URLs; the bounds are generous and exist
// so that a damaged offset word never makes the reader allocate without limit.
inline constexpr std::size_t kMaxKeySize = 256 * 1024;
inline constexpr std::size_t kMaxElementsSize = 256 * 1024;

// Names of elements the reader uses.
inline constexpr const char* kResponseHeadElement = "response-head";
inline constexpr const char* kAltDataElement = "alt-data";
inline constexpr uint32_t kAltDataFormatVersion = 1;

// Entry files are named by 40 hexadecimal digits (upper case as Firefox writes them).
inline constexpr std::size_t kEntryNameLength = 40;

// Folder names inside cache2/.
inline constexpr const char* kEntriesFolder = "entries";
inline constexpr const char* kDoomedFolder = "doomed";
inline constexpr const char* kTrashPrefix = "trash";
inline constexpr const char* kCache2Folder = "cache2";

}  // namespace harvix::cache2
