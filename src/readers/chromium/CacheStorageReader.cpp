#include "readers/chromium/CacheStorageReader.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <system_error>

#include "base/ContentType.h"
#include "platform/FileHandle.h"
#include "platform/Path.h"
#include "readers/chromium/CacheStorage.h"
#include "readers/chromium/CacheStorageFormat.h"
#include "readers/chromium/ChromiumFiles.h"
#include "readers/chromium/SimpleCacheFormat.h"
#include "readers/chromium/SimpleCacheParser.h"

namespace harvix {

namespace cs = cachestorage;
namespace sc = simplecache;

namespace {

bool isHexDigits(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// "<16 hex>_0": an entry's file.
bool isEntryFileName(const std::string& name) {
    return name.size() == sc::kEntryHashDigits + 2 &&
           name.compare(sc::kEntryHashDigits, 2, sc::kStreams01Suffix) == 0 &&
           isHexDigits(std::string_view(name).substr(0, sc::kEntryHashDigits));
}

bool isOriginFolderName(const std::string& name) {
    return name.size() == cs::kOriginFolderDigits && isHexDigits(name);
}

// 8-4-4-4-12 hex digits: a cache's folder.
bool isCacheFolderName(std::string_view name) {
    if (name.size() != cs::kCacheFolderLength) {
        return false;
    }
    for (std::size_t i = 0; i < name.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? name[i] != '-' : !isHexDigits(name.substr(i, 1))) {
            return false;
        }
    }
    return true;
}

// The sub-folders of `folder` whose names `accept` takes, in name order.
template <typename Accept>
std::vector<fs::path> foldersIn(const fs::path& folder, Accept accept, bool* failed = nullptr) {
    std::vector<fs::path> found = subfoldersOf(folder, failed);
    std::erase_if(found, [&accept](const fs::path& f) { return !accept(f.filename().string()); });
    return found;
}

std::string relativeName(const fs::path& file, const fs::path& root) {
    const fs::path relative = file.lexically_relative(root);
    return relative.empty() || *relative.begin() == ".." ? file.filename().string()
                                                         : relative.generic_string();
}

// The profile folder's store, when it has one.
bool profileStore(const fs::path& profile, fs::path& store) {
    store = profile / cs::kServiceWorkerFolder / cs::kCacheStorageFolder;
    return isFolderNotLink(store);
}

}  // namespace

bool isCacheStorageFolder(const fs::path& folder) {
    const fs::path named = folder.has_filename() ? folder : folder.parent_path();
    const std::string name = named.filename().string();
    return isFolderNotLink(named) && (name == cs::kCacheStorageFolder ||
                                      (isOriginFolderName(name) &&
                                       named.parent_path().filename() == cs::kCacheStorageFolder));
}

std::vector<chromium::CacheFolder> findCacheStorages(const fs::path& given) {
    std::vector<chromium::CacheFolder> found;
    fs::path folder = namedFolder(given);
    if (folder.empty()) {
        return found;
    }
    // A store, or an origin folder in one: the whole store is read.
    if (isCacheStorageFolder(folder)) {
        if (folder.filename() != cs::kCacheStorageFolder) {
            folder = folder.parent_path();
        }
        found.push_back({folder.parent_path().parent_path().parent_path(), folder});
        return found;
    }
    fs::path store;
    if (folder.filename() == cs::kServiceWorkerFolder &&
        isFolderNotLink(folder / cs::kCacheStorageFolder)) {
        found.push_back({folder.parent_path().parent_path(), folder / cs::kCacheStorageFolder});
        return found;
    }
    if (profileStore(folder, store)) {
        found.push_back({folder.parent_path(), store});
        return found;
    }
    for (const fs::path& profile : subfoldersOf(folder)) {
        if (profileStore(profile, store)) {
            found.push_back({folder, store});
        }
    }
    return found;
}

CacheStorageReader::CacheStorageReader(std::string location, std::vector<fs::path> places)
    : location_(std::move(location)), places_(std::move(places)) {}

void CacheStorageReader::open() {
    close();
    const std::vector<fs::path> places =
        !location_.empty() ? std::vector<fs::path>{pathFromUtf8(location_)} : places_;
    for (const fs::path& place : places) {
        for (chromium::CacheFolder& store : findCacheStorages(place)) {
            fs::path resolved = resolveFolder(store.folder);
            if (!resolved.empty() &&
                std::find(resolved_.begin(), resolved_.end(), resolved) == resolved_.end()) {
                resolved_.push_back(std::move(resolved));
                stores_.push_back(std::move(store));
            }
        }
    }
    if (stores_.empty()) {
        const fs::path tried = places.empty() ? fs::path() : places.front();
        throw ErrorReport(ErrorReport::ChromiumCache, ErrorReport::CacheOpen, pathToUtf8(tried), {},
                          ENOENT);
    }
    root_ = resolved_.front();
}

void CacheStorageReader::close() {
    stores_.clear();
    resolved_.clear();
    caches_.clear();
    root_.clear();
}

void CacheStorageReader::readEntries(std::vector<std::unique_ptr<CacheEntry>>& out,
                                     SkipCounts& skipped) {
    bool stopped = false;
    for (uint32_t store = 0; store < stores_.size() && !stopped; ++store) {
        bool unlisted = false;
        const std::vector<fs::path> origins = foldersIn(
            stores_[store].folder, [](const std::string& n) { return isOriginFolderName(n); },
            &unlisted);
        if (unlisted) {
            skipped.add("unreadable cache folder (the store cannot be listed)");
        }
        for (const fs::path& origin : origins) {
            // The index names the caches; a cache folder it does not name
            // (one made after the index was last written) is read too.
            std::vector<NamedCache> named;
            std::vector<unsigned char> bytes;
            const FileHandle index =
                FileHandle::openBelow(resolved_[store], origin / cs::kIndexName);
            if (index && index.size() <= cs::kMaxIndexSize) {
                bytes.resize(static_cast<std::size_t>(index.size()));
                std::optional<chromium::CacheStorageIndex> parsed;
                if (index.readExactAt(0, bytes.data(), bytes.size())) {
                    parsed = chromium::parseCacheStorageIndex(bytes);
                }
                if (!parsed) {
                    skipped.add("damaged cache index");
                } else {
                    for (const auto& cache : parsed->caches) {
                        if (isCacheFolderName(cache.folder)) {
                            named.push_back(
                                {store, origin / cache.folder, cache.name, parsed->origin});
                        }
                    }
                }
            } else if (index) {
                skipped.add("damaged cache index");
            }
            for (const fs::path& folder : foldersIn(origin, isCacheFolderName)) {
                const bool listed = std::any_of(named.begin(), named.end(),
                                                [&](const auto& c) { return c.folder == folder; });
                if (!listed) {
                    named.push_back({store, folder, {}, {}});
                }
            }
            for (NamedCache& cache : named) {
                if (stopped) {
                    return;
                }
                if (!isFolderNotLink(cache.folder)) {
                    continue;  // named, but deleted since
                }
                caches_.push_back(std::move(cache));
                const auto cacheIndex = static_cast<uint32_t>(caches_.size() - 1);
                readCache(caches_.back(), cacheIndex, out, skipped, stopped);
            }
        }
    }
}

void CacheStorageReader::readCache(const NamedCache& cache, uint32_t cacheIndex,
                                   std::vector<std::unique_ptr<CacheEntry>>& out,
                                   SkipCounts& skipped, bool& stopped) {
    std::vector<std::string> names;
    std::error_code error;
    fs::directory_iterator it(cache.folder, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        std::string name = it->path().filename().string();
        if (isEntryFileName(name)) {
            names.push_back(std::move(name));
        }
    }
    if (error) {
        skipped.add("unreadable cache folder (" + error.message() + ")");
    }
    std::sort(names.begin(), names.end());
    const std::vector<chromium::IndexedUse> uses = chromium::readSimpleIndex(cache.folder);
    const chromium::CacheFolder& store = stores_[cache.store];
    chromium::SimpleEntryFile parsed;
    for (const std::string& name : names) {
        if (!keepReading(out)) {
            stopped = true;
            return;
        }
        const fs::path path = cache.folder / name;
        FileHandle handle = FileHandle::openBelow(resolved_[cache.store], path);
        if (!handle) {
            skipped.add("unreadable entry file");
            continue;
        }
        const chromium::CacheFile file(std::move(handle));
        const chromium::SimpleEntryProblem problem = chromium::parseSimpleEntry(file, parsed);
        if (problem != chromium::SimpleEntryProblem::None) {
            skipped.add(chromium::describe(problem));
            continue;
        }
        chromium::CacheStorageRecord record;
        if (const char* reason = chromium::acceptCacheStorageEntry(parsed.key, parsed.stream0,
                                                                   parsed.bodyLength, record)) {
            skipped.add(reason);
            continue;
        }
        auto entry = std::make_unique<CacheStorageEntry>();
        entry->url = std::move(record.url);
        entry->contentTypeText = std::move(record.contentTypeText);
        entry->contentType = contentTypeCode(entry->contentTypeText);
        entry->size = parsed.bodyLength;
        entry->time = record.time;
        entry->status = record.status;
        if (record.responseTime) {
            entry->responseTime = *record.responseTime;
        }
        entry->dataFile = relativeName(path, store.browserRoot);
        const uint64_t hash = std::stoull(name.substr(0, sc::kEntryHashDigits), nullptr, 16);
        if (const int64_t lastUsed = chromium::lastUseOf(uses, hash); lastUsed > 0) {
            entry->lastUsed = lastUsed;
        }
        entry->cache = cacheIndex;
        entry->bodyOffset = static_cast<uint32_t>(parsed.bodyOffset);
        entry->bodyCrc32 = parsed.bodyCrc32;
        entry->hasBodyCrc32 = parsed.bodyHasCrc32;
        keepEntry(out, std::move(entry));
    }
}

const CacheStorageEntry& CacheStorageReader::ownEntry(const CacheEntry& entry) const {
    const auto* own = dynamic_cast<const CacheStorageEntry*>(&entry);
    if (own == nullptr || own->cache >= caches_.size()) {
        throw ErrorReport(ErrorReport::ChromiumCache, ErrorReport::FileRead, entry.dataFile, {},
                          EINVAL);
    }
    return *own;
}

BodySource CacheStorageReader::bodySource(const CacheEntry& entry) const {
    const CacheStorageEntry& own = ownEntry(entry);
    const NamedCache& cache = caches_[own.cache];
    BodySource source;
    source.file = cache.folder / fs::path(own.dataFile).filename();
    source.offset = own.bodyOffset;
    source.length = own.size;
    source.root = resolved_[cache.store];
    if (own.hasBodyCrc32) {
        source.crc32 = own.bodyCrc32;
    }
    return source;
}

std::string CacheStorageReader::responseHead(const CacheEntry& entry) const {
    return storedHead(entry, false);
}

std::optional<std::string> CacheStorageReader::archiveHead(const CacheEntry& entry) const {
    return storedHead(entry, true);
}

std::string CacheStorageReader::storedHead(const CacheEntry& entry, bool forDecodedBody) const {
    const auto* own = dynamic_cast<const CacheStorageEntry*>(&entry);
    if (own == nullptr || own->cache >= caches_.size()) {
        return {};
    }
    const NamedCache& cache = caches_[own->cache];
    FileHandle handle = FileHandle::openBelow(resolved_[cache.store],
                                              cache.folder / fs::path(own->dataFile).filename());
    if (!handle) {
        return {};
    }
    chromium::SimpleEntryFile parsed;
    if (chromium::parseSimpleEntry(chromium::CacheFile(std::move(handle)), parsed) !=
        chromium::SimpleEntryProblem::None) {
        return {};
    }
    const std::optional<chromium::CacheMetadata> metadata =
        chromium::parseCacheMetadata(parsed.stream0);
    return metadata ? metadata->head(forDecodedBody) : std::string();
}

}  // namespace harvix
