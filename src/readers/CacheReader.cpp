#include "readers/CacheReader.h"

namespace harvix {

std::vector<const CacheEntry*> Reading::view() const {
    std::vector<const CacheEntry*> all;
    all.reserve(entries.size());
    for (const auto& entry : entries) {
        all.push_back(entry.get());
    }
    return all;
}

std::optional<ErrorReport> openCache(CacheReader& reader) {
    try {
        reader.open();
    } catch (const ErrorReport& report) {
        reader.close();
        return report;
    }
    return std::nullopt;
}

Reading readCache(CacheReader& reader) {
    Reading reading;
    reader.readEntries(reading.entries, reading.skipped);
    for (std::size_t i = 0; i < reading.entries.size(); ++i) {
        reading.entries[i]->index = static_cast<uint32_t>(i);
    }
    return reading;
}

}  // namespace harvix
