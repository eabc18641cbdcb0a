// The tests a filter item makes on the copy of an entry rather than on the
// entry itself: the minimum size of a body stored encoded (it is as large
// as it decodes) and the picture size (measured by the picture probe on the
// served bytes). A comb makes them on the copy it is about to name; an
// export, which keeps the stored bytes, makes them on a scratch copy.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

#include "filter/FilterSet.h"
#include "platform/NewFile.h"
#include "readers/CacheReader.h"

namespace harvix {

namespace fs = std::filesystem;

// True when `item` asks for a test on the copy: a picture size, or a
// minimum size where the copy is decoded (`sizeOnCopy`).
bool itemTestsCopy(const FilterItem& item, bool sizeOnCopy);

// Whether `item` keeps `copy`, the complete copy of an entry it matched, of
// `size` bytes: at least its minimum size where that is tested on the copy
// (`sizeOnCopy`), and a picture of at least its width and height. A file the
// probe cannot measure cannot show that it has the size, so it fails; a
// picture that states no size (an SVG) passes.
bool copyPassesItem(const FilterItem& item, const NewFile& copy, uint64_t size, bool sizeOnCopy);

// Whether an enabled item of `items` takes `entry` as a comb does: type,
// size and URL parts, then the tests on the copy. Where one is needed the
// served bytes are copied (decoded) once into an anonymous file in
// `scratch`, which is never named and goes when the test is done. Throws
// ErrorReport when that copy cannot be made (CreateFolder) or the entry's
// bytes cannot be read or decoded (as copyBody).
bool itemsTakeEntry(const CacheReader& reader, const CacheEntry& entry,
                    std::span<const FilterItem> items, const fs::path& scratch);

}  // namespace harvix
