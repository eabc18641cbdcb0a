#include "readers/FirefoxCacheReader.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <system_error>

#include "base/ByteOrder.h"
#include "base/ErrorReport.h"
#include "platform/Path.h"
#include "readers/FirefoxCacheMetadata.h"
#include "readers/cache2/FirefoxDiscovery.h"

namespace harvix {

namespace fc = firefox_cache;

FirefoxCacheReader::FirefoxCacheReader(std::string folder, std::string base)
    : cacheFolder(std::move(folder)), base_(std::move(base)) {}

FirefoxCacheReader::~FirefoxCacheReader() {
    close();
}

void FirefoxCacheReader::close() {
    for (FileHandle& file : files_) {
        file.close();
    }
    fileSizes_ = {};
    opened = false;
}

void FirefoxCacheReader::open() {
    close();
    if (cacheFolder.empty()) {
        // No folder: never look for cache files in the current folder.
        throw ErrorReport(ErrorReport::MozillaCache, ErrorReport::CacheOpen, cacheFolder, {},
                          ENOENT);
    }
    // The folder is resolved once: a symbolic link given as the cache folder
    // (or as the profile folder above it) is fine, but no folder below that
    // and no cache file may lead out of it.
    root_.clear();
    const fs::path folder = pathFromUtf8(cacheFolder);
    const fs::path base = base_.empty() ? folder : pathFromUtf8(base_);
    root_ = resolveCacheFolder(base, folder, folder);
    for (std::size_t i = 0; i < files_.size(); ++i) {
        files_[i] = FileHandle::openBelow(root_, root_ / fc::kFileNames[i]);
        if (!files_[i]) {
            const int error = files_[i].error();
            close();
            throw ErrorReport(ErrorReport::MozillaCache, ErrorReport::CacheOpen, cacheFolder,
                              pathToUtf8(root_ / fc::kFileNames[i]), error);
        }
        fileSizes_[i] = files_[i].size();
    }
    opened = true;
}

std::vector<std::string> FirefoxCacheReader::separateFileNames(uint32_t hash, uint32_t generation,
                                                               char letter) {
    generation &= 0xFFu;
    char decimal[32];
    char hex[32];
    char nested[40];
    std::snprintf(decimal, sizeof decimal, "%08X%c%02u", hash, letter, generation);
    std::snprintf(hex, sizeof hex, "%08X%c%02X", hash, letter, generation);
    std::snprintf(nested, sizeof nested, "%X/%02X/%05X%c%02X", hash >> 28, (hash >> 20) & 0xFFu,
                  hash & 0xFFFFFu, letter, generation);
    std::vector<std::string> names{decimal};
    if (names.front() != hex) {
        names.emplace_back(hex);
    }
    names.emplace_back(nested);
    return names;
}

void FirefoxCacheReader::readEntries(std::vector<std::unique_ptr<CacheEntry>>& out,
                                     SkipCounts& skipped) {
    if (!opened) {
        return;
    }
    for (std::size_t i = 1; i < claimed_.size(); ++i) {
        claimed_[i].clear();
        claimed_[i].shrink_to_fit();
    }
    itemBuffer_.resize(fc::kMaxItemSize);

    constexpr std::size_t kRecordsPerRead = 4096;
    std::vector<unsigned char> chunk(kRecordsPerRead * fc::kMapRecordSize);
    uint64_t offset = fc::kMapHeaderSize;
    bool readError = false;
    std::size_t kept = 0;
    bool stopped = false;
    while (!stopped) {
        int error = 0;
        const std::size_t got = files_[0].readAt(offset, chunk.data(), chunk.size(), error);
        readError = got == 0 && error != 0;
        const std::size_t records = got / fc::kMapRecordSize;
        if (records == 0) {
            break;  // end of the map; a trailing partial record is ignored
        }
        for (std::size_t r = 0; r < records; ++r) {
            if (!keepReading(out)) {
                stopped = true;
                break;
            }
            const unsigned char* record = chunk.data() + r * fc::kMapRecordSize;
            if (kept >= kMaxEntries) {
                // Past the bound only counted, so that nothing goes unseen.
                if (loadBe32(record + fc::kRecordHashNumber) != 0) {
                    skipped.add("more records than one reading takes");
                }
                continue;
            }
            if (readRecord(record, out, skipped)) {
                ++kept;
            }
        }
        offset += records * fc::kMapRecordSize;
    }
    itemBuffer_.clear();
    itemBuffer_.shrink_to_fit();
    for (auto& claimed : claimed_) {
        claimed.clear();
        claimed.shrink_to_fit();
    }
    if (readError) {
        skipped.add("the map could not be read to its end");
        close();  // the map cannot be read on: keep what was read so far
    }
}

bool FirefoxCacheReader::readRecord(const unsigned char* record,
                                    std::vector<std::unique_ptr<CacheEntry>>& out,
                                    SkipCounts& skipped) {
    const uint32_t hash = loadBe32(record + fc::kRecordHashNumber);
    const uint32_t dataLocation = loadBe32(record + fc::kRecordDataLocation);
    const uint32_t metaLocation = loadBe32(record + fc::kRecordMetaLocation);
    if (hash == 0) {
        return false;  // a free record
    }
    auto entry = std::make_unique<FirefoxCacheEntry>();
    entry->hashNumber = hash;
    entry->dataLocation = dataLocation;
    entry->metaLocation = metaLocation;
    entry->metaFileIndex = fileSelector(metaLocation);
    if (entry->metaFileIndex != 0) {
        const uint32_t selector = entry->metaFileIndex;
        const uint32_t bytesPerBlock = blockSize(selector);
        const uint32_t blocks = extraBlocks(metaLocation) + 1;
        const uint32_t first = firstBlock(metaLocation);
        // Two records never share metadata blocks in a sound cache; a record
        // that would is skipped, so that a damaged map cannot multiply one
        // item into any number of entries.
        if (!claimBlocks(selector, first, blocks)) {
            skipped.add("metadata blocks used by an earlier record");
            return false;
        }
        const uint64_t offset = fc::kBlockFileHeaderSize + uint64_t{first} * bytesPerBlock;
        const std::size_t length = std::size_t{blocks} * bytesPerBlock;
        const std::size_t got = readItem(selector, offset, length, itemBuffer_.data());
        readCacheMetadata(itemBuffer_.data(), got, *entry);
        if (entry->url.empty() || entry->size == 0) {
            skipped.add("no URL or no data");
            return false;
        }
    }
    entry->dataFileIndex = fileSelector(dataLocation);
    if (entry->dataFileIndex != 0) {
        const uint32_t bytesPerBlock = blockSize(entry->dataFileIndex);
        entry->dataFile = "_CACHE_00" + std::to_string(entry->dataFileIndex);
        entry->dataOffset =
            fc::kBlockFileHeaderSize + uint64_t{firstBlock(dataLocation)} * bytesPerBlock;
        entry->dataLength = (extraBlocks(dataLocation) + 1) * bytesPerBlock;
    } else {
        entry->dataFile = separateFileNames(hash, generation(dataLocation), 'd').front();
    }
    keepEntry(out, std::move(entry));
    return true;
}

std::size_t FirefoxCacheReader::readItem(uint32_t selector, uint64_t offset, std::size_t length,
                                         unsigned char* buffer) {
    if (selector < 1 || selector > 3 || !files_[selector]) {
        return 0;
    }
    length = std::min(length, fc::kMaxItemSize);
    return files_[selector].readAt(offset, buffer, length);
}

bool FirefoxCacheReader::claimBlocks(uint32_t selector, uint32_t firstBlock, uint32_t count) {
    std::vector<bool>& claimed = claimed_[selector];
    if (claimed.empty()) {
        // One flag per block that the file holds (at most 2^24 blocks).
        const uint64_t size = fileSizes_[selector];
        const uint64_t blockSize = FirefoxCacheReader::blockSize(selector);
        const uint64_t blocks = size > fc::kBlockFileHeaderSize
                                    ? (size - fc::kBlockFileHeaderSize + blockSize - 1) / blockSize
                                    : 0;
        claimed.assign(static_cast<std::size_t>(std::min<uint64_t>(blocks, uint64_t{1} << 24)) + 1,
                       false);
    }
    // The last flag stands for "past the end of the file", where nothing can
    // be read and so nothing can be multiplied.
    const std::size_t limit = claimed.size() - 1;
    const std::size_t begin = std::min<std::size_t>(firstBlock, limit);
    const std::size_t end = std::min<std::size_t>(std::size_t{firstBlock} + count, limit);
    for (std::size_t b = begin; b < end; ++b) {
        if (claimed[b]) {
            return false;
        }
    }
    for (std::size_t b = begin; b < end; ++b) {
        claimed[b] = true;
    }
    return true;
}

BodySource FirefoxCacheReader::bodySource(const CacheEntry& entry) const {
    const auto* element = dynamic_cast<const FirefoxCacheEntry*>(&entry);
    if (element == nullptr) {
        throw ErrorReport(ErrorReport::MozillaCache, ErrorReport::FileRead, entry.dataFile, {},
                          EINVAL);
    }
    const fs::path flat = root_ / pathFromUtf8(element->dataFile);
    if (root_.empty()) {
        throw ErrorReport(ErrorReport::MozillaCache, ErrorReport::FileRead, element->dataFile, {},
                          EBADF);
    }
    if (element->size == 0) {
        throw ErrorReport(ErrorReport::MozillaCache, ErrorReport::FileRead, pathToUtf8(flat), {},
                          ENODATA);
    }
    BodySource source;
    source.length = element->size;
    if (element->dataFileIndex != 0) {
        // Block data: the entry's size, which must lie within its blocks, of
        // an open reading.
        if (!opened || element->dataFileIndex > 3 || element->size > element->dataLength) {
            throw ErrorReport(ErrorReport::MozillaCache, ErrorReport::FileRead, pathToUtf8(flat),
                              {}, ENODATA);
        }
        source.file = root_ / fc::kFileNames[element->dataFileIndex];
        source.offset = element->dataOffset;
        // The block file this reader holds open, lent for the copy: a
        // handle that owns nothing and lives as long as the reader.
        source.handle = std::shared_ptr<const FileHandle>(std::shared_ptr<const FileHandle>(),
                                                          &files_[element->dataFileIndex]);
        return source;
    }
    // A separate file: first in the folders where Firefox writes it, then
    // under the flat names the entry reports. The handle that found it is
    // the one the copy reads.
    std::vector<std::string> names =
        separateFileNames(element->hashNumber, generation(element->dataLocation), 'd');
    std::rotate(names.begin(), names.end() - 1, names.end());
    int firstError = 0;
    for (const std::string& name : names) {
        const fs::path candidate = root_ / pathFromUtf8(name);
        auto probe = std::make_shared<FileHandle>(FileHandle::openBelow(root_, candidate));
        if (*probe) {
            source.file = candidate;
            source.handle = std::move(probe);
            return source;
        }
        if (firstError == 0 || firstError == ENOENT) {
            firstError = probe->error();
        }
    }
    throw ErrorReport(ErrorReport::MozillaCache, ErrorReport::FileOpen, pathToUtf8(flat), {},
                      firstError);
}

std::string FirefoxCacheReader::responseHead(const CacheEntry& entry) const {
    const auto* element = dynamic_cast<const FirefoxCacheEntry*>(&entry);
    if (element == nullptr || !opened) {
        return {};
    }
    const uint32_t selector = fileSelector(element->metaLocation);
    if (selector < 1 || selector > 3 || !files_[selector]) {
        return {};
    }
    const uint32_t bytesPerBlock = blockSize(selector);
    const uint64_t offset =
        fc::kBlockFileHeaderSize + uint64_t{firstBlock(element->metaLocation)} * bytesPerBlock;
    const std::size_t length = std::min<std::size_t>(
        std::size_t{extraBlocks(element->metaLocation) + 1} * bytesPerBlock, fc::kMaxItemSize);
    std::vector<unsigned char> item(length);
    const std::size_t got = files_[selector].readAt(offset, item.data(), length);
    return responseHeadOfItem(item.data(), got);
}

}  // namespace harvix
