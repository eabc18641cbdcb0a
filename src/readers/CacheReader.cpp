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

void CacheReader::keepEntry(std::vector<std::unique_ptr<CacheEntry>>& out,
                            std::unique_ptr<CacheEntry> entry) {
    if (sink_) {
        entry->index = handedOn_++;
        sink_(std::move(entry));
        return;
    }
    entry->index = static_cast<uint32_t>(out.size());
    out.push_back(std::move(entry));
}

SkipCounts streamCache(CacheReader& reader, const std::function<void(const CacheEntry&)>& each) {
    SkipCounts skipped;
    std::vector<std::unique_ptr<CacheEntry>> none;
    reader.setEntrySink([&each](std::unique_ptr<CacheEntry> entry) { each(*entry); });
    try {
        reader.readEntries(none, skipped);
    } catch (...) {
        reader.setEntrySink({});
        throw;
    }
    reader.setEntrySink({});
    return skipped;
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
