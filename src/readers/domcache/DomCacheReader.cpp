#include "readers/domcache/DomCacheReader.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <system_error>

#include "base/ContentType.h"
#include "base/Text.h"
#include "platform/FileHandle.h"
#include "platform/Path.h"
#include "readers/domcache/DomCacheDatabase.h"
#include "readers/domcache/DomCacheFormat.h"
#include "readers/domcache/DomCacheWal.h"

namespace harvix {

namespace dc = domcache;

namespace {

bool isStoreFolder(const fs::path& folder) {
    return folder.filename() == dc::kDefaultFolder &&
           folder.parent_path().filename() == dc::kStorageFolder && isFolderNotLink(folder);
}

int64_t modificationTime(const fs::path& file) {
    std::error_code error;
    const fs::file_time_type time = fs::last_write_time(file, error);
    if (error) {
        return 0;
    }
    const auto since1970 = std::chrono::file_clock::to_sys(time).time_since_epoch();
    return std::chrono::duration_cast<std::chrono::seconds>(since1970).count();
}

// Lays the committed rows of the database's write-ahead log, if it has
// one, over its bytes. Returns true, with `why` set, when the database
// cannot be read for it.
bool applyLog(const fs::path& root, const fs::path& cacheFolder, std::vector<unsigned char>& bytes,
              std::string& why) {
    const FileHandle log = FileHandle::openBelow(
        root, cacheFolder / (std::string(dc::kDatabaseName) + dc::kWalSuffix));
    if (!log) {
        if (log.error() == ENOENT) {
            return false;
        }
        why = "unreadable cache database log";
        return true;
    }
    const uint64_t size = std::min(log.size(), dc::kMaxWalSize);
    const auto read = [&log](uint64_t offset, unsigned char* into, std::size_t length) {
        return log.readExactAt(offset, into, length);
    };
    switch (dc::applyWal(bytes, size, read, dc::kMaxDatabaseSize)) {
        case dc::WalOutcome::TooLarge:
            why = "damaged cache database (size)";
            return true;
        case dc::WalOutcome::Unreadable:
            why = "unreadable cache database log";
            return true;
        case dc::WalOutcome::None:
        case dc::WalOutcome::Applied:
            break;
    }
    return false;
}

}  // namespace

fs::path domCacheStoreOf(const fs::path& given) {
    const fs::path folder = namedFolder(given);
    if (folder.empty()) {
        return {};
    }
    // An origin's cache folder, an origin folder, the store, a profile.
    if (folder.filename() == dc::kCacheFolder &&
        isStoreFolder(folder.parent_path().parent_path())) {
        return folder.parent_path().parent_path();
    }
    if (isStoreFolder(folder.parent_path())) {
        return folder.parent_path();
    }
    if (isStoreFolder(folder)) {
        return folder;
    }
    const fs::path store = folder / dc::kStorageFolder / dc::kDefaultFolder;
    return isFolderNotLink(store) ? store : fs::path();
}

fs::path firefoxProfileOfLocalFolder(const FirefoxPlaces& places, const fs::path& local) {
    for (const FirefoxInstall& install : firefoxInstalls(places)) {
        if (install.cacheBase.empty() || install.iniFolder.empty()) {
            continue;
        }
        const fs::path relative = local.lexically_relative(install.cacheBase);
        if (relative.empty() || *relative.begin() == ".." || relative == ".") {
            continue;
        }
        const fs::path profile = install.iniFolder / relative;
        if (!domCacheStoreOf(profile).empty()) {
            return profile;
        }
    }
    return domCacheStoreOf(local).empty() ? fs::path() : local;
}

DomCacheReader::DomCacheReader(std::string location, std::vector<fs::path> profiles)
    : location_(std::move(location)), profiles_(std::move(profiles)) {}

void DomCacheReader::open() {
    close();
    const std::vector<fs::path> places =
        !location_.empty() ? std::vector<fs::path>{pathFromUtf8(location_)} : profiles_;
    for (const fs::path& place : places) {
        const fs::path store = domCacheStoreOf(place);
        if (store.empty()) {
            continue;
        }
        fs::path resolved = resolveFolder(store);
        if (!resolved.empty() &&
            std::find(resolved_.begin(), resolved_.end(), resolved) == resolved_.end()) {
            resolved_.push_back(std::move(resolved));
            stores_.push_back({store.parent_path().parent_path(), store});
        }
    }
    if (stores_.empty()) {
        const fs::path tried = places.empty() ? fs::path() : places.front();
        throw ErrorReport(ErrorReport::MozillaCache, ErrorReport::CacheOpen, pathToUtf8(tried), {},
                          ENOENT);
    }
    root_ = resolved_.front();
}

void DomCacheReader::close() {
    stores_.clear();
    resolved_.clear();
    root_.clear();
}

void DomCacheReader::readEntries(std::vector<std::unique_ptr<CacheEntry>>& out,
                                 SkipCounts& skipped) {
    for (uint32_t store = 0; store < stores_.size(); ++store) {
        std::vector<fs::path> origins;
        std::error_code error;
        fs::directory_iterator it(stores_[store].folder, error);
        for (; !error && it != fs::directory_iterator(); it.increment(error)) {
            if (isFolderNotLink(it->path() / dc::kCacheFolder)) {
                origins.push_back(it->path() / dc::kCacheFolder);
            }
        }
        if (error) {
            skipped.add("unreadable cache folder (" + error.message() + ")");
        }
        std::sort(origins.begin(), origins.end());
        for (const fs::path& origin : origins) {
            if (!keepReading(out)) {
                return;
            }
            readOrigin(store, origin, out, skipped);
        }
    }
}

void DomCacheReader::readOrigin(uint32_t store, const fs::path& cacheFolder,
                                std::vector<std::unique_ptr<CacheEntry>>& out,
                                SkipCounts& skipped) {
    const fs::path& root = resolved_[store];
    const FileHandle database = FileHandle::openBelow(root, cacheFolder / dc::kDatabaseName);
    if (!database) {
        if (database.error() != ENOENT) {
            skipped.add("unreadable cache database");
        }
        return;
    }
    const uint64_t size = database.size();
    std::vector<unsigned char> bytes;
    std::string why;
    std::optional<std::vector<dc::DomCacheRow>> rows;
    if (size > dc::kMaxDatabaseSize) {
        why = "damaged cache database (size)";
    } else {
        bytes.resize(static_cast<std::size_t>(size));
        if (!database.readExactAt(0, bytes.data(), bytes.size())) {
            why = "unreadable cache database";
        } else if (!applyLog(root, cacheFolder, bytes, why)) {
            rows = dc::readDomCacheRows(bytes, why);
        }
    }
    if (!rows) {
        skipped.add(why);
        return;
    }
    for (const dc::DomCacheRow& row : *rows) {
        if (!keepReading(out)) {
            return;
        }
        const char* reason = nullptr;
        const bool opaque = row.responseType == dc::kTypeOpaque && row.status == 0;
        const std::string body = dc::morguePath(row.bodyId);
        if (!row.nameSpace) {
            reason = "cache deleted by the page";
        } else if (*row.nameSpace != dc::kNamespaceContent) {
            reason = "the browser's own cache (service-worker scripts)";
        } else if (!startsWithNoCase(row.url, "http://") &&
                   !startsWithNoCase(row.url, "https://")) {
            reason = "not an http or https entry";
        } else if (row.method != "GET") {
            reason = "not a GET request";
        } else if (!opaque && row.status != 200 && row.status != 203) {
            reason = row.status == 206 ? "partial response (206)" : "status other than 200 or 203";
        } else if (row.bodyId.empty()) {
            reason = "empty body";
        } else if (body.empty()) {
            reason = "damaged body id";
        }
        if (reason != nullptr) {
            skipped.add(reason);
            continue;
        }
        const fs::path file = cacheFolder / body;
        const FileHandle handle = FileHandle::openBelow(root, file);
        if (!handle) {
            skipped.add("body file missing");
            continue;
        }
        auto entry = std::make_unique<DomCacheEntry>();
        entry->url = row.url;
        entry->contentTypeText = row.contentType;
        entry->contentType = contentTypeCode(row.contentType);
        entry->size = handle.size();
        entry->time = modificationTime(file);
        entry->status = static_cast<uint16_t>(row.status);  // 200 or 203, or 0 when opaque
        entry->head = row.head();
        entry->dataFile = file.lexically_relative(stores_[store].profile).generic_string();
        entry->profile = store;
        if (entry->size == 0) {
            skipped.add("empty body");
            continue;
        }
        keepEntry(out, std::move(entry));
    }
}

BodySource DomCacheReader::bodySource(const CacheEntry& entry) const {
    const auto* own = dynamic_cast<const DomCacheEntry*>(&entry);
    if (own == nullptr || own->profile >= stores_.size()) {
        throw ErrorReport(ErrorReport::MozillaCache, ErrorReport::FileOpen, entry.dataFile, {},
                          EINVAL);
    }
    BodySource source;
    source.file = stores_[own->profile].profile / own->dataFile;
    source.offset = 0;
    source.length = own->size;
    source.encoding = ContentEncoding::SnappyFramed;
    source.root = resolved_[own->profile];
    return source;
}

std::string DomCacheReader::responseHead(const CacheEntry& entry) const {
    const auto* own = dynamic_cast<const DomCacheEntry*>(&entry);
    return own != nullptr ? own->head : std::string();
}

}  // namespace harvix
