#include "readers/CacheReader.h"

#include "base/ErrorReport.h"

namespace harvix {

bool CacheReader::tryOpen() {
    openError.reset();
    try {
        open();
    } catch (const ErrorReport& report) {
        close();
        openError = report;
        return false;
    }
    return true;
}

void CacheReader::loadEntries() {
    entries.clear();
    skips = SkipCounts{};
    readEntries(entries, skips);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        entries[i]->index = static_cast<uint32_t>(i);
    }
}

}  // namespace harvix
