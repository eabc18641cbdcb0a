#include "readers/chromium/ChromiumCache.h"

#include <algorithm>
#include <cstdio>
#include <system_error>
#include <unordered_set>

#include "platform/FileHandle.h"
#include "platform/Path.h"
#include "readers/chromium/BlockFileFormat.h"
#include "readers/chromium/BlockFileParser.h"
#include "readers/chromium/ChromiumFiles.h"
#include "readers/chromium/ResponseInfo.h"
#include "readers/chromium/SimpleCacheFormat.h"
#include "readers/chromium/SimpleCacheParser.h"
#include "readers/chromium/SparseEntry.h"
#include "readers/http/ResponseHead.h"

namespace harvix::chromium {

namespace {

bool isHex16Name(const std::string& name, const char* suffix) {
    if (name.size() != simplecache::kEntryHashDigits + 2 ||
        name.compare(simplecache::kEntryHashDigits, 2, suffix) != 0) {
        return false;
    }
    return std::all_of(name.begin(), name.begin() + simplecache::kEntryHashDigits,
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// A folder that holds a cache of either format.
bool looksLikeCacheFolder(const fs::path& folder) {
    if (isFileNotLink(folder / "index")) {
        return true;
    }
    std::error_code error;
    fs::directory_iterator it(folder, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        if (isHex16Name(it->path().filename().string(), simplecache::kStreams01Suffix)) {
            return true;
        }
    }
    return false;
}

// The HTTP cache of one profile folder: Cache/Cache_Data, else Cache.
bool profileCache(const fs::path& profile, fs::path& cache) {
    if (isFolderNotLink(profile / "Cache" / "Cache_Data") &&
        looksLikeCacheFolder(profile / "Cache" / "Cache_Data")) {
        cache = profile / "Cache" / "Cache_Data";
        return true;
    }
    if (isFolderNotLink(profile / "Cache") && looksLikeCacheFolder(profile / "Cache")) {
        cache = profile / "Cache";
        return true;
    }
    return false;
}

std::string relativeName(const fs::path& file, const fs::path& root) {
    const fs::path relative = file.lexically_relative(root);
    return relative.empty() || *relative.begin() == ".." ? file.filename().string()
                                                         : relative.generic_string();
}

// A root inside a Flatpak's configuration folder
// (~/.var/app/<id>/config/...) names files from ~/.var/app instead, so that
// they start with the app's id: the same app installed both ways keeps the
// same folders below its two configuration folders.
fs::path listingRoot(const fs::path& root) {
    for (fs::path at = root; at.has_relative_path(); at = at.parent_path()) {
        const fs::path apps = at.parent_path().parent_path();
        if (at.filename() == "config" && apps.filename() == "app" &&
            apps.parent_path().filename() == ".var") {
            return apps;
        }
    }
    return root;
}

// The words a whole folder is left out with.
std::string unreadableFolder(const std::string& why) {
    return "unreadable cache folder (" + why + ")";
}

void readSimpleCache(const CacheFolder& cache, const RecordSink& accept, const SkipReport& skip,
                     const std::function<bool()>& keepGoing) {
    // The entries by their hashes (the names' 16 hex digits): in numbers,
    // a large folder's list costs a few bytes an entry.
    std::vector<uint64_t> entryHashes;
    std::unordered_set<uint64_t> sparse;
    std::error_code error;
    fs::directory_iterator it(cache.folder, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (isHex16Name(name, simplecache::kStreams01Suffix)) {
            entryHashes.push_back(
                std::stoull(name.substr(0, simplecache::kEntryHashDigits), nullptr, 16));
        } else if (isHex16Name(name, simplecache::kSparseSuffix)) {
            sparse.insert(std::stoull(name.substr(0, simplecache::kEntryHashDigits), nullptr, 16));
        }
    }
    if (error) {
        // The entries listed so far are still read; what the folder hid is unknown.
        skip(unreadableFolder(error.message()));
    }
    // In the order of the names.
    std::sort(entryHashes.begin(), entryHashes.end());
    const std::vector<IndexedUse> uses = readSimpleIndex(cache.folder);

    SimpleEntryFile entry;
    CacheRecord record;
    for (const uint64_t hash : entryHashes) {
        if (keepGoing && !keepGoing()) {
            return;
        }
        char name[24];
        std::snprintf(name, sizeof name, "%016llx%s", static_cast<unsigned long long>(hash),
                      simplecache::kStreams01Suffix);
        const fs::path path = cache.folder / name;
        std::unique_ptr<ByteSource> file = openCacheFile(path);
        if (!file) {
            skip("unreadable entry file");
            continue;
        }
        const SimpleEntryProblem problem = parseSimpleEntry(*file, entry);
        if (problem != SimpleEntryProblem::None) {
            skip(describe(problem));
            continue;
        }
        record = CacheRecord{};
        if (sparse.count(hash) != 0) {
            // Media fetched in ranges: the bytes are in the `_s` file.
            const fs::path ranges =
                cache.folder /
                (std::string(name, simplecache::kEntryHashDigits) + simplecache::kSparseSuffix);
            if (const char* reason = acceptSparseEntry(ranges, entry, record)) {
                skip(reason);
                continue;
            }
            record.dataFile = relativeName(ranges, cache.browserRoot);
            record.lastUsed = lastUseOf(uses, hash);
            accept(std::move(record));
            continue;
        }
        if (const char* reason = acceptEntry(entry.key, entry.stream0, entry.bodyLength, record)) {
            skip(reason);
            continue;
        }
        record.place.bodyOffset = static_cast<uint32_t>(entry.bodyOffset);
        record.place.hasBodyCrc32 = entry.bodyHasCrc32;
        record.place.bodyCrc32 = entry.bodyCrc32;
        record.place.headSize = static_cast<uint32_t>(entry.stream0.size());
        record.dataFile = relativeName(path, cache.browserRoot);
        record.lastUsed = lastUseOf(uses, hash);
        accept(std::move(record));
    }
}

void readBlockFileCache(const CacheFolder& cache, const RecordSink& accept, const SkipReport& skip,
                        const std::function<bool()>& keepGoing) {
    BlockFileCache blocks(
        [&cache](const std::string& name) { return openCacheFile(cache.folder / name); });
    const BlockIndexProblem problem = blocks.open();
    if (problem != BlockIndexProblem::None) {
        skip(unreadableFolder(describe(problem)));
        return;
    }
    std::vector<unsigned char> stream0;
    uint64_t walked = 0;
    bool stopped = false;
    const SkipReport skipEntry = [&](const std::string& reason) {
        ++walked;
        skip(reason);
    };
    blocks.forEachEntry(
        [&](const BlockFileCache::Entry& entry) {
            ++walked;
            if ((entry.flags & (blockfile::kParentEntry | blockfile::kChildEntry)) != 0 ||
                entry.key.rfind("Range_", 0) == 0) {
                skip("sparse (range) entry");
                return;
            }
            if (entry.state != blockfile::kEntryNormal) {
                skip("evicted or doomed entry");
                return;
            }
            if (entry.dirty) {
                skip("still being written");
                return;
            }
            const BlockFileCache::Stream& head = entry.streams[0];
            if (!blocks.readStream(head, blockfile::kMaxStream0Size, stream0)) {
                skip("damaged response info");
                return;
            }
            const BlockFileCache::Stream& body = entry.streams[1];
            if (!body.usable) {
                skip("damaged body address");
                return;
            }
            CacheRecord record;
            if (const char* reason = acceptEntry(entry.key, stream0, body.size, record)) {
                skip(reason);
                return;
            }
            record.place.bodyOffset = static_cast<uint32_t>(body.offset);
            record.dataFile = relativeName(cache.folder / body.file, cache.browserRoot);
            record.place.headFile =
                (head.external ? kHeadInExternalFile : kHeadInBlockFile) | head.fileNumber;
            record.place.headOffset = static_cast<uint32_t>(head.offset);
            record.place.headSize = head.size;
            record.lastUsed = unixTimeFromChromium(static_cast<int64_t>(entry.lastUsed));
            accept(std::move(record));
        },
        skipEntry,
        [&] {
            stopped = stopped || (keepGoing && !keepGoing());
            return !stopped;
        });
    // Entries the index counts that no chain led to (a damaged table, or one
    // past the walk's bound) are left out too; a damaged header's count is
    // bounded like the walk.
    const uint64_t stored = std::min<uint64_t>(blocks.storedEntries(), BlockFileCache::kMaxEntries);
    if (!stopped && stored > walked) {
        for (uint64_t i = walked; i < stored; ++i) {
            skip("not reachable from the index (damaged hash table)");
        }
    }
}

}  // namespace

std::vector<CacheFolder> findCacheFolders(const fs::path& given) {
    std::vector<CacheFolder> found;
    // The named folder may be a link; links below it are never followed.
    const fs::path folder = namedFolder(given);
    if (folder.empty()) {
        return found;
    }
    fs::path cache;
    // A cache folder itself: <root>/<profile>/Cache/Cache_Data or <root>/<profile>/Cache.
    if (!isFolderNotLink(folder / "Cache") && looksLikeCacheFolder(folder)) {
        const std::string name = folder.filename().string();
        fs::path root = folder.parent_path();
        if (name == "Cache_Data") {
            root = root.parent_path().parent_path();
        } else if (name == "Cache") {
            root = root.parent_path();
        }
        found.push_back({listingRoot(root), folder});
        return found;
    }
    // A profile's Cache folder that holds Cache_Data.
    if (folder.filename() == "Cache" && isFolderNotLink(folder / "Cache_Data") &&
        looksLikeCacheFolder(folder / "Cache_Data")) {
        found.push_back({listingRoot(folder.parent_path().parent_path()), folder / "Cache_Data"});
        return found;
    }
    // A profile folder.
    if (profileCache(folder, cache)) {
        found.push_back({listingRoot(folder.parent_path()), cache});
        return found;
    }
    // A browser root: every profile below it.
    for (const fs::path& profile : subfoldersOf(folder)) {
        if (profileCache(profile, cache)) {
            found.push_back({listingRoot(folder), cache});
        }
    }
    return found;
}

void readCacheFolder(const CacheFolder& cache, std::vector<CacheRecord>& out,
                     const SkipReport& skip) {
    readCacheRecords(
        cache, [&out](CacheRecord&& record) { out.push_back(std::move(record)); }, skip);
}

void readCacheRecords(const CacheFolder& cache, const RecordSink& accept, const SkipReport& skip,
                      const std::function<bool()>& keepGoing) {
    // A block-file cache always has its data files and an index that starts
    // with its magic; a simple cache never has data files, and may lack its
    // index (one not yet written). A block-file index that is damaged is
    // still read as one, so that its entries are told as left out.
    unsigned char magic[4] = {};
    std::unique_ptr<ByteSource> index = openCacheFile(cache.folder / blockfile::kIndexName);
    const bool blockIndex = index && index->size() >= 4 && index->readExactAt(0, magic, 4) &&
                            loadLe32(magic) == blockfile::kIndexMagic;
    if (blockIndex || isFileNotLink(cache.folder / "data_1")) {
        readBlockFileCache(cache, accept, skip, keepGoing);
    } else {
        readSimpleCache(cache, accept, skip, keepGoing);
    }
}

fs::path bodyPath(const fs::path& folder, const std::string& dataFile) {
    return folder / fs::path(dataFile).filename();
}

const char* acceptEntry(std::string_view key, std::span<const unsigned char> stream0,
                        uint64_t bodyLength, CacheRecord& record) {
    record.url = urlFromKey(key);
    if (record.url.empty()) {
        return "not an http or https entry";
    }
    const std::optional<ResponseInfo> info = parseResponseInfo(stream0);
    if (!info) {
        return "damaged response info";
    }
    const ResponseHead head = parseResponseHead(info->rawHeaders);
    if (head.status != 200 && head.status != 203) {
        return head.status == 206 ? "partial response (206)" : "status other than 200 or 203";
    }
    if (info->truncated()) {
        return "interrupted download";
    }
    if (bodyLength == 0) {
        return "empty body";
    }
    const std::optional<uint64_t> length = head.contentLength();
    if (length && *length > bodyLength) {
        return "body shorter than its Content-Length";
    }
    record.encoding = head.contentEncoding();
    if (record.encoding == ContentEncoding::Unsupported) {
        return "unsupported Content-Encoding";
    }
    record.contentTypeText = head.contentType();
    record.size = bodyLength;
    record.time = unixTimeFromChromium(info->responseTime);
    record.status = static_cast<uint16_t>(head.status);
    return nullptr;
}

std::string readResponseHead(const fs::path& root, const fs::path& folder,
                             const std::string& dataFile, uint64_t bodySize,
                             const StoredPlace& place) {
    fs::path file = bodyPath(folder, dataFile);
    uint64_t offset = uint64_t{place.bodyOffset} + bodySize + simplecache::kEndRecordSize;
    if (place.sparse) {
        const std::string name = file.filename().string();
        file = folder / (name.substr(0, name.size() - 2) + simplecache::kStreams01Suffix);
        offset = place.headOffset;
    } else if ((place.headFile & kHeadInBlockFile) != 0) {
        file = folder / blockFileName(place.headFile & ~kHeadInBlockFile);
        offset = place.headOffset;
    } else if ((place.headFile & kHeadInExternalFile) != 0) {
        file = folder / externalFileName(place.headFile & ~kHeadInExternalFile);
        offset = place.headOffset;
    }
    if (place.headSize > simplecache::kMaxStream0Size) {
        return {};
    }
    const FileHandle handle = FileHandle::openBelow(root, file);
    std::vector<unsigned char> stream0(place.headSize);
    if (!handle || !handle.readExactAt(offset, stream0.data(), stream0.size())) {
        return {};
    }
    const std::optional<ResponseInfo> info = parseResponseInfo(stream0);
    return info ? std::string(info->rawHeaders) : std::string();
}

}  // namespace harvix::chromium
