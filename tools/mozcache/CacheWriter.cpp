#include "CacheWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace harvix {

namespace mozcache {

namespace {

constexpr uint32_t kHeaderVersion = 0x00010013;
constexpr std::size_t kBlockFileHeader = 4096;
constexpr const char* kBlockFileNames[4] = {"", "_CACHE_001_", "_CACHE_002_", "_CACHE_003_"};

void PutBE32(std::string& out, uint32_t value) {
    out.push_back(static_cast<char>(value >> 24));
    out.push_back(static_cast<char>((value >> 16) & 0xFFu));
    out.push_back(static_cast<char>((value >> 8) & 0xFFu));
    out.push_back(static_cast<char>(value & 0xFFu));
}

uint32_t blockBytes(int selector) {
    return 256u << (2 * (selector - 1));
}

std::string ErrorText(const std::string& what, const fs::path& path) {
    return what + " " + path.string() + ": " + std::strerror(errno);
}

void PwriteAll(int fd, const char* data, std::size_t length, uint64_t offset,
               const fs::path& path) {
    while (length > 0) {
        const ssize_t n = pwrite(fd, data, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            throw WriteError(ErrorText("cannot write", path));
        }
        data += n;
        length -= static_cast<std::size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
}

}  // namespace

std::vector<NamedValue> responseValues(const std::string& responseHead) {
    return {{"request-method", "GET"}, {"response-head", responseHead}};
}

std::string ResponseHead(const std::vector<std::string>& headerLines) {
    std::string head = "HTTP/1.1 200 OK\r\n";
    for (const std::string& line : headerLines) {
        head += line;
        head += "\r\n";
    }
    return head;
}

std::string buildMetadata(const Entry& entry, uint32_t metaLocation, uint32_t dataSize) {
    std::string values;
    for (const auto& [name, value] : entry.values) {
        values += name;
        values.push_back('\0');
        values += value;
        values.push_back('\0');
    }
    std::string out;
    PutBE32(out, kHeaderVersion);
    PutBE32(out, metaLocation);
    PutBE32(out, entry.fetchCount);
    PutBE32(out, entry.lastFetched);
    PutBE32(out, entry.lastModified);
    PutBE32(out, entry.expiration);
    PutBE32(out, dataSize);
    PutBE32(out, static_cast<uint32_t>(entry.key.size() + 1));
    PutBE32(out, static_cast<uint32_t>(values.size()));
    out += entry.key;
    out.push_back('\0');
    out += values;
    return out;
}

std::string separateFileName(uint32_t hash, uint8_t generation, char letter, Layout layout) {
    char name[48];
    switch (layout) {
        case Layout::Decimal:
            std::snprintf(name, sizeof name, "%08X%c%02u", hash, letter, unsigned{generation});
            break;
        case Layout::Hex:
            std::snprintf(name, sizeof name, "%08X%c%02X", hash, letter, unsigned{generation});
            break;
        case Layout::Nested:
            std::snprintf(name, sizeof name, "%X/%02X/%05X%c%02X", hash >> 28, (hash >> 20) & 0xFFu,
                          hash & 0xFFFFFu, letter, unsigned{generation});
            break;
    }
    return name;
}

uint32_t blockLocation(int selector, uint32_t firstBlock, int blockCount) {
    return 0x80000000u | (static_cast<uint32_t>(selector & 3) << 28) |
           (static_cast<uint32_t>((blockCount - 1) & 3) << 24) | (firstBlock & 0x00FFFFFFu);
}

uint32_t separateLocation(uint8_t generation) {
    return 0x80000000u | generation;
}

CacheWriter::CacheWriter(const fs::path& folder) : folder_(folder) {
    std::error_code ec;
    fs::create_directories(folder_, ec);
    if (!fs::is_directory(folder_, ec)) {
        throw WriteError("cannot make the folder " + folder_.string());
    }
    for (int selector = 1; selector <= 3; ++selector) {
        const fs::path path = folder_ / kBlockFileNames[selector];
        const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) {
            throw WriteError(ErrorText("cannot create", path));
        }
        blockFiles_[static_cast<std::size_t>(selector)] = fd;
        bitmaps_[static_cast<std::size_t>(selector)].assign(kBlockFileHeader, 0);
    }
}

CacheWriter::~CacheWriter() {
    if (!finished_) {
        try {
            finish();
        } catch (const WriteError&) {
        }
    }
    for (int fd : blockFiles_) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

uint32_t CacheWriter::makeHash(const std::string& key) {
    uint32_t hash = 2166136261u;  // FNV-1a
    for (const char ch : key) {
        hash = (hash ^ static_cast<uint8_t>(ch)) * 16777619u;
    }
    while (hash == 0 || hashes_.count(hash) != 0) {
        hash = hash * 2654435761u + 1u;
    }
    return hash;
}

bool CacheWriter::storeInBlocks(int selector, const std::string& bytes, uint32_t* location) {
    const auto index = static_cast<std::size_t>(selector);
    const uint32_t blockSize = blockBytes(selector);
    const auto blocks =
        static_cast<uint32_t>(std::max<std::size_t>(1, (bytes.size() + blockSize - 1) / blockSize));
    if (blocks > 4 || nextBlock_[index] + blocks > kBlocksPerFile) {
        return false;
    }
    const uint32_t first = nextBlock_[index];
    nextBlock_[index] += blocks;
    // The item fills its blocks; the unused end of the last block is zero.
    std::string padded = bytes;
    padded.resize(std::size_t{blocks} * blockSize, '\0');
    PwriteAll(blockFiles_[index], padded.data(), padded.size(),
              kBlockFileHeader + uint64_t{first} * blockSize, folder_ / kBlockFileNames[selector]);
    for (uint32_t b = first; b < first + blocks; ++b) {
        // One bit per block, in 32-bit big-endian words, lowest bit first.
        const std::size_t word = b / 32;
        const uint32_t bit = b % 32;
        bitmaps_[index][word * 4 + 3 - bit / 8] |= static_cast<uint8_t>(1u << (bit % 8));
    }
    *location = blockLocation(selector, first, static_cast<int>(blocks));
    return true;
}

void CacheWriter::writeFile(const fs::path& path, const std::string& bytes) {
    std::error_code ec;
    if (path.has_parent_path()) {
        fs::create_directories(path.parent_path(), ec);
    }
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        throw WriteError(ErrorText("cannot create", path));
    }
    try {
        PwriteAll(fd, bytes.data(), bytes.size(), 0, path);
    } catch (...) {
        close(fd);
        throw;
    }
    close(fd);
}

std::pair<uint32_t, std::string> CacheWriter::Store(Place place, const std::string& bytes,
                                                    uint32_t hash, uint8_t generation, char letter,
                                                    Layout layout) {
    uint32_t location = 0;
    auto tryBlocks = [&](int selector) { return storeInBlocks(selector, bytes, &location); };
    int selector = 0;
    switch (place) {
        case Place::Block1:
        case Place::Block2:
        case Place::Block3: {
            selector = place == Place::Block1 ? 1 : place == Place::Block2 ? 2 : 3;
            if (!tryBlocks(selector)) {
                throw WriteError("the item does not fit into " +
                                 std::string(kBlockFileNames[selector]));
            }
            return {location, kBlockFileNames[selector]};
        }
        case Place::Auto:
            // The smallest block size that takes the item in at most four
            // blocks; a larger one when that file is full; else a file.
            for (int s = 1; s <= 3; ++s) {
                if (bytes.size() <= 4 * blockBytes(s) && tryBlocks(s)) {
                    return {location, kBlockFileNames[s]};
                }
            }
            break;
        case Place::Separate:
            break;
    }
    const std::string name = separateFileName(hash, generation, letter, layout);
    writeFile(folder_ / name, bytes);
    return {separateLocation(generation), name};
}

Record CacheWriter::add(const Entry& entry) {
    Record record;
    record.hash = entry.zeroHash ? 0 : entry.hash != 0 ? entry.hash : makeHash(entry.key);
    hashes_.insert(record.hash);
    record.evictionRank = static_cast<uint32_t>(records_.size() + 1);
    const uint32_t dataSize =
        entry.dataSize ? *entry.dataSize : static_cast<uint32_t>(entry.data.size());

    if (entry.dataLocation) {
        record.dataLocation = *entry.dataLocation;
    } else {
        auto [location, file] =
            Store(entry.dataPlace, entry.data, record.hash, entry.generation, 'd', entry.layout);
        record.dataLocation = location;
        record.dataFile = file;
        totalBytes_ += entry.data.size();
    }
    if (entry.metaLocation) {
        record.metaLocation = *entry.metaLocation;
    } else {
        // The item records its own location, which is known only once it is
        // placed; its length does not depend on it.
        std::string meta = buildMetadata(entry, 0, dataSize);
        const Place place = entry.metaPlace;
        auto [location, file] =
            Store(place, meta, record.hash, entry.generation, 'm', entry.layout);
        record.metaLocation = location;
        meta = buildMetadata(entry, location, dataSize);
        if ((location >> 28 & 3u) == 0) {
            writeFile(folder_ / file, meta);
        } else {
            const int selector = static_cast<int>(location >> 28 & 3u);
            const uint32_t first = location & 0x00FFFFFFu;
            const auto index = static_cast<std::size_t>(selector);
            PwriteAll(blockFiles_[index], meta.data(), meta.size(),
                      kBlockFileHeader + uint64_t{first} * blockBytes(selector),
                      folder_ / kBlockFileNames[selector]);
        }
    }
    records_.push_back(record);
    return record;
}

void CacheWriter::addRawRecord(const Record& record) {
    records_.push_back(record);
}

void CacheWriter::finish() {
    finished_ = true;
    // Header: version, data size in KiB, entry count, dirty flag, record
    // count, then 32 eviction ranks and 32 bucket usage counts.
    std::string map;
    PutBE32(map, kHeaderVersion);
    PutBE32(map, static_cast<uint32_t>(totalBytes_ / 1024));
    uint32_t used = 0;
    for (const Record& record : records_) {
        used += record.hash != 0 ? 1 : 0;
    }
    PutBE32(map, used);
    PutBE32(map, 0);
    PutBE32(map, static_cast<uint32_t>(records_.size()));
    map.append(64 * 4, '\0');
    for (const Record& record : records_) {
        PutBE32(map, record.hash);
        PutBE32(map, record.evictionRank);
        PutBE32(map, record.dataLocation);
        PutBE32(map, record.metaLocation);
    }
    map += trailing_;
    writeFile(folder_ / "_CACHE_MAP_", map);
    for (int selector = 1; selector <= 3; ++selector) {
        const auto index = static_cast<std::size_t>(selector);
        const auto& bitmap = bitmaps_[index];
        PwriteAll(blockFiles_[index], reinterpret_cast<const char*>(bitmap.data()), bitmap.size(),
                  0, folder_ / kBlockFileNames[selector]);
    }
}

}  // namespace mozcache

}  // namespace harvix
