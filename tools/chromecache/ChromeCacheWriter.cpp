#include "ChromeCacheWriter.h"

#include <array>
#include <cstdio>
#include <fstream>
#include <map>

namespace harvix::chromecache {

namespace {

// Simple cache (net/disk_cache/simple/simple_entry_format.h).
constexpr uint64_t kInitialMagic = 0xfcfb6d1ba7725c30ULL;
constexpr uint64_t kFinalMagic = 0xf4fa6f45970d41d8ULL;
constexpr uint64_t kSparseRangeMagic = 0xeb97bf016553676bULL;
constexpr uint32_t kEntryVersion = 5;
constexpr uint32_t kIndexVersion = 9;
constexpr uint32_t kSparseVersion = 9;  // a `_s` file's header (Chromium writes the index's)
constexpr uint64_t kRealIndexMagic = 0x656e74657220796fULL;

// Block files (net/disk_cache/blockfile/disk_format.h, disk_format_base.h, addr.h).
constexpr uint32_t kIndexMagic = 0xC103CAC3;
constexpr uint32_t kBlockMagic = 0xC104CAC3;
constexpr uint32_t kBlockVersion = 0x20000;
constexpr std::size_t kIndexHeaderSize = 368;
constexpr std::size_t kBlockHeaderSize = 8192;
constexpr uint32_t kMaxBlocks = (kBlockHeaderSize - 80) * 8;
constexpr std::array<uint32_t, 4> kBlockSizes = {36, 256, 1024, 4096};  // data_0..data_3
constexpr uint32_t kInitialized = 0x80000000;

constexpr int64_t kEpochDeltaSeconds = 11644473600LL;

void put16(std::string& out, uint16_t v) {
    out.push_back(static_cast<char>(v & 0xff));
    out.push_back(static_cast<char>(v >> 8));
}
void put32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}
void put64(std::string& out, uint64_t v) {
    put32(out, static_cast<uint32_t>(v));
    put32(out, static_cast<uint32_t>(v >> 32));
}
void set32(std::string& out, std::size_t at, uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i)
        out[at + i] = static_cast<char>((v >> (8 * i)) & 0xff);
}
void set64(std::string& out, std::size_t at, uint64_t v) {
    set32(out, at, static_cast<uint32_t>(v));
    set32(out, at + 4, static_cast<uint32_t>(v >> 32));
}
void pad4(std::string& out) {
    while (out.size() % 4 != 0)
        out.push_back('\0');
}

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw WriteError("cannot write " + path.string());
}

uint64_t microsecondsSince1601(int64_t unixSeconds) {
    return static_cast<uint64_t>(unixSeconds + kEpochDeltaSeconds) * 1000000ULL;
}

uint64_t fnv64(const std::string& text) {
    uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char ch : text)
        hash = (hash ^ static_cast<unsigned char>(ch)) * 0x100000001b3ULL;
    return hash;
}

constexpr uint32_t kFlagHasCrc32 = 1;
constexpr uint32_t kFlagHasKeySha256 = 2;

std::string endRecord(uint32_t flags, uint32_t crc, uint32_t streamSize) {
    std::string out;
    put64(out, kFinalMagic);
    put32(out, flags);
    put32(out, crc);
    put32(out, streamSize);
    put32(out, 0);
    return out;
}

}  // namespace

uint32_t crc32Of(const std::string& bytes) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int bit = 0; bit < 8; ++bit)
                c = (c & 1) != 0 ? 0xedb88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    uint32_t crc = 0xffffffffu;
    for (const char ch : bytes)
        crc = table[(crc ^ static_cast<unsigned char>(ch)) & 0xff] ^ (crc >> 8);
    return ~crc;
}

std::string splitCacheKey(const std::string& url) {
    // The site is the scheme and host, without port or path.
    const std::size_t schemeEnd = url.find("://");
    std::string site = url;
    if (schemeEnd != std::string::npos) {
        const std::size_t hostEnd = url.find_first_of(":/", schemeEnd + 3);
        site = url.substr(0, hostEnd);
    }
    return "1/0/_dk_" + site + " " + site + " " + url;
}

std::string rawHead(int status, const std::vector<std::string>& headerLines) {
    std::string head = "HTTP/1.1 " + std::to_string(status) + (status == 200 ? " OK" : " Status");
    head.push_back('\0');
    for (const std::string& line : headerLines) {
        head += line;
        head.push_back('\0');
    }
    head.push_back('\0');
    return head;
}

std::string pickleResponseInfo(const Entry& entry) {
    std::string payload;
    uint32_t flags = 3;  // version 3
    if (entry.truncated)
        flags |= 1u << 12;
    if (entry.extraFlags)
        flags |= 1u << 31;
    put32(payload, flags);
    if (entry.extraFlags)
        put32(payload, 1u << 2);  // has the original response time
    put64(payload, microsecondsSince1601(entry.requestTime));
    put64(payload, microsecondsSince1601(entry.responseTime));
    if (entry.extraFlags)
        put64(payload, microsecondsSince1601(entry.responseTime));
    put32(payload, entry.damage == Damage::BadPickle ? 0x7ffffff0u
                                                     : static_cast<uint32_t>(entry.head.size()));
    payload += entry.head;
    pad4(payload);
    const std::string host = "127.0.0.1";
    put32(payload, static_cast<uint32_t>(host.size()));
    payload += host;
    pad4(payload);
    put16(payload, 80);
    pad4(payload);
    std::string pickle;
    put32(pickle, static_cast<uint32_t>(payload.size()));
    return pickle + payload;
}

std::string protoVarint(uint64_t value) {
    std::string out;
    do {
        out += static_cast<char>((value & 0x7F) | (value > 0x7F ? 0x80 : 0));
        value >>= 7;
    } while (value != 0);
    return out;
}

std::string protoField(uint32_t number, const std::string& bytes) {
    return protoVarint(uint64_t{number} << 3 | 2) + protoVarint(bytes.size()) + bytes;
}

std::string protoNumber(uint32_t number, uint64_t value) {
    return protoVarint(uint64_t{number} << 3) + protoVarint(value);
}

std::string entryHashName(const std::string& key) {
    char name[24];
    std::snprintf(name, sizeof name, "%016llx", static_cast<unsigned long long>(fnv64(key)));
    return name;
}

std::vector<std::string> writeSimpleCache(const fs::path& folder,
                                          const std::vector<Entry>& entries) {
    fs::create_directories(folder / "index-dir");
    std::string marker;
    put64(marker, kInitialMagic);
    put32(marker, kIndexVersion);
    put32(marker, 0);
    put32(marker, 0);
    put32(marker, 0);
    writeFile(folder / "index", marker);
    // The index: every entry's hash, last use and size, then the folder's
    // time, in a pickle whose header carries the payload's CRC-32.
    std::string payload;
    put64(payload, kRealIndexMagic);
    put32(payload, kIndexVersion);
    put64(payload, entries.size());
    put64(payload, 0);  // the cache's size
    put32(payload, 0);  // why it was written
    for (const Entry& entry : entries) {
        put64(payload, std::stoull(entryHashName(entry.key), nullptr, 16));
        put64(payload, entry.lastUsed != 0 ? microsecondsSince1601(entry.lastUsed) : 0);
        put64(payload, uint64_t{(entry.body.size() + 255) / 256} << 8);
    }
    put64(payload, microsecondsSince1601(1700000000));
    std::string realIndex;
    put32(realIndex, static_cast<uint32_t>(payload.size()));
    put32(realIndex, crc32Of(payload));
    writeFile(folder / "index-dir" / "the-real-index", realIndex + payload);

    std::vector<std::string> names;
    for (const Entry& entry : entries) {
        const std::string stem = entryHashName(entry.key);
        std::string file;
        put64(file, entry.damage == Damage::BadMagic ? kInitialMagic ^ 1 : kInitialMagic);
        put32(file, entry.damage == Damage::BadVersion ? 4 : kEntryVersion);
        put32(file, entry.damage == Damage::BadKeyLength ? 0x7fffffffu
                                                         : static_cast<uint32_t>(entry.key.size()));
        put32(file, static_cast<uint32_t>(fnv64(entry.key)));
        put32(file, 0);
        file += entry.key;
        // A sparse entry's bytes are in its `_s` file; stream 1 is empty.
        const std::string stream1 = entry.sparse ? std::string() : entry.body;
        file += stream1;
        const uint32_t crcFlag = entry.crc32 ? kFlagHasCrc32 : 0u;
        uint32_t bodyCrc = entry.crc32 ? crc32Of(stream1) : 0u;
        if (entry.damage == Damage::BeingWritten)
            bodyCrc ^= 0x1000;
        std::string end1 = endRecord(crcFlag, bodyCrc, static_cast<uint32_t>(stream1.size()));
        if (entry.damage == Damage::BadEndRecord)
            end1[0] ^= 0x55;
        file += end1;
        const std::string stream0 =
            entry.stream0.empty() ? pickleResponseInfo(entry) : entry.stream0;
        file += stream0;
        if (entry.keySha256)
            file += std::string(32, '\x5a');
        uint32_t stream0Size = static_cast<uint32_t>(stream0.size());
        if (entry.damage == Damage::Stream0TooLarge)
            stream0Size = static_cast<uint32_t>(file.size() + 100);
        uint32_t headCrc = entry.crc32 ? crc32Of(stream0) : 0u;
        if (entry.damage == Damage::HeadCrc)
            headCrc ^= 0x1000;
        file +=
            endRecord(crcFlag | (entry.keySha256 ? kFlagHasKeySha256 : 0u), headCrc, stream0Size);
        if (entry.damage == Damage::CutEnd)
            file.resize(file.size() - std::min<std::size_t>(file.size(), entry.cutBytes));
        writeFile(folder / (stem + "_0"), file);
        names.push_back(stem + "_0");
        if (entry.sparse) {
            // The header of the `_0` file with the sparse file's version, the
            // key, then each range's header and data.
            std::string sparse;
            put64(sparse, kInitialMagic);
            put32(sparse, kSparseVersion);
            put32(sparse, static_cast<uint32_t>(entry.key.size()));
            put32(sparse, static_cast<uint32_t>(fnv64(entry.key)));
            put32(sparse, 0);
            sparse += entry.key;
            std::vector<Range> ranges = entry.ranges;
            if (ranges.empty())
                ranges.push_back({0, entry.body.size()});
            for (std::size_t i = 0; i < ranges.size(); ++i) {
                const Range& range = ranges[i];
                if (range.offset > entry.body.size() ||
                    range.length > entry.body.size() - range.offset)
                    throw WriteError("range past the body of " + entry.key);
                const std::string data = entry.body.substr(range.offset, range.length);
                uint32_t crc = crc32Of(data);
                if (entry.damage == Damage::RangeCrc && i + 1 == ranges.size())
                    crc ^= 0x1000;
                put64(sparse, kSparseRangeMagic);
                put64(sparse, range.offset);
                put64(sparse, range.length);
                put32(sparse, crc);
                put32(sparse, 0);
                sparse += data;
            }
            writeFile(folder / (stem + "_s"), sparse);
        }
    }
    return names;
}

namespace {

// The block files being written, data_0 .. data_3 and the ones that
// continue a full file of the same block size (data_4, ...), and the
// external files.
class BlockFiles {
public:
    explicit BlockFiles(const fs::path& folder) : folder_(folder) {
        for (uint32_t file = 0; file < 4; ++file)
            files_.push_back(File{kBlockSizes[file], file + 1, {}, 0, 0});
    }

    // Where `count` blocks were reserved: the block file and the first block.
    struct Blocks {
        uint32_t file = 0;
        uint32_t start = 0;
        uint32_t addr = 0;  // the CacheAddr of the blocks
    };
    // Reserves `count` blocks of the size of data_<sizeClass>, in the file
    // of that size being filled, or in a new one chained to it when full.
    Blocks allocate(uint32_t sizeClass, uint32_t count) {
        uint32_t number = current_[sizeClass];
        if (files_[number].used + count > kMaxBlocks) {
            if (files_.size() > 255)
                throw WriteError("too many block files");
            const auto added = static_cast<uint32_t>(files_.size());
            files_.push_back(File{files_[number].blockSize, files_[number].type, {}, 0, 0});
            files_[number].next = added;
            current_[sizeClass] = number = added;
        }
        File& file = files_[number];
        const uint32_t start = file.used;
        file.used += count;
        file.blocks.resize(std::size_t{file.used} * file.blockSize, '\0');
        return {number, start,
                kInitialized | file.type << 28 | (count - 1) << 24 | number << 16 | start};
    }
    char* at(const Blocks& blocks) {
        File& file = files_[blocks.file];
        return file.blocks.data() + std::size_t{blocks.start} * file.blockSize;
    }
    // Stores data in a block file of the size it asks for, or in an external file.
    uint32_t store(const std::string& data, bool external) {
        if (data.empty())
            return 0;
        if (external || data.size() > 4096 * 4) {
            const uint32_t number = ++lastExternal_;
            char name[16];
            std::snprintf(name, sizeof name, "f_%06x", number);
            writeFile(folder_ / name, data);
            return kInitialized | number;
        }
        const uint32_t sizeClass = data.size() < 1024 ? 1 : data.size() < 4096 ? 2 : 3;
        const uint32_t blockSize = kBlockSizes[sizeClass];
        const Blocks blocks =
            allocate(sizeClass, static_cast<uint32_t>((data.size() + blockSize - 1) / blockSize));
        std::copy(data.begin(), data.end(), at(blocks));
        return blocks.addr;
    }
    void cutExternal(uint32_t addr, std::size_t keep) {
        char name[16];
        std::snprintf(name, sizeof name, "f_%06x", addr & 0x0fffffff);
        fs::resize_file(folder_ / name, keep);
    }
    void write(bool skipData1) {
        for (uint32_t number = 0; number < files_.size(); ++number) {
            if (skipData1 && number == 1)
                continue;
            const File& file = files_[number];
            std::string header;
            put32(header, kBlockMagic);
            put32(header, kBlockVersion);
            put16(header, static_cast<uint16_t>(number));
            put16(header, static_cast<uint16_t>(file.next));
            put32(header, file.blockSize);
            put32(header, file.used);
            put32(header, file.used);
            header.resize(kBlockHeaderSize, '\0');
            for (uint32_t block = 0; block < file.used; ++block) {
                header[80 + block / 8] =
                    static_cast<char>(header[80 + block / 8] | (1 << (block % 8)));
            }
            writeFile(folder_ / ("data_" + std::to_string(number)), header + file.blocks);
        }
    }
    uint32_t lastExternal() const { return lastExternal_; }

private:
    struct File {
        uint32_t blockSize = 0;
        uint32_t type = 0;  // the CacheAddr file type of its blocks
        std::string blocks;
        uint32_t used = 0;
        uint32_t next = 0;  // the file that continues it, 0 for none
    };
    fs::path folder_;
    std::vector<File> files_;
    std::array<uint32_t, 4> current_ = {0, 1, 2, 3};  // the file being filled, per block size
    uint32_t lastExternal_ = 0;
};

}  // namespace

void writeBlockFileCache(const fs::path& folder, const std::vector<Entry>& entries,
                         const BlockFileOptions& options) {
    fs::create_directories(folder);
    const uint32_t buckets = options.tableLength == 0 ? 0x10000 : options.tableLength;
    std::vector<uint32_t> table(buckets, 0);
    BlockFiles files(folder);
    for (const Entry& entry : entries) {
        const uint32_t keyLength = static_cast<uint32_t>(entry.key.size());
        uint32_t longKey = 0;
        uint32_t entryBlocks = 1;
        if (keyLength > 4 * 256 - 96 - 1) {
            longKey = files.store(entry.key, false);
        } else {
            entryBlocks = (96 + keyLength + 1 + 255) / 256;
        }
        const BlockFiles::Blocks entryBlock = files.allocate(1, entryBlocks);
        const uint32_t addr = entryBlock.addr;
        const BlockFiles::Blocks rankingsBlock = files.allocate(0, 1);
        const uint32_t rankings = rankingsBlock.addr;
        const uint32_t stream0Addr = files.store(pickleResponseInfo(entry), false);
        const std::string stream0 = pickleResponseInfo(entry);
        uint32_t bodyAddr = files.store(entry.body, entry.externalBody);
        uint32_t bodySize = static_cast<uint32_t>(entry.body.size());
        if (entry.damage == Damage::BodyPastFile) {
            if ((bodyAddr & 0x70000000) == 0) {
                files.cutExternal(bodyAddr, entry.body.size() / 2);
            } else {
                bodyAddr = (bodyAddr & 0xffff0000u) | 0xfff0u;
            }
        }
        const uint32_t hash = static_cast<uint32_t>(fnv64(entry.key));
        const uint32_t bucket = hash & (buckets - 1);

        std::string store;
        put32(store, hash);
        put32(store, entry.damage == Damage::LoopChain ? addr : table[bucket]);
        put32(store, rankings);
        put32(store, 0);
        put32(store, 0);
        put32(store, 0);  // ENTRY_NORMAL
        put64(store, microsecondsSince1601(entry.requestTime));
        uint32_t writtenKeyLength = keyLength;
        if (entry.damage == Damage::BadKeyLength)
            writtenKeyLength = 5000;
        if (entry.damage == Damage::BadMagic)
            writtenKeyLength = 0xffffffffu;
        put32(store, writtenKeyLength);
        put32(store, longKey);
        put32(store, static_cast<uint32_t>(stream0.size()));
        put32(store, bodySize);
        put32(store, 0);
        put32(store, 0);
        put32(store, stream0Addr);
        put32(store, bodyAddr);
        put32(store, 0);
        put32(store, 0);
        put32(store, entry.sparse ? 1u : 0u);  // PARENT_ENTRY
        store.append(16, '\0');
        put32(store, 0);  // self hash, not checked by readers here
        if (longKey == 0)
            store += entry.key;
        store.resize(std::size_t{entryBlocks} * 256, '\0');
        std::copy(store.begin(), store.end(), files.at(entryBlock));

        std::string node;
        put64(node,
              microsecondsSince1601(entry.lastUsed != 0 ? entry.lastUsed : entry.responseTime));
        put64(node, 0);
        put32(node, 0);
        put32(node, 0);
        put32(node, addr);
        put32(node, entry.damage == Damage::BeingWritten ? 1u : 0u);  // dirty: this session's id
        put32(node, 0);
        std::copy(node.begin(), node.end(), files.at(rankingsBlock));
        table[bucket] = addr;
    }
    files.write(options.missingDataFiles);

    std::string index;
    put32(index, options.badIndexMagic ? kIndexMagic ^ 0x10 : kIndexMagic);
    put32(index, options.indexVersion);
    put32(index, static_cast<uint32_t>(entries.size()));
    put32(index, 0);
    put32(index, files.lastExternal());
    put32(index, 1);
    put32(index, 0);
    put32(index, options.tableLength);
    index.resize(kIndexHeaderSize, '\0');
    set64(index, 40, microsecondsSince1601(1700000000));
    for (uint32_t addr : table)
        put32(index, addr);
    writeFile(folder / "index", index);
}

}  // namespace harvix::chromecache
