#include "filter/CopyTests.h"

#include <optional>

#include "base/ErrorReport.h"
#include "filter/ImageSize.h"
#include "platform/FileRead.h"
#include "platform/Path.h"
#include "readers/BodyCopy.h"

namespace harvix {

bool itemTestsCopy(const FilterItem& item, bool sizeOnCopy) {
    return (sizeOnCopy && item.minSize > 0) || (item.minWidth != 0 && item.minHeight != 0);
}

bool copyPassesItem(const FilterItem& item, const NewFile& copy, uint64_t size, bool sizeOnCopy) {
    if (sizeOnCopy && item.minSize > 0 && size < static_cast<uint64_t>(item.minSize)) {
        return false;
    }
    if (item.minWidth != 0 && item.minHeight != 0) {
        return measurePicture(reopenForReading(copy.fd())).atLeast(item.minWidth, item.minHeight);
    }
    return true;
}

bool itemsTakeEntry(const CacheReader& reader, const CacheEntry& entry,
                    std::span<const FilterItem> items, const fs::path& scratch) {
    // Asked once per entry and only where a minimum size needs it.
    std::optional<bool> decoded;
    NewFile copy;
    uint64_t size = 0;
    for (const FilterItem& item : items) {
        if (item.disabled) {
            continue;
        }
        if (item.minSize > 0 && !decoded) {
            decoded = copyIsDecoded(reader, entry);
        }
        const bool sizeOnCopy = decoded.value_or(false);
        if (!item.matches(entry, !sizeOnCopy)) {
            continue;
        }
        if (!itemTestsCopy(item, sizeOnCopy)) {
            return true;
        }
        if (!copy) {
            copy = NewFile::create(scratch);
            if (!copy) {
                throw ErrorReport(ErrorReport::FilterCache, ErrorReport::CreateFolder,
                                  pathToUtf8(scratch), {}, copy.error());
            }
            size = copyBody(reader, entry, copy);
        }
        if (copyPassesItem(item, copy, size, sizeOnCopy)) {
            return true;
        }
    }
    return false;
}

}  // namespace harvix
