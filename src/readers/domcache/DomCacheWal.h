// The write-ahead log beside caches.sqlite (caches.sqlite-wal). While
// Firefox runs, and after it was killed, the rows it committed last are in
// this log, not yet in the database file. The reader never lets SQLite open
// the log (that would make a -shm file beside it): it checks the log itself
// and lays its committed pages over the database's bytes in memory.
//
// The log: a 32-byte header, then frames of a 24-byte header and one page.
//   header  magic (0x377f0682: checksums over little-endian words,
//           0x377f0683: big-endian), version 3007000, page size,
//           checkpoint sequence, salt 1, salt 2, checksum 1, checksum 2
//           (all big-endian 32-bit; the checksum covers the first 24 bytes)
//   frame   page number, database size in pages after a commit (0 in a
//           frame that ends no transaction), salt 1, salt 2, checksum 1,
//           checksum 2 (covering the frame header's first 8 bytes and the
//           page, carried on from the frame before)
// A frame counts only while its salts are the header's and its checksum
// holds; the log is read up to the last commit frame before the first frame
// that does not count. Frames after it are a transaction never committed or
// a torn write, and are left out as SQLite leaves them out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace harvix::domcache {

inline constexpr std::size_t kWalHeaderSize = 32;
inline constexpr std::size_t kWalFrameHeaderSize = 24;
inline constexpr uint32_t kWalMagicLittleEndian = 0x377f0682;
inline constexpr uint32_t kWalMagicBigEndian = 0x377f0683;
inline constexpr uint32_t kWalVersion = 3007000;
inline constexpr const char* kWalSuffix = "-wal";

// Reads exactly `length` bytes of the log at `offset`; false when it cannot.
using WalRead = std::function<bool(uint64_t offset, unsigned char* into, std::size_t length)>;

enum class WalOutcome {
    None,        // no log, or none that applies (other page size, no commit)
    Applied,     // committed pages laid over the database
    TooLarge,    // the committed database would pass `maxSize`: nothing applied
    Unreadable,  // a read failed: `database` is left half laid over, of no use
};

// Lays the committed frames of the log (`walSize` bytes, read through
// `read`) over `database`, which then holds as many pages as the last
// commit says. `database` may be empty (every page in the log). At most
// `walSize` bytes are read: the caller bounds it, frames past the bound
// count as a tail that never came.
WalOutcome applyWal(std::vector<unsigned char>& database, uint64_t walSize, const WalRead& read,
                    uint64_t maxSize);

}  // namespace harvix::domcache
