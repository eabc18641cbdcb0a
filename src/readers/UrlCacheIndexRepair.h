// Repairs made to the copy in memory of a URL cache index before libmsiecf
// reads it (the file itself is never written). Each one puts right a
// damage the library would otherwise meet with a crash, a leak, unbounded
// memory or a walk without end; a sound index passes through unchanged.
// Each takes the index's bytes and returns them repaired; the layout they
// use is UrlCacheIndexFormat.h.
#pragma once

#include <cstdint>
#include <vector>

namespace harvix::url_cache_index {

using IndexBytes = std::vector<uint8_t>;

// Every repair below, in the order they depend on each other.
IndexBytes repairIndex(IndexBytes bytes);

// Wine writes the Microsoft layout under a signature of its own, which
// libmsiecf does not know: it is made the Microsoft signature.
IndexBytes putRightWineSignature(IndexBytes bytes);

// The header names the first hash table, each table the next, 0 ending the
// chain. libmsiecf follows the chain without remembering where it has been,
// so a link back into the chain would keep it walking for ever: such a link
// is made 0, and the tables before it stay readable. The block count of
// each table on the chain is bounded as boundRecordSizes does.
IndexBytes cutHashTableLoops(IndexBytes bytes);

// A record's size is its block count times 128, in 32-bit arithmetic.
// libmsiecf allocates and reads a record by that size, and finds the records
// by a scan that starts at the first hash table's offset (0, the header,
// included) and steps from record to record by it. A count of 0, or one
// beyond the blocks left in the file, would ask for gigabytes or keep the
// scan on one spot: it is made 1, so that the scan steps past the damaged
// record as past any unknown block.
IndexBytes boundRecordSizes(IndexBytes bytes);

// libmsiecf allocates the list of cache directories by the header's count as
// it stands: the count is kept to what the header can list.
IndexBytes boundDirectoryCount(IndexBytes bytes);

// Two offsets of a URL record that libmsiecf trusts too far:
//  - its location (URL): an offset past the record's end makes the library
//    give up on the record without releasing its copy of it, so every read
//    loses the record's size in memory. It is made 0 (no location); the
//    record then reads without a URL, which the reader passes over.
//  - its header data with the size after it: the library checks offset +
//    size in 32-bit arithmetic, so a size that wraps the sum passes and it
//    then copies gigabytes from past the record. Such a size is made one
//    byte more than the record holds after the offset, which the library
//    refuses as it does every other size too large.
// The older 4.7 layout has each offset 4 bytes later.
IndexBytes mendUrlRecordOffsets(IndexBytes bytes);

}  // namespace harvix::url_cache_index
