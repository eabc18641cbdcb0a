// Copying an entry's stored bytes into a new file: the one way a reader's
// bytes reach a copy.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/NewFile.h"
#include "readers/CacheReader.h"

namespace harvix {

// Decoded copies stop at this many bytes: a small stored body that expands
// without end cannot fill the disk.
inline constexpr uint64_t kMaxDecodedBody = uint64_t{4} << 30;

// The file that holds `source`'s bytes: the reader's handle where it gave
// one, else `source.file` opened below its root (no links out of
// the cache, no FIFOs, regular files only). Throws ErrorReport FileOpen when
// it cannot be opened so, FileRead when it is shorter than the range.
std::shared_ptr<const FileHandle> openBody(const CacheReader& reader, const BodySource& source);

// Opens bodySource(entry).file below the reader's root (no links out of the
// cache, no FIFOs, regular files only), checks that the file holds the whole
// stored range and writes exactly its bytes to `out` (decoded when the body
// was sent with a Content-Encoding). Throws ErrorReport on any failure:
// FileOpen (the cached file cannot be opened safely), FileRead (it is
// shorter than its record, or a read fails; EBUSY when the bytes do not
// match the CRC-32 the cache keeps for them), FileCopy (the bytes could not
// be written), Unsupported (an encoding this build cannot decode). `out` is
// then incomplete and must be discarded.
void copyBody(const CacheReader& reader, const CacheEntry& entry, NewFile& out);

// Copies the entry's bytes into the file `target`, which receives its name
// only when complete and never replaces an existing file (EEXIST). Throws
// ErrorReport on any failure; no file is left then.
void copyBodyToFile(const CacheReader& reader, const CacheEntry& entry, const fs::path& target);

}  // namespace harvix
