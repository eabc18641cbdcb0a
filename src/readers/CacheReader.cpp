#include "readers/CacheReader.h"

#include "engine/ErrorReport.h"

namespace harvix {

CacheReader::~CacheReader() {
    clearEntries();
}

bool CacheReader::tryOpen() {
    try {
        open();
    } catch (const ErrorReport&) {
        close();
        return false;
    }
    return true;
}

void CacheReader::loadEntries() {
    clearEntries();
    readEntries();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        entries[i]->index = static_cast<uint32_t>(i);
    }
}

void CacheReader::clearEntries() {
    entries.clear();
}

bool CacheReader::copyEntry(const fs::path& target, CacheEntry& entry) {
    try {
        return copyEntryData(entry, target, false);
    } catch (const ErrorReport&) {
        return false;
    }
}

}  // namespace harvix
