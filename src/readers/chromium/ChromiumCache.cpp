#include "readers/chromium/ChromiumCache.h"

#include <algorithm>
#include <stdexcept>
#include <system_error>
#include <unordered_set>

#include "readers/chromium/BlockFileFormat.h"
#include "readers/chromium/BlockFileParser.h"
#include "readers/chromium/ChromiumFiles.h"
#include "readers/chromium/ResponseInfo.h"
#include "readers/chromium/SimpleCacheFormat.h"
#include "readers/chromium/SimpleCacheParser.h"
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

bool isDirectory(const fs::path& path) {
    std::error_code error;
    return fs::is_directory(fs::symlink_status(path, error));
}

bool isRegularFile(const fs::path& path) {
    std::error_code error;
    return fs::is_regular_file(fs::symlink_status(path, error));
}

// A folder that holds a cache of either format.
bool looksLikeCacheFolder(const fs::path& folder) {
    if (isRegularFile(folder / "index"))
        return true;
    std::error_code error;
    fs::directory_iterator it(folder, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        if (isHex16Name(it->path().filename().string(), simplecache::kStreams01Suffix))
            return true;
    }
    return false;
}

// The HTTP cache of one profile folder: Cache/Cache_Data, else Cache.
bool profileCache(const fs::path& profile, fs::path& cache) {
    if (isDirectory(profile / "Cache" / "Cache_Data") &&
        looksLikeCacheFolder(profile / "Cache" / "Cache_Data")) {
        cache = profile / "Cache" / "Cache_Data";
        return true;
    }
    if (isDirectory(profile / "Cache") && looksLikeCacheFolder(profile / "Cache")) {
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

void readSimpleCache(const CacheFolder& cache, const RecordSink& accept, const SkipReport& skip,
                     const std::function<bool()>& keepGoing) {
    std::vector<std::string> entryNames;
    std::unordered_set<std::string> sparse;
    std::error_code error;
    fs::directory_iterator it(cache.folder, error);
    if (error)
        throw std::runtime_error("cannot read the cache folder");
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        std::string name = it->path().filename().string();
        if (isHex16Name(name, simplecache::kStreams01Suffix)) {
            entryNames.push_back(std::move(name));
        } else if (isHex16Name(name, simplecache::kSparseSuffix)) {
            sparse.insert(name.substr(0, simplecache::kEntryHashDigits));
        }
    }
    std::sort(entryNames.begin(), entryNames.end());

    SimpleEntryFile entry;
    CacheRecord record;
    std::string reason;
    for (const std::string& name : entryNames) {
        if (keepGoing && !keepGoing())
            return;
        if (sparse.count(name.substr(0, simplecache::kEntryHashDigits)) != 0) {
            skip("sparse (range) entry");
            continue;
        }
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
        if (!acceptEntry(entry.key, entry.stream0, entry.bodyLength, record, reason)) {
            skip(reason);
            continue;
        }
        record.bodyFile = path;
        record.bodyOffset = entry.bodyOffset;
        record.dataFile = relativeName(path, cache.browserRoot);
        accept(std::move(record));
    }
}

void readBlockFileCache(const CacheFolder& cache, const RecordSink& accept, const SkipReport& skip,
                        const std::function<bool()>& keepGoing) {
    BlockFileCache blocks(
        [&cache](const std::string& name) { return openCacheFile(cache.folder / name); });
    std::string problem;
    if (!blocks.open(problem))
        throw std::runtime_error(problem);
    std::vector<unsigned char> stream0;
    std::string reason;
    blocks.forEachEntry(
        [&](const BlockFileCache::Entry& entry) {
            if ((entry.flags & (blockfile::kParentEntry | blockfile::kChildEntry)) != 0 ||
                entry.key.rfind("Range_", 0) == 0) {
                skip("sparse (range) entry");
                return;
            }
            if (entry.state != blockfile::kEntryNormal) {
                skip("evicted or doomed entry");
                return;
            }
            if (!blocks.readStream(entry.streams[0], blockfile::kMaxStream0Size, stream0)) {
                skip("damaged response info");
                return;
            }
            const BlockFileCache::Stream& body = entry.streams[1];
            if (!body.usable) {
                skip("damaged body address");
                return;
            }
            CacheRecord record;
            if (!acceptEntry(entry.key, stream0, body.size, record, reason)) {
                skip(reason);
                return;
            }
            record.bodyFile = cache.folder / body.file;
            record.bodyOffset = body.offset;
            record.dataFile = relativeName(record.bodyFile, cache.browserRoot);
            accept(std::move(record));
        },
        skip, keepGoing);
}

}  // namespace

std::vector<CacheFolder> findCacheFolders(const fs::path& given) {
    std::vector<CacheFolder> found;
    // The folder the user or the discovery names may itself be a link (a
    // cache moved to another disk); links below it are never followed.
    std::error_code error;
    fs::path folder = fs::weakly_canonical(given, error);
    if (error || !isDirectory(folder))
        return found;
    if (!folder.has_filename())
        folder = folder.parent_path();
    fs::path cache;
    // A cache folder itself: <root>/<profile>/Cache/Cache_Data or <root>/<profile>/Cache.
    if (!isDirectory(folder / "Cache") && looksLikeCacheFolder(folder)) {
        const std::string name = folder.filename().string();
        fs::path root = folder.parent_path();
        if (name == "Cache_Data")
            root = root.parent_path().parent_path();
        else if (name == "Cache")
            root = root.parent_path();
        found.push_back({root, folder});
        return found;
    }
    // A profile's Cache folder that holds Cache_Data.
    if (folder.filename() == "Cache" && isDirectory(folder / "Cache_Data") &&
        looksLikeCacheFolder(folder / "Cache_Data")) {
        found.push_back({folder.parent_path().parent_path(), folder / "Cache_Data"});
        return found;
    }
    // A profile folder.
    if (profileCache(folder, cache)) {
        found.push_back({folder.parent_path(), cache});
        return found;
    }
    // A browser root: every profile below it.
    std::vector<fs::path> profiles;
    fs::directory_iterator it(folder, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        if (isDirectory(it->path()))
            profiles.push_back(it->path());
    }
    std::sort(profiles.begin(), profiles.end());
    for (const fs::path& profile : profiles) {
        if (profileCache(profile, cache))
            found.push_back({folder, cache});
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
    // The index's first bytes tell the formats apart; a simple cache may
    // lack it (an index not yet written), a block-file cache never does.
    unsigned char magic[4] = {};
    std::unique_ptr<ByteSource> index = openCacheFile(cache.folder / "index");
    if (index && index->size() >= 4 && index->readExactAt(0, magic, 4) &&
        le32(magic) == blockfile::kIndexMagic) {
        readBlockFileCache(cache, accept, skip, keepGoing);
    } else {
        readSimpleCache(cache, accept, skip, keepGoing);
    }
}

bool acceptEntry(std::string_view key, std::span<const unsigned char> stream0, uint64_t bodyLength,
                 CacheRecord& record, std::string& reason) {
    record.url = urlFromKey(key);
    if (record.url.empty()) {
        reason = "not an http or https entry";
        return false;
    }
    const std::optional<ResponseInfo> info = parseResponseInfo(stream0);
    if (!info) {
        reason = "damaged response info";
        return false;
    }
    const ResponseHead head = parseResponseHead(info->rawHeaders);
    if (head.status != 200 && head.status != 203) {
        reason = head.status == 206 ? "partial response (206)" : "status other than 200 or 203";
        return false;
    }
    if (info->truncated()) {
        reason = "interrupted download";
        return false;
    }
    if (bodyLength == 0) {
        reason = "empty body";
        return false;
    }
    const std::optional<uint64_t> length = head.contentLength();
    if (length && *length > bodyLength) {
        reason = "body shorter than its Content-Length";
        return false;
    }
    record.encoding = head.contentEncoding();
    record.contentTypeText = head.contentType();
    record.rawHead = info->rawHeaders;
    record.size = bodyLength;
    record.time = unixTimeFromChromium(info->responseTime);
    return true;
}

}  // namespace harvix::chromium
