// Copying an entry's stored bytes into a new file: the one way a reader's
// bytes reach a copy.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/NewFile.h"
#include "readers/CacheReader.h"

namespace harvix {

// A decoded copy may be at most this many times the size of its stored
// bytes, and may always reach kDecodedSizeFloor: real bodies stay far below
// (text compresses some 5 to 20 times), while a small stored body that
// expands without end (a decompression bomb) fails early instead of filling
// the disk.
inline constexpr uint64_t kDecodedSizeRatio = 1000;
inline constexpr uint64_t kDecodedSizeFloor = uint64_t{64} << 20;

// The most `storedSize` stored bytes may decode to.
constexpr uint64_t maxDecodedSize(uint64_t storedSize) {
    const uint64_t ratio =
        storedSize > UINT64_MAX / kDecodedSizeRatio ? UINT64_MAX : storedSize * kDecodedSizeRatio;
    return ratio < kDecodedSizeFloor ? kDecodedSizeFloor : ratio;
}

// The file that holds `source`'s bytes: the reader's handle where it gave
// one, else `source.file` opened below its root (no links out of
// the cache, no FIFOs, regular files only). Throws ErrorReport FileOpen when
// it cannot be opened so, FileRead when it is shorter than the range or any
// of its pieces (or the pieces do not make up its length).
std::shared_ptr<const FileHandle> openBody(const CacheReader& reader, const BodySource& source);

// The pieces `source`'s bytes are read from, in order: its pieces, or the
// one range at its offset (with its CRC-32).
std::vector<BodyPiece> storedPieces(const BodySource& source);

// Opens bodySource(entry).file below the reader's root (no links out of the
// cache, no FIFOs, regular files only), checks that the file holds the whole
// stored range and writes exactly its bytes to `out` (decoded when the body
// was sent with a Content-Encoding). Returns the size of the copy: the
// stored size, or the decoded size. Throws ErrorReport on any failure:
// FileOpen (the cached file cannot be opened safely), FileRead (it is
// shorter than its record, or a read fails; EBUSY when the bytes do not
// match the CRC-32 the cache keeps for them), FileCopy (the bytes could not
// be written), Unsupported (the stored bytes do not decode; EFBIG when they
// decode to more than maxDecodedSize). `out` is then incomplete and must be
// discarded.
uint64_t copyBody(const CacheReader& reader, const CacheEntry& entry, NewFile& out);

// True when the copy of `entry` is decoded from its stored bytes, so that
// entry.size is not the copy's size: that is known only once copyBody has
// returned it. False when the copy holds the stored bytes as they are, and
// when the entry's body cannot be found (its copy fails).
bool copyIsDecoded(const CacheReader& reader, const CacheEntry& entry);

// Copies the entry's bytes into the file `target`, which receives its name
// only when complete and never replaces an existing file (EEXIST). Throws
// ErrorReport on any failure; no file is left then.
void copyBodyToFile(const CacheReader& reader, const CacheEntry& entry, const fs::path& target);

}  // namespace harvix
