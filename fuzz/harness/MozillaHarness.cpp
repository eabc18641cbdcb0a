// The Firefox harnesses: the old disk cache packed into one input, one
// metadata item, and a cache2 entry file.
#include <algorithm>
#include <cstring>
#include <limits>
#include <map>
#include <set>

#include "FuzzHarness.h"
#include "HarnessSupport.h"
#include "base/ErrorReport.h"
#include "base/Text.h"
#include "filter/CombPass.h"
#include "filter/FilterSet.h"
#include "platform/Path.h"
#include "platform/Platform.h"
#include "readers/BodyCopy.h"
#include "readers/FirefoxCacheFormat.h"
#include "readers/FirefoxCacheMetadata.h"
#include "readers/FirefoxCacheReader.h"
#include "readers/cache2/Cache2Entry.h"
#include "readers/cache2/Cache2Folder.h"
#include "readers/cache2/FirefoxCache2Reader.h"

namespace harvix::fuzzing {

namespace {

constexpr const char* kCacheFileNames[4] = {"_CACHE_MAP_", "_CACHE_001_", "_CACHE_002_",
                                            "_CACHE_003_"};
constexpr std::size_t kFixedPart[4] = {
    firefox_cache::kMapHeaderSize, firefox_cache::kBlockFileHeaderSize,
    firefox_cache::kBlockFileHeaderSize, firefox_cache::kBlockFileHeaderSize};

// Entries combed per input: enough to reach every path of the pass, few
// enough to keep an execution short.
constexpr std::size_t kMaxCombedEntries = 32;

uint32_t le32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

void putLe32(std::string& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out += static_cast<char>((value >> (8 * i)) & 0xFFu);
    }
}

}  // namespace

// ---- Packing a Firefox cache into one input ----

std::string packMozillaCache(const PackedCache& cache) {
    std::string out;
    out += static_cast<char>(cache.flags);
    for (const std::string& file : cache.files) {
        putLe32(out, static_cast<uint32_t>(file.size()));
    }
    for (const std::string& file : cache.files) {
        out += file;
    }
    out += cache.separate;
    return out;
}

PackedCache unpackMozillaCache(const uint8_t* data, std::size_t size) {
    PackedCache cache;
    std::size_t at = 0;
    if (size > 0) {
        cache.flags = data[0];
        at = 1;
    }
    std::size_t lengths[4] = {0, 0, 0, 0};
    for (std::size_t& length : lengths) {
        if (at + 4 <= size) {
            length = le32(data + at);
            at += 4;
        } else {
            at = size;
        }
    }
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t take = std::min(lengths[i], size - at);
        cache.files[i].assign(reinterpret_cast<const char*>(data + at), take);
        at += take;
    }
    cache.separate.assign(reinterpret_cast<const char*>(data + at), size - at);
    return cache;
}

std::string packMozillaCacheFolder(const fs::path& folder) {
    PackedCache cache;
    for (std::size_t i = 0; i < 4; ++i) {
        const std::string whole = readBytes(folder / kCacheFileNames[i]);
        cache.files[i] = whole.size() >= kFixedPart[i] ? whole.substr(kFixedPart[i]) : whole;
        if (whole.size() < kFixedPart[i]) {
            cache.flags = static_cast<uint8_t>(cache.flags | (1u << i));
        }
    }
    std::error_code ec;
    std::vector<fs::path> separate;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (it->is_regular_file(ec) && name.rfind("_CACHE_", 0) != 0 &&
            name.find('d') != std::string::npos) {
            separate.push_back(it->path());
        }
    }
    std::sort(separate.begin(), separate.end());
    if (!separate.empty()) {
        cache.separate = readBytes(separate.front());
    }
    return packMozillaCache(cache);
}

// ---- Firefox ----

void runMozillaMap(const uint8_t* data, std::size_t size, const fs::path& scratch) {
    clearFolder(scratch);
    const fs::path cache = scratch / "Cache";
    const fs::path out = scratch / "out";
    fs::create_directories(cache);

    const PackedCache packed = unpackMozillaCache(data, size);
    for (std::size_t i = 0; i < 4; ++i) {
        const bool whole = (packed.flags >> i & 1u) != 0;
        writeBytes(cache / kCacheFileNames[i],
                   whole ? packed.files[i] : std::string(kFixedPart[i], '\0') + packed.files[i]);
    }

    FirefoxCacheReader reader;
    reader.cacheFolder = pathToUtf8(cache);
    if (openCache(reader)) {
        check(!reader.opened, "a failed open left the reader open");
        return;
    }
    Reading reading = readCache(reader);
    check(reading.entries.size() <= FirefoxCacheReader::kMaxEntries, "more entries than the bound");
    for (std::size_t i = 0; i < reading.entries.size(); ++i) {
        const auto& entry = dynamic_cast<const FirefoxCacheEntry&>(*reading.entries[i]);
        check(entry.index == i, "entries are not numbered in order");
        checkEntryTexts(entry);
        check(entry.dataFileIndex <= 3 && entry.metaFileIndex <= 3, "file selector out of range");
        check(entry.dataLength <= firefox_cache::kMaxItemSize, "block data longer than an item");
        check(fs::path(entry.dataFile).is_relative() &&
                  entry.dataFile.find('/') == std::string::npos &&
                  entry.dataFile.find("..") == std::string::npos,
              "a data file name leaves the cache folder: " + entry.dataFile);
    }

    // The separate data file under the name of the first few entries that
    // keep their data in one.
    std::set<std::string> laidOut;
    for (const auto& entry : reading.entries) {
        const auto& element = dynamic_cast<const FirefoxCacheEntry&>(*entry);
        if (element.dataFileIndex == 0 && laidOut.size() < 4 &&
            laidOut.insert(element.dataFile).second) {
            writeBytes(cache / element.dataFile, packed.separate);
        }
    }
    const std::map<std::string, std::string> before = snapshotOf(cache);

    if (reading.entries.size() > kMaxCombedEntries) {
        reading.entries.resize(kMaxCombedEntries);
    }
    const CombOptions options{true, true, 0};
    FilterSet filter;
    // Pictures of at least 1 x 1 first (the probe reads every copy), then
    // everything; the duplicate test compares every kept copy.
    auto* pictures = filter.insertItem(nullptr, -1);
    pictures->minWidth = 1;
    pictures->minHeight = 1;
    pictures->directoryTemplate = pathToUtf8(out);
    pictures->stem = "picture";
    auto* everything = filter.insertItem(nullptr, -1);
    everything->directoryTemplate = pathToUtf8(out);
    everything->stem = "file";
    CombObserver silent;
    IPlatform& platform = nativePlatform();
    const CombResult result =
        runComb(reader, reading,
                FilterSnapshot::take(filter, platform.homeFolder(), platform.currentTime()),
                options, silent, platform);
    check(result.foldersReady, "the target folder of the pass could not be made");
    reader.close();

    check(snapshotOf(cache) == before, "the comb run changed the cache folder");
    std::error_code ec;
    for (fs::directory_iterator it(out, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        check(name.rfind("picture", 0) == 0 || name.rfind("file", 0) == 0,
              "a file the pass did not name is left in the target folder: " + name);
    }
}

void runMozillaMetadata(const uint8_t* data, std::size_t size) {
    // A buffer of exactly the input's length, so that the sanitizer sees a
    // read past the item.
    std::unique_ptr<unsigned char[]> item(new unsigned char[size == 0 ? 1 : size]);
    if (size > 0) {
        std::memcpy(item.get(), data, size);
    }
    FirefoxCacheEntry entry;
    readCacheMetadata(size == 0 ? nullptr : item.get(), size, entry);
    checkEntryTexts(entry);
    check(isValidUtf8(entry.server) && isValidUtf8(entry.acceptRanges) && isValidUtf8(entry.etag),
          "a header value is not valid UTF-8");
    if (size < firefox_cache::kMetaKeyOffset) {
        check(entry.url.empty(), "a URL from an item too short to hold a key");
    }
}

// ---- Firefox cache2 entry files ----

void runCache2Entry(const uint8_t* data, std::size_t size, const fs::path& scratch) {
    // The parser over the whole file, as a tail.
    const cache2::TailParse parsed = cache2::parseEntryTail({data, size}, size);
    if (parsed.status == cache2::TailStatus::Parsed) {
        const cache2::EntryRecord& record = parsed.record;
        check(record.metaOffset < size, "a metadata offset past the file");
        check(record.bodyLength <= record.metaOffset, "a body that runs into the metadata");
        check(record.url.size() <= record.key.size() &&
                  record.key.compare(record.key.size() - record.url.size(), std::string::npos,
                                     record.url) == 0,
              "a URL that is not the end of the key");
    } else if (parsed.status == cache2::TailStatus::NeedLongerTail) {
        throw HarnessFailure("the whole file given and still a longer tail asked for");
    }
    // The file in an entries folder: listed, then its body copied through the
    // decoder with a small bound.
    clearFolder(scratch);
    const fs::path entries = scratch / "cache2" / "entries";
    fs::create_directories(entries);
    const std::string name(40, 'F');
    writeBytes(entries / name, std::string_view(reinterpret_cast<const char*>(data), size));
    std::vector<cache2::ListedEntry> listed;
    cache2::ListingCounts counts;
    const fs::path root = resolveFolder(scratch / "cache2");
    cache2::listEntries(
        root, root / "entries",
        [&](cache2::ListedEntry&& entry) { listed.push_back(std::move(entry)); }, counts);
    check(listed.size() <= 1, "one file listed as more than one entry");
    uint64_t leftOut = 0;
    for (const auto& [reason, count] : counts.leftOut) {
        leftOut += count;
    }
    check(listed.size() + leftOut == 1, "an entry file neither listed nor counted as left out");
    for (const cache2::ListedEntry& entry : listed) {
        check(entry.bodyLength > 0 && entry.bodyLength < size, "a listed body outside the file");
    }
    // The same folder through the reader and the core's copy. A body stored
    // as sent copies to exactly its length; a decoded one stays within the
    // decoding bound (the decoder has a target of its own, so only the
    // small ones are decoded here) or fails leaving no file.
    FirefoxCache2Reader reader(scratch / "cache2");
    std::vector<std::unique_ptr<CacheEntry>> entries2;
    SkipCounts skipped;
    try {
        reader.open();
        reader.readEntries(entries2, skipped);
    } catch (const ErrorReport&) {
        return;
    }
    check(entries2.size() == listed.size(), "the reader and the listing disagree");
    for (const auto& entry : entries2) {
        const bool decoded = copyIsDecoded(reader, *entry);
        if (decoded && entry->size > 4096) {
            continue;
        }
        const fs::path copy = scratch / "copy";
        std::error_code ec;
        fs::remove(copy, ec);
        try {
            copyBodyToFile(reader, *entry, copy);
        } catch (const ErrorReport&) {
            check(!fs::exists(copy), "a failed copy left a file");
            continue;
        }
        const uint64_t copied = fs::file_size(copy, ec);
        check(decoded ? copied <= maxDecodedSize(entry->size) : copied == entry->size,
              "a copy of the wrong size");
    }
}

}  // namespace harvix::fuzzing
