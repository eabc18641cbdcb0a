#include "FuzzHarness.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <memory>
#include <set>

#include "app/LanguageTexts.h"
#include "app/Settings.h"
#include "base/ContentType.h"
#include "base/ErrorReport.h"
#include "base/Profile.h"
#include "base/Text.h"
#include "filter/CombPass.h"
#include "filter/FilterSet.h"
#include "filter/ImageSize.h"
#include "platform/Path.h"
#include "platform/Platform.h"
#include "readers/BodyCopy.h"
#include "readers/FirefoxCacheFormat.h"
#include "readers/FirefoxCacheMetadata.h"
#include "readers/FirefoxCacheReader.h"
#include "readers/MsiecfUrlCache.h"
#include "readers/UrlCacheReader.h"
#include "readers/cache2/Cache2Entry.h"
#include "readers/cache2/Cache2Folder.h"
#include "readers/cache2/FirefoxCache2Reader.h"

namespace harvix {

namespace fuzzing {

namespace {

constexpr const char* kCacheFileNames[4] = {"_CACHE_MAP_", "_CACHE_001_", "_CACHE_002_",
                                            "_CACHE_003_"};
constexpr std::size_t kFixedPart[4] = {
    firefox_cache::kMapHeaderSize, firefox_cache::kBlockFileHeaderSize,
    firefox_cache::kBlockFileHeaderSize, firefox_cache::kBlockFileHeaderSize};

// Entries combed per input: enough to reach every path of the pass, few
// enough to keep an execution short.
constexpr std::size_t kMaxCombedEntries = 32;
// Cached files laid out and copied per index.
constexpr std::size_t kMaxCopiedFiles = 8;

void Check(bool condition, const std::string& what) {
    if (!condition) {
        throw HarnessFailure(what);
    }
}

// Keeps the process-wide settings a harness changes as they were.
void ClearFolder(const fs::path& folder) {
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code removeError;
        fs::remove_all(it->path(), removeError);
    }
}

void WriteBytes(const fs::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    Check(static_cast<bool>(out), "cannot write the scratch file " + path.string());
}

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Every file below `folder` with its bytes, by path relative to it.
std::map<std::string, std::string> Snapshot(const fs::path& folder) {
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (it->is_regular_file(typeError)) {
            files[fs::relative(it->path(), folder, typeError).string()] = ReadBytes(it->path());
        } else if (!it->is_directory(typeError)) {
            files[fs::relative(it->path(), folder, typeError).string()] = "(not a file)";
        }
    }
    return files;
}

uint32_t Le32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

void PutLe32(std::string& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out += static_cast<char>((value >> (8 * i)) & 0xFFu);
    }
}

bool IsInside(const fs::path& path, const fs::path& folder) {
    const fs::path normal = path.lexically_normal();
    const fs::path base = folder.lexically_normal();
    auto p = normal.begin();
    for (auto b = base.begin(); b != base.end(); ++b, ++p) {
        if (b->empty()) {
            continue;  // a trailing separator
        }
        if (p == normal.end() || *p != *b) {
            return false;
        }
    }
    return p != normal.end();
}

void CheckEntryTexts(const CacheEntry& entry) {
    Check(isValidUtf8(entry.url), "an entry's URL is not valid UTF-8");
    Check(isValidUtf8(entry.contentTypeText), "an entry's content type is not valid UTF-8");
    Check(isValidUtf8(entry.dataFile), "an entry's data file is not valid UTF-8");
    Check(contentTypeInfo(entry.contentType) != nullptr && !isContentTypeGroup(entry.contentType),
          "an entry's content-type code is no type's");
}

}  // namespace

// ---- Scratch folder ----

ScratchFolder::ScratchFolder() {
    std::error_code ec;
    fs::path base = "/dev/shm";
    if (!fs::is_directory(base, ec) || access(base.c_str(), W_OK) != 0) {
        base = fs::temp_directory_path(ec);
    }
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const fs::path candidate =
            base / ("harvix-fuzz-" + std::to_string(getpid()) + "-" + std::to_string(attempt));
        if (fs::create_directory(candidate, ec)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot make a scratch folder");
}

ScratchFolder::~ScratchFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

// ---- Packing a Firefox cache into one input ----

std::string packMozillaCache(const PackedCache& cache) {
    std::string out;
    out += static_cast<char>(cache.flags);
    for (const std::string& file : cache.files) {
        PutLe32(out, static_cast<uint32_t>(file.size()));
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
            length = Le32(data + at);
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
        const std::string whole = ReadBytes(folder / kCacheFileNames[i]);
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
        cache.separate = ReadBytes(separate.front());
    }
    return packMozillaCache(cache);
}

// ---- Firefox ----

void runMozillaMap(const uint8_t* data, std::size_t size, const fs::path& scratch) {
    ClearFolder(scratch);
    const fs::path cache = scratch / "Cache";
    const fs::path out = scratch / "out";
    fs::create_directories(cache);

    const PackedCache packed = unpackMozillaCache(data, size);
    for (std::size_t i = 0; i < 4; ++i) {
        const bool whole = (packed.flags >> i & 1u) != 0;
        WriteBytes(cache / kCacheFileNames[i],
                   whole ? packed.files[i] : std::string(kFixedPart[i], '\0') + packed.files[i]);
    }

    FirefoxCacheReader reader;
    reader.cacheFolder = pathToUtf8(cache);
    if (openCache(reader)) {
        Check(!reader.opened, "a failed open left the reader open");
        return;
    }
    Reading reading = readCache(reader);
    Check(reading.entries.size() <= FirefoxCacheReader::kMaxEntries, "more entries than the bound");
    for (std::size_t i = 0; i < reading.entries.size(); ++i) {
        const auto& entry = dynamic_cast<const FirefoxCacheEntry&>(*reading.entries[i]);
        Check(entry.index == i, "entries are not numbered in order");
        CheckEntryTexts(entry);
        Check(entry.dataFileIndex <= 3 && entry.metaFileIndex <= 3, "file selector out of range");
        Check(entry.dataLength <= firefox_cache::kMaxItemSize, "block data longer than an item");
        Check(fs::path(entry.dataFile).is_relative() &&
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
            WriteBytes(cache / element.dataFile, packed.separate);
        }
    }
    const std::map<std::string, std::string> before = Snapshot(cache);

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
    Check(result.foldersReady, "the target folder of the pass could not be made");
    reader.close();

    Check(Snapshot(cache) == before, "the comb run changed the cache folder");
    std::error_code ec;
    for (fs::directory_iterator it(out, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        Check(name.rfind("picture", 0) == 0 || name.rfind("file", 0) == 0,
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
    CheckEntryTexts(entry);
    Check(isValidUtf8(entry.server) && isValidUtf8(entry.acceptRanges) && isValidUtf8(entry.etag),
          "a header value is not valid UTF-8");
    if (size < firefox_cache::kMetaKeyOffset) {
        Check(entry.url.empty(), "a URL from an item too short to hold a key");
    }
}

// ---- Profile files ----

void runProfile(const uint8_t* data, std::size_t size, const fs::path& scratch) {
    ClearFolder(scratch);
    const fs::path file = scratch / "Harvix.cfg";
    const std::string input(reinterpret_cast<const char*>(data), size);
    WriteBytes(file, input);

    // As the settings file and as a language file.
    Settings settings;
    settings.cfgPath = file;
    settings.loadSettings();
    Check(isValidUtf8(settings.MozillaCachePath) && isValidUtf8(settings.DefaultCombPath) &&
              isValidUtf8(settings.FiltersFileName) && isValidUtf8(settings.Language),
          "a settings text is not valid UTF-8");
    settings.Language = pathToUtf8(file);
    LanguageTexts texts;
    loadLanguage(texts, settings);
    for (const LanguageTexts::Key& key : LanguageTexts::Keys()) {
        Check(isValidUtf8(texts.*key.text), std::string("language text not UTF-8: ") + key.name);
    }

    ProfileFile profile = ProfileFile::load(file);
    std::size_t values = 0;
    profile.forEachLine([](std::string_view) {},
                        [&](std::string_view key, std::string value) {
                            ++values;
                            Check(isValidUtf8(key) && isValidUtf8(value),
                                  "a profile key or value is not valid UTF-8");
                            Check(value.size() <= kProfileValueLimit * 4,
                                  "a value longer than the limit");
                        });

    // A value set reads back, in memory and from the saved file; the rest of
    // the file reads back alike.
    const std::string before = profile.get("GENERAL", "Language", "(none)");
    profile.set("GENERAL", "Language", "Deutsch");
    Check(profile.get("GENERAL", "Language") == "Deutsch", "a value set does not read back");
    profile.set("Fuzz Section", "Key", "a value");
    Check(profile.get("fuzz section", "KEY") == "a value", "a new section does not read back");
    const fs::path saved = scratch / "saved.cfg";
    Check(profile.save(saved), "a loaded profile cannot be saved");
    const ProfileFile again = ProfileFile::load(saved);
    // Files are written without a byte-order mark; a text that itself
    // starts with one (a UTF-16 file whose first character is U+FEFF after
    // its mark) loses it when read back, as the mark of the file.
    std::string expected = profile.toText();
    if (expected.rfind("\xEF\xBB\xBF", 0) == 0) {
        expected.erase(0, 3);
    }
    Check(again.toText() == expected, "a saved profile reads back different");
    (void)before;
}

// ---- Filter files ----

namespace {

// A text that a save and a load give back unchanged: no line break (it
// becomes a blank), no blank at either end (trimmed) and no enclosing quotes
// (one pair is taken off).
bool SurvivesRoundTrip(const std::string& text) {
    if (text.find_first_of("\r\n") != std::string::npos || trim(text).size() != text.size()) {
        return false;
    }
    return text.empty() || (text.front() != '"' && text.front() != '\'');
}

}  // namespace

void runFilterFile(const uint8_t* data, std::size_t size, const fs::path& scratch) {
    ClearFolder(scratch);
    const fs::path file = scratch / "in.flt";
    WriteBytes(file, std::string_view(reinterpret_cast<const char*>(data), size));

    FilterSet filter;
    const bool loaded = filter.load(pathToUtf8(file));
    Check(filter.items.size() <= FilterSet::kMaxItems, "more items than the bound");
    if (!loaded) {
        Check(filter.items.empty(), "a refused filter file left items");
        return;
    }
    CacheEntry probe;
    probe.url = "http://www.example.org/images/photo.jpg";
    probe.contentType = 1;
    probe.size = 5000;
    for (std::size_t i = 0; i < filter.items.size(); ++i) {
        const FilterItem& item = *filter.items[i];
        Check(item.position == static_cast<int32_t>(i), "items are not numbered in order");
        Check(isValidUtf8(item.url) && isValidUtf8(item.directory) && isValidUtf8(item.stem) &&
                  isValidUtf8(filter.hint),
              "a filter text is not valid UTF-8");
        for (const std::string& part : item.urlParts) {
            Check(!part.empty() && part.find_first_of(" \t") == std::string::npos,
                  "a URL part is empty or holds a blank");
        }
        (void)item.matches(probe);
    }

    const fs::path saved = scratch / "saved.flt";
    Check(filter.save(pathToUtf8(saved)), "a loaded filter set cannot be saved");
    FilterSet again;
    Check(again.load(pathToUtf8(saved)), "a saved filter file does not load");
    Check(again.items.size() == filter.items.size(), "a saved filter file has other items");
    for (std::size_t i = 0; i < filter.items.size(); ++i) {
        const FilterItem& a = *filter.items[i];
        const FilterItem& b = *again.items[i];
        Check(a.contentType == b.contentType && a.disabled == b.disabled &&
                  a.minSize == b.minSize && a.minWidth == b.minWidth && a.minHeight == b.minHeight,
              "a saved item reads back with other numbers");
        for (const auto& [before, after] :
             {std::pair{a.url, b.url}, std::pair{a.directoryTemplate, b.directoryTemplate},
              std::pair{a.stem, b.stem}}) {
            if (SurvivesRoundTrip(before)) {
                Check(before == after, "a saved item text reads back different: " + before);
            }
        }
    }
}

// ---- Internet Explorer ----

void runIndexDat(const uint8_t* data, std::size_t size, const fs::path& scratch) {
    ClearFolder(scratch);
    const fs::path container = scratch / "Content.IE5";
    const fs::path out = scratch / "out";
    fs::create_directories(container);
    fs::create_directories(out);
    const fs::path index = container / "index.dat";
    const std::string input(reinterpret_cast<const char*>(data), size);
    WriteBytes(index, input);

    UrlCacheReader reader(std::make_unique<MsiecfUrlCache>(index));
    if (openCache(reader)) {
        return;
    }
    Reading reading = readCache(reader);
    std::size_t copied = 0;
    for (std::size_t i = 0; i < reading.entries.size(); ++i) {
        CacheEntry& entry = *reading.entries[i];
        Check(entry.index == i, "entries are not numbered in order");
        CheckEntryTexts(entry);
        Check(!entry.url.empty() && !entry.dataFile.empty(), "an entry without URL or file");
        // The cached file of a record is always below the index's folder:
        // a damaged record must not make the reader copy any other file.
        const fs::path source = pathFromUtf8(entry.dataFile);
        Check(IsInside(source, container), "a cached file outside the cache: " + entry.dataFile);
        if (copied < kMaxCopiedFiles) {
            std::error_code ec;
            fs::create_directories(source.parent_path(), ec);
            if (!fs::exists(source, ec)) {
                // A name the file system refuses (too long, a folder in the
                // way) leaves the file missing; the copy must fail cleanly.
                std::ofstream(source, std::ios::binary) << "cached bytes " << i;
            }
            const fs::path target = out / ("copy" + std::to_string(i));
            bool made = false;
            try {
                copyBodyToFile(reader, entry, target);
                made = true;
            } catch (const ErrorReport&) {
            }
            if (made) {
                // Exactly the entry's bytes, never more.
                Check(ReadBytes(target) == ReadBytes(source).substr(0, entry.size),
                      "a copy differs from its source");
            }
            ++copied;
        }
    }
    reader.close();
    Check(ReadBytes(index) == input, "reading changed the index");
}

// ---- Pictures ----

void runPictureSize(const uint8_t* data, std::size_t size, const fs::path& scratch) {
    ClearFolder(scratch);
    const fs::path file = scratch / "cached";
    WriteBytes(file, std::string_view(reinterpret_cast<const char*>(data), size));
    const PictureSize measured = measurePicture(file);
    if (measured.kind == PictureSize::Kind::Measured) {
        Check(measured.width > 0 && measured.height > 0,
              "a measured picture without a positive size");
        // A stated height of INT32_MAX has no taller test to fail.
        const bool tallerFails = measured.height == std::numeric_limits<int32_t>::max() ||
                                 !measured.atLeast(measured.width, measured.height + 1);
        Check(measured.atLeast(measured.width, measured.height) && tallerFails,
              "the picture test disagrees with the measure");
    } else {
        Check(measured.width == 0 && measured.height == 0, "a size without a measure");
    }
}

// ---- Firefox cache2 entry files ----

void runCache2Entry(const uint8_t* data, std::size_t size, const fs::path& scratch) {
    // The parser over the whole file, as a tail.
    const cache2::TailParse parsed = cache2::parseEntryTail({data, size}, size);
    if (parsed.status == cache2::TailStatus::Parsed) {
        const cache2::EntryRecord& record = parsed.record;
        Check(record.metaOffset < size, "a metadata offset past the file");
        Check(record.bodyLength <= record.metaOffset, "a body that runs into the metadata");
        Check(record.url.size() <= record.key.size() &&
                  record.key.compare(record.key.size() - record.url.size(), std::string::npos,
                                     record.url) == 0,
              "a URL that is not the end of the key");
    } else if (parsed.status == cache2::TailStatus::NeedLongerTail) {
        throw HarnessFailure("the whole file given and still a longer tail asked for");
    }
    // The file in an entries folder: listed, then its body copied through the
    // decoder with a small bound.
    ClearFolder(scratch);
    const fs::path entries = scratch / "cache2" / "entries";
    fs::create_directories(entries);
    const std::string name(40, 'F');
    WriteBytes(entries / name, std::string_view(reinterpret_cast<const char*>(data), size));
    std::vector<cache2::ListedEntry> listed;
    cache2::ListingCounts counts;
    const fs::path root = resolveFolder(scratch / "cache2");
    cache2::listEntries(
        root, root / "entries",
        [&](cache2::ListedEntry&& entry) { listed.push_back(std::move(entry)); }, counts);
    Check(listed.size() <= 1, "one file listed as more than one entry");
    uint64_t leftOut = 0;
    for (const auto& [reason, count] : counts.leftOut) {
        leftOut += count;
    }
    Check(listed.size() + leftOut == 1, "an entry file neither listed nor counted as left out");
    for (const cache2::ListedEntry& entry : listed) {
        Check(entry.bodyLength > 0 && entry.bodyLength < size, "a listed body outside the file");
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
    Check(entries2.size() == listed.size(), "the reader and the listing disagree");
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
            Check(!fs::exists(copy), "a failed copy left a file");
            continue;
        }
        const uint64_t copied = fs::file_size(copy, ec);
        Check(decoded ? copied <= maxDecodedSize(entry->size) : copied == entry->size,
              "a copy of the wrong size");
    }
}

// ---- By name ----

bool runHarness(std::string_view name, const uint8_t* data, std::size_t size,
                const fs::path& scratch) {
    if (name == "mozilla_map") {
        runMozillaMap(data, size, scratch);
    } else if (name == "mozilla_metadata") {
        runMozillaMetadata(data, size);
    } else if (name == "profile") {
        runProfile(data, size, scratch);
    } else if (name == "filter_file") {
        runFilterFile(data, size, scratch);
    } else if (name == "index_dat") {
        runIndexDat(data, size, scratch);
    } else if (name == "picture_size") {
        runPictureSize(data, size, scratch);
    } else if (name == "cache2_entry") {
        runCache2Entry(data, size, scratch);
    } else if (name == "chromium_simple") {
        runChromiumSimple(data, size);
    } else if (name == "chromium_sparse") {
        runChromiumSparse(data, size);
    } else if (name == "chromium_blockfile") {
        runChromiumBlockFile(data, size);
    } else if (name == "body_decoder") {
        runBodyDecoder(data, size);
    } else if (name == "cache_storage") {
        runCacheStorage(data, size);
    } else if (name == "dom_cache") {
        runDomCache(data, size, scratch);
    } else {
        return false;
    }
    return true;
}

}  // namespace fuzzing

}  // namespace harvix
