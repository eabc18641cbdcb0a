#include "readers/chromium/BlockFileParser.h"

#include <cstdio>
#include <unordered_set>

#include "readers/chromium/BlockFileFormat.h"

namespace harvix::chromium {

namespace bf = blockfile;

struct BlockFileCache::BlockFile {
    std::unique_ptr<ByteSource> source;  // null: missing or refused
    std::string name;
    uint32_t blockSize = 0;
    uint32_t maxBlocks = 0;  // blocks the header says the file has room for
};

namespace {

uint32_t fileTypeOf(uint32_t addr) {
    return (addr & bf::kAddrFileTypeMask) >> bf::kAddrFileTypeShift;
}

std::string blockFileName(uint32_t number) {
    return "data_" + std::to_string(number);
}

std::string externalFileName(uint32_t number) {
    char name[16];
    std::snprintf(name, sizeof name, "f_%06x", number);
    return name;
}

}  // namespace

BlockFileCache::BlockFileCache(Opener opener) : opener_(std::move(opener)) {}
BlockFileCache::~BlockFileCache() = default;

bool BlockFileCache::open(std::string& problem) {
    std::unique_ptr<ByteSource> index = opener_(bf::kIndexName);
    if (!index) {
        problem = "no index file";
        return false;
    }
    unsigned char header[bf::kIndexHeaderSize];
    if (index->size() < sizeof header || !index->readExactAt(0, header, sizeof header)) {
        problem = "index file too short";
        return false;
    }
    if (le32(header + bf::kIndexMagicOffset) != bf::kIndexMagic) {
        problem = "index file with a wrong magic number";
        return false;
    }
    const uint32_t version = le32(header + bf::kIndexVersionOffset);
    if (version != bf::kIndexVersion2_0 && version != bf::kIndexVersion2_1 &&
        version != bf::kIndexVersion3_0) {
        problem = "index file of an unknown version";
        return false;
    }
    uint32_t tableLen = le32(header + bf::kIndexTableLenOffset);
    if (tableLen == 0)
        tableLen = bf::kIndexDefaultTableLen;
    if (tableLen > bf::kIndexMaxTableLen || (tableLen & (tableLen - 1)) != 0) {
        problem = "index file with a bad table length";
        return false;
    }
    // The table may be shorter on disk than the header claims only when the
    // file was cut; read what the file holds of it.
    const uint64_t available = (index->size() - bf::kIndexTableOffset) / 4;
    if (available < tableLen) {
        problem = "index file shorter than its table";
        return false;
    }
    std::vector<unsigned char> raw(std::size_t{tableLen} * 4);
    if (!index->readExactAt(bf::kIndexTableOffset, raw.data(), raw.size())) {
        problem = "index file unreadable";
        return false;
    }
    table_.resize(tableLen);
    for (uint32_t i = 0; i < tableLen; ++i)
        table_[i] = le32(raw.data() + std::size_t{i} * 4);
    return true;
}

BlockFileCache::BlockFile* BlockFileCache::blockFile(uint32_t number, uint32_t blockSize) {
    auto found = blockFiles_.find(number);
    if (found == blockFiles_.end()) {
        auto file = std::make_unique<BlockFile>();
        file->name = blockFileName(number);
        file->source = opener_(file->name);
        unsigned char header[bf::kBlockMaxEntriesOffset + 4];
        if (file->source && file->source->size() >= bf::kBlockHeaderSize &&
            file->source->readExactAt(0, header, sizeof header) &&
            le32(header + bf::kBlockMagicOffset) == bf::kBlockMagic &&
            (le32(header + bf::kBlockVersionOffset) == bf::kBlockVersion2 ||
             le32(header + bf::kBlockVersionOffset) == bf::kBlockVersion3) &&
            le16(header + bf::kBlockThisFileOffset) == number) {
            file->blockSize = le32(header + bf::kBlockEntrySizeOffset);
            file->maxBlocks = std::min(le32(header + bf::kBlockMaxEntriesOffset), bf::kMaxBlocks);
            // A block file of moderate size is read once into memory: a
            // listing then costs one read per file instead of two per entry.
            const uint64_t size = file->source->size();
            if (size <= kMaxFileInMemory) {
                std::vector<unsigned char> bytes(static_cast<std::size_t>(size));
                if (file->source->readExactAt(0, bytes.data(), bytes.size())) {
                    file->source = std::make_unique<MemoryBytes>(std::move(bytes));
                }
            }
        } else {
            file->source.reset();
        }
        found = blockFiles_.emplace(number, std::move(file)).first;
    }
    BlockFile* file = found->second.get();
    if (!file->source || file->blockSize != blockSize)
        return nullptr;
    return file;
}

bool BlockFileCache::locateBlocks(uint32_t addr, uint32_t wantedType, BlockFile*& file,
                                  uint64_t& offset, uint32_t& span) {
    if ((addr & bf::kAddrInitializedMask) == 0 || (addr & bf::kAddrReservedMask) != 0)
        return false;
    const uint32_t type = fileTypeOf(addr);
    if (wantedType != 0 ? type != wantedType
                        : (type != static_cast<uint32_t>(bf::FileType::Block256) &&
                           type != static_cast<uint32_t>(bf::FileType::Block1K) &&
                           type != static_cast<uint32_t>(bf::FileType::Block4K))) {
        return false;
    }
    const uint32_t blockSize = bf::blockSizeOf(static_cast<bf::FileType>(type));
    const uint32_t blocks = ((addr & bf::kAddrNumBlocksMask) >> bf::kAddrNumBlocksShift) + 1;
    const uint32_t start = addr & bf::kAddrStartBlockMask;
    const uint32_t number = (addr & bf::kAddrFileSelectorMask) >> bf::kAddrFileSelectorShift;
    file = blockFile(number, blockSize);
    if (file == nullptr || start + blocks > file->maxBlocks)
        return false;
    offset = bf::kBlockHeaderSize + uint64_t{start} * blockSize;
    span = blocks * blockSize;
    return offset + span <= file->source->size();
}

bool BlockFileCache::locateStream(uint32_t addr, uint32_t size, Stream& stream) {
    stream.size = size;
    if (size == 0)
        return true;
    if ((addr & bf::kAddrInitializedMask) == 0)
        return false;
    if (fileTypeOf(addr) == static_cast<uint32_t>(bf::FileType::External)) {
        const std::string name = externalFileName(addr & bf::kAddrFileNameMask);
        auto known = externalSizes_.find(name);
        if (known == externalSizes_.end()) {
            std::unique_ptr<ByteSource> source = opener_(name);
            known = externalSizes_.emplace(name, source ? source->size() : 0).first;
        }
        if (known->second < size)
            return false;
        stream.file = name;
        stream.offset = 0;
    } else {
        BlockFile* file = nullptr;
        uint64_t offset = 0;
        uint32_t span = 0;
        if (!locateBlocks(addr, 0, file, offset, span) || span < size)
            return false;
        stream.file = file->name;
        stream.offset = offset;
    }
    stream.usable = true;
    return true;
}

bool BlockFileCache::readEntry(uint32_t addr, Entry& entry, uint32_t& next, std::string& reason) {
    BlockFile* file = nullptr;
    uint64_t offset = 0;
    uint32_t span = 0;
    next = 0;
    if (!locateBlocks(addr, static_cast<uint32_t>(bf::FileType::Block256), file, offset, span)) {
        reason = "damaged block-file entry (bad address)";
        return false;
    }
    std::vector<unsigned char> store(span);
    if (!file->source->readExactAt(offset, store.data(), store.size())) {
        reason = "damaged block-file entry (unreadable)";
        return false;
    }
    const unsigned char* p = store.data();
    next = le32(p + bf::kEntryNextOffset);
    entry.address = addr;
    entry.hash = le32(p + bf::kEntryHashOffset);
    entry.state = static_cast<int32_t>(le32(p + bf::kEntryStateOffset));
    entry.flags = le32(p + bf::kEntryFlagsOffset);
    entry.creationTime = le64(p + bf::kEntryCreationTimeOffset);
    const int32_t keyLength = static_cast<int32_t>(le32(p + bf::kEntryKeyLenOffset));
    const uint32_t longKey = le32(p + bf::kEntryLongKeyOffset);
    if (keyLength < 0 || static_cast<uint32_t>(keyLength) > bf::kMaxKeyLength) {
        reason = "damaged block-file entry (bad key length)";
        return false;
    }
    if ((longKey & bf::kAddrInitializedMask) != 0) {
        Stream keyStream;
        std::vector<unsigned char> keyBytes;
        if (!locateStream(longKey, static_cast<uint32_t>(keyLength), keyStream) ||
            !readStream(keyStream, bf::kMaxKeyLength, keyBytes)) {
            reason = "damaged block-file entry (bad long key)";
            return false;
        }
        entry.key.assign(keyBytes.begin(), keyBytes.end());
    } else {
        if (static_cast<std::size_t>(keyLength) >= span - bf::kEntryKeyOffset) {
            reason = "damaged block-file entry (key past its blocks)";
            return false;
        }
        entry.key.assign(reinterpret_cast<const char*>(p + bf::kEntryKeyOffset),
                         static_cast<std::size_t>(keyLength));
    }
    for (std::size_t i = 0; i < bf::kEntryStreams; ++i) {
        const int32_t size = static_cast<int32_t>(le32(p + bf::kEntryDataSizeOffset + 4 * i));
        const uint32_t dataAddr = le32(p + bf::kEntryDataAddrOffset + 4 * i);
        Stream& stream = entry.streams[i];
        stream = Stream{};
        if (size < 0) {
            stream.size = 0;
            continue;
        }
        if (!locateStream(dataAddr, static_cast<uint32_t>(size), stream))
            stream.usable = false;
        if (size == 0)
            stream.usable = true;
    }
    return true;
}

void BlockFileCache::forEachEntry(const std::function<void(const Entry&)>& visit,
                                  const std::function<void(const std::string& reason)>& skip,
                                  const std::function<bool()>& keepGoing) {
    std::unordered_set<uint32_t> seen;
    Entry entry;
    std::string reason;
    for (const uint32_t head : table_) {
        uint32_t addr = head;
        while ((addr & bf::kAddrInitializedMask) != 0) {
            if (seen.size() >= kMaxEntries || (keepGoing && !keepGoing()))
                return;
            if (!seen.insert(addr).second)
                break;  // a loop, or a chain joining another
            uint32_t next = 0;
            entry = Entry{};
            if (readEntry(addr, entry, next, reason)) {
                visit(entry);
            } else {
                skip(reason);
            }
            addr = next;
        }
    }
}

bool BlockFileCache::readStream(const Stream& stream, uint32_t limit,
                                std::vector<unsigned char>& out) {
    out.clear();
    if (!stream.usable || stream.size > limit)
        return false;
    if (stream.size == 0)
        return true;
    out.resize(stream.size);
    if (stream.file.rfind("data_", 0) == 0) {
        for (auto& [number, file] : blockFiles_) {
            if (file->name == stream.file && file->source) {
                return file->source->readExactAt(stream.offset, out.data(), out.size());
            }
        }
        return false;
    }
    std::unique_ptr<ByteSource> source = opener_(stream.file);
    return source && source->readExactAt(stream.offset, out.data(), out.size());
}

}  // namespace harvix::chromium
