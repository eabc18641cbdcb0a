// The parts of WinINet's URL cache index (`index.dat`) that the program looks
// at itself before libmsiecf reads the file (the library parses the rest).
// Numbers are little-endian. Offsets of the header are from the file's
// start; offsets of a record from the record's start.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace harvix::url_cache_index {

// ---- Header ----
// The signature, 28 bytes with its closing zero. Wine writes the Microsoft
// layout under a signature of its own, which libmsiecf does not know.
inline constexpr std::string_view kWineSignature{"WINE URLCache Ver 0.2012001", 28};
inline constexpr std::string_view kMicrosoftSignature{"Client UrlCache MMF Ver 5.2", 28};
static_assert(kWineSignature.size() == kMicrosoftSignature.size());
// The format version's first digit inside the signature: '5' (5.2) or '4' (4.7).
inline constexpr std::size_t kVersionDigit = 0x18;
// Offset of the first hash table (0: none).
inline constexpr std::size_t kFirstHashTable = 0x20;
// Number of cache directories, then their list: 12 bytes each (a file count
// and an 8-byte name), up to the allocation table.
inline constexpr std::size_t kDirectoryCount = 0x48;
inline constexpr std::size_t kDirectoryList = 0x4C;
inline constexpr std::size_t kDirectoryEntrySize = 12;
inline constexpr std::size_t kAllocationTable = 0x250;
inline constexpr uint32_t kMaxDirectories =
    static_cast<uint32_t>((kAllocationTable - kDirectoryList) / kDirectoryEntrySize);

// ---- Records ----
// Records occupy whole blocks of 128 bytes.
inline constexpr std::size_t kBlockSize = 128;
// Every record: a 4-byte signature, then its size in blocks.
inline constexpr std::size_t kRecordSignature = 0;
inline constexpr std::size_t kRecordBlockCount = 4;
inline constexpr std::string_view kUrlSignature{"URL ", 4};
inline constexpr std::string_view kHashSignature{"HASH", 4};
inline constexpr std::string_view kRedirectSignature{"REDR", 4};
inline constexpr std::string_view kLeakSignature{"LEAK", 4};
// A hash table names the next table in its chain (0 ends it).
inline constexpr std::size_t kHashNextTable = 8;
// A URL record (layout 5.2; the older 4.7 layout has each 4 bytes later):
inline constexpr std::size_t kUrlLocation = 0x34;    // offset of the URL text in the record
inline constexpr std::size_t kUrlHeaderData = 0x44;  // offset of the stored header text
inline constexpr std::size_t kUrlHeaderSize = 0x48;  // its size
inline constexpr std::size_t kOlderLayoutShift = 4;

// The cache-directory index of a record whose file lies in the container
// folder itself rather than in one of its cache directories.
inline constexpr uint8_t kNoSubdirectory = 0xFE;

}  // namespace harvix::url_cache_index
