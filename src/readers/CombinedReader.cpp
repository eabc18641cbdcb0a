#include "readers/CombinedReader.h"

#include <algorithm>
#include <cerrno>

#include "base/ErrorReport.h"

namespace harvix {

CombinedReader::CombinedReader(std::vector<std::unique_ptr<CacheReader>> stores)
    : stores_(std::move(stores)) {
    stores_.erase(std::remove(stores_.begin(), stores_.end(), nullptr), stores_.end());
    if (stores_.size() > 255) {
        stores_.resize(255);
    }
}

void CombinedReader::open() {
    close();
    std::optional<ErrorReport> firstFailure;
    open_.assign(stores_.size(), false);
    for (std::size_t i = 0; i < stores_.size(); ++i) {
        if (std::optional<ErrorReport> failure = openCache(*stores_[i])) {
            if (!firstFailure) {
                firstFailure = std::move(failure);
            }
            continue;
        }
        open_[i] = true;
        if (root_.empty()) {
            root_ = stores_[i]->root();
        }
    }
    if (root_.empty()) {
        open_.assign(stores_.size(), false);
        if (firstFailure) {
            throw *firstFailure;
        }
        throw ErrorReport(ErrorReport::CacheReader, ErrorReport::CacheOpen, {}, {}, ENOENT);
    }
}

void CombinedReader::close() {
    for (const auto& store : stores_) {
        store->close();
    }
    open_.assign(stores_.size(), false);
    root_.clear();
}

void CombinedReader::readEntries(std::vector<std::unique_ptr<CacheEntry>>& out,
                                 SkipCounts& skipped) {
    bool stopped = false;
    for (std::size_t i = 0; i < stores_.size() && !stopped; ++i) {
        if (!isOpen(i)) {
            continue;
        }
        // The store reads into the same list, so the watch sees every entry
        // read so far; a watch that says stop stops the whole reading.
        stores_[i]->setReadingWatch([this, &stopped](const auto& read) {
            stopped = stopped || !keepReading(read);
            return !stopped;
        });
        // Every entry passes through here, marked with its store, to be
        // kept or handed on as this reader does.
        stores_[i]->setEntrySink([this, i, &out](std::unique_ptr<CacheEntry> entry) {
            entry->store = static_cast<uint8_t>(i);
            keepEntry(out, std::move(entry));
        });
        try {
            stores_[i]->readEntries(out, skipped);
        } catch (...) {
            stores_[i]->setReadingWatch({});
            stores_[i]->setEntrySink({});
            throw;
        }
        stores_[i]->setReadingWatch({});
        stores_[i]->setEntrySink({});
    }
}

const CacheReader& CombinedReader::storeOf(const CacheEntry& entry) const {
    if (!isOpen(entry.store)) {
        throw ErrorReport(ErrorReport::CacheReader, ErrorReport::FileOpen, entry.dataFile, {},
                          EINVAL);
    }
    return *stores_[entry.store];
}

BodySource CombinedReader::bodySource(const CacheEntry& entry) const {
    const CacheReader& store = storeOf(entry);
    BodySource source = store.bodySource(entry);
    // The store's own root, where the store leaves it to its reader.
    if (source.root.empty()) {
        source.root = store.root();
    }
    return source;
}

std::string CombinedReader::responseHead(const CacheEntry& entry) const {
    if (!isOpen(entry.store)) {
        return {};
    }
    return stores_[entry.store]->responseHead(entry);
}

std::vector<fs::path> CombinedReader::cacheFolders() const {
    std::vector<fs::path> all;
    for (std::size_t i = 0; i < stores_.size(); ++i) {
        if (!isOpen(i)) {
            continue;
        }
        for (fs::path& folder : stores_[i]->cacheFolders()) {
            if (std::find(all.begin(), all.end(), folder) == all.end()) {
                all.push_back(std::move(folder));
            }
        }
    }
    return all;
}

std::string CombinedReader::cacheLocation() const {
    return stores_.empty() ? std::string() : stores_.front()->cacheLocation();
}

std::unique_ptr<CacheReader> combineStores(std::unique_ptr<CacheReader> first,
                                           std::vector<std::unique_ptr<CacheReader>> more) {
    more.erase(std::remove(more.begin(), more.end(), nullptr), more.end());
    if (more.empty()) {
        return first;
    }
    more.insert(more.begin(), std::move(first));
    return std::make_unique<CombinedReader>(std::move(more));
}

}  // namespace harvix
