#include "readers/chromium/BlockFileParser.h"

#include <algorithm>
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
    // The stretch of the file read last. A walk in address order reads
    // entries, their rankings nodes and their heads mostly one after another
    // (Chromium gives them out in order), so most reads are met from here.
    std::vector<unsigned char> window;
    uint64_t windowStart = 0;

    static constexpr std::size_t kWindow = 64 * 1024;

    bool read(uint64_t offset, void* out, std::size_t n) {
        if (offset >= windowStart && offset - windowStart <= window.size() &&
            n <= window.size() - (offset - windowStart)) {
            std::copy_n(window.data() + (offset - windowStart), n,
                        static_cast<unsigned char*>(out));
            return true;
        }
        const uint64_t size = source->size();
        if (n > kWindow / 2 || offset > size || n > size - offset) {
            return source->readExactAt(offset, out, n);
        }
        const uint64_t start = offset & ~uint64_t{4095};
        window.resize(static_cast<std::size_t>(std::min<uint64_t>(kWindow, size - start)));
        if (!source->readExactAt(start, window.data(), window.size())) {
            window.clear();
            return source->readExactAt(offset, out, n);
        }
        windowStart = start;
        return read(offset, out, n);
    }
};

namespace {

uint32_t fileTypeOf(uint32_t addr) {
    return (addr & bf::kAddrFileTypeMask) >> bf::kAddrFileTypeShift;
}

}  // namespace

std::string blockFileName(uint32_t number) {
    return "data_" + std::to_string(number);
}

std::string externalFileName(uint32_t number) {
    char name[16];
    std::snprintf(name, sizeof name, "f_%06x", number);
    return name;
}

const char* describe(BlockIndexProblem problem) {
    switch (problem) {
        case BlockIndexProblem::None:
            return "no problem";
        case BlockIndexProblem::Missing:
            return "no index file";
        case BlockIndexProblem::TooShort:
            return "index file too short";
        case BlockIndexProblem::BadMagic:
            return "index file with a wrong magic number";
        case BlockIndexProblem::BadVersion:
            return "index file of an unknown version";
        case BlockIndexProblem::BadTableLength:
            return "index file with a bad table length";
        case BlockIndexProblem::TableCut:
            return "index file shorter than its table";
        case BlockIndexProblem::ReadFailed:
            return "index file unreadable";
    }
    return "damaged index file";
}

BlockFileCache::BlockFileCache(Opener opener) : opener_(std::move(opener)) {}
BlockFileCache::~BlockFileCache() = default;

BlockIndexProblem BlockFileCache::open() {
    table_.clear();
    storedEntries_ = 0;
    std::unique_ptr<ByteSource> index = opener_(bf::kIndexName);
    if (!index) {
        return BlockIndexProblem::Missing;
    }
    unsigned char header[bf::kIndexHeaderSize];
    if (index->size() < sizeof header) {
        return BlockIndexProblem::TooShort;
    }
    if (!index->readExactAt(0, header, sizeof header)) {
        return BlockIndexProblem::ReadFailed;
    }
    if (loadLe32(header + bf::kIndexMagicOffset) != bf::kIndexMagic) {
        return BlockIndexProblem::BadMagic;
    }
    const uint32_t version = loadLe32(header + bf::kIndexVersionOffset);
    if (version != bf::kIndexVersion2_0 && version != bf::kIndexVersion2_1 &&
        version != bf::kIndexVersion3_0) {
        return BlockIndexProblem::BadVersion;
    }
    uint32_t tableLen = loadLe32(header + bf::kIndexTableLenOffset);
    if (tableLen == 0) {
        tableLen = bf::kIndexDefaultTableLen;
    }
    if (tableLen > bf::kIndexMaxTableLen || (tableLen & (tableLen - 1)) != 0) {
        return BlockIndexProblem::BadTableLength;
    }
    // The table may be shorter on disk than the header claims only when the
    // file was cut.
    if ((index->size() - bf::kIndexTableOffset) / 4 < tableLen) {
        return BlockIndexProblem::TableCut;
    }
    table_.resize(tableLen);
    if (!index->readExactAt(bf::kIndexTableOffset, table_.data(), std::size_t{tableLen} * 4)) {
        table_.clear();
        return BlockIndexProblem::ReadFailed;
    }
    // Decoded in place: each slot holds its own four little-endian bytes.
    for (uint32_t& slot : table_) {
        unsigned char bytes[4];
        std::copy_n(reinterpret_cast<const unsigned char*>(&slot), 4, bytes);
        slot = loadLe32(bytes);
    }
    const auto stored = static_cast<int32_t>(loadLe32(header + bf::kIndexNumEntriesOffset));
    storedEntries_ = stored > 0 ? static_cast<uint32_t>(stored) : 0;
    return BlockIndexProblem::None;
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
            loadLe32(header + bf::kBlockMagicOffset) == bf::kBlockMagic &&
            (loadLe32(header + bf::kBlockVersionOffset) == bf::kBlockVersion2 ||
             loadLe32(header + bf::kBlockVersionOffset) == bf::kBlockVersion3) &&
            loadLe16(header + bf::kBlockThisFileOffset) == number) {
            file->blockSize = loadLe32(header + bf::kBlockEntrySizeOffset);
            file->maxBlocks =
                std::min(loadLe32(header + bf::kBlockMaxEntriesOffset), bf::kMaxBlocks);
        } else {
            file->source.reset();
        }
        found = blockFiles_.emplace(number, std::move(file)).first;
    }
    BlockFile* file = found->second.get();
    if (!file->source || file->blockSize != blockSize) {
        return nullptr;
    }
    return file;
}

bool BlockFileCache::locateBlocks(uint32_t addr, uint32_t wantedType, BlockFile*& file,
                                  uint64_t& offset, uint32_t& span) {
    if ((addr & bf::kAddrInitializedMask) == 0 || (addr & bf::kAddrReservedMask) != 0) {
        return false;
    }
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
    if (file == nullptr || start + blocks > file->maxBlocks) {
        return false;
    }
    offset = bf::kBlockHeaderSize + uint64_t{start} * blockSize;
    span = blocks * blockSize;
    return offset + span <= file->source->size();
}

bool BlockFileCache::locateStream(uint32_t addr, uint32_t size, Stream& stream) {
    stream.size = size;
    if (size == 0) {
        return true;
    }
    if ((addr & bf::kAddrInitializedMask) == 0) {
        return false;
    }
    if (fileTypeOf(addr) == static_cast<uint32_t>(bf::FileType::External)) {
        const std::string name = externalFileName(addr & bf::kAddrFileNameMask);
        auto known = externalSizes_.find(name);
        if (known == externalSizes_.end()) {
            std::unique_ptr<ByteSource> source = opener_(name);
            known = externalSizes_.emplace(name, source ? source->size() : 0).first;
        }
        if (known->second < size) {
            return false;
        }
        stream.file = name;
        stream.offset = 0;
        stream.external = true;
        stream.fileNumber = addr & bf::kAddrFileNameMask;
    } else {
        BlockFile* file = nullptr;
        uint64_t offset = 0;
        uint32_t span = 0;
        if (!locateBlocks(addr, 0, file, offset, span) || span < size) {
            return false;
        }
        stream.file = file->name;
        stream.offset = offset;
        stream.fileNumber = (addr & bf::kAddrFileSelectorMask) >> bf::kAddrFileSelectorShift;
    }
    stream.usable = true;
    return true;
}

void BlockFileCache::readRankings(uint32_t rankingsAddr, Entry& entry) {
    BlockFile* file = nullptr;
    uint64_t offset = 0;
    uint32_t span = 0;
    unsigned char node[bf::kRankingsNodeSize];
    // An entry whose node cannot be read is judged by its own blocks alone.
    if (!locateBlocks(rankingsAddr, static_cast<uint32_t>(bf::FileType::Rankings), file, offset,
                      span) ||
        span < sizeof node || !file->read(offset, node, sizeof node)) {
        return;
    }
    entry.dirty = loadLe32(node + bf::kRankingsDirtyOffset) != 0;
    entry.lastUsed = loadLe64(node + bf::kRankingsLastUsedOffset);
}

const char* BlockFileCache::readEntry(uint32_t addr, Entry& entry, uint32_t& next) {
    BlockFile* file = nullptr;
    uint64_t offset = 0;
    uint32_t span = 0;
    next = 0;
    if (!locateBlocks(addr, static_cast<uint32_t>(bf::FileType::Block256), file, offset, span)) {
        return "damaged block-file entry (bad address)";
    }
    unsigned char store[bf::kMaxNumBlocks * bf::kEntryStoreSize];
    if (!file->read(offset, store, span)) {
        return "damaged block-file entry (unreadable)";
    }
    const unsigned char* p = store;
    next = loadLe32(p + bf::kEntryNextOffset);
    entry.address = addr;
    entry.hash = loadLe32(p + bf::kEntryHashOffset);
    entry.state = static_cast<int32_t>(loadLe32(p + bf::kEntryStateOffset));
    entry.flags = loadLe32(p + bf::kEntryFlagsOffset);
    entry.creationTime = loadLe64(p + bf::kEntryCreationTimeOffset);
    const auto keyLength = static_cast<int32_t>(loadLe32(p + bf::kEntryKeyLenOffset));
    const uint32_t longKey = loadLe32(p + bf::kEntryLongKeyOffset);
    if (keyLength < 0 || static_cast<uint32_t>(keyLength) > bf::kMaxKeyLength) {
        return "damaged block-file entry (bad key length)";
    }
    if ((longKey & bf::kAddrInitializedMask) != 0) {
        Stream keyStream;
        std::vector<unsigned char> keyBytes;
        if (!locateStream(longKey, static_cast<uint32_t>(keyLength), keyStream) ||
            !readStream(keyStream, bf::kMaxKeyLength, keyBytes)) {
            return "damaged block-file entry (bad long key)";
        }
        entry.key.assign(keyBytes.begin(), keyBytes.end());
    } else {
        if (static_cast<std::size_t>(keyLength) >= span - bf::kEntryKeyOffset) {
            return "damaged block-file entry (key past its blocks)";
        }
        entry.key.assign(reinterpret_cast<const char*>(p + bf::kEntryKeyOffset),
                         static_cast<std::size_t>(keyLength));
    }
    for (std::size_t i = 0; i < bf::kEntryStreams; ++i) {
        const auto size = static_cast<int32_t>(loadLe32(p + bf::kEntryDataSizeOffset + 4 * i));
        const uint32_t dataAddr = loadLe32(p + bf::kEntryDataAddrOffset + 4 * i);
        Stream& stream = entry.streams[i];
        stream = Stream{};
        if (size < 0) {
            stream.size = 0;
            continue;
        }
        if (!locateStream(dataAddr, static_cast<uint32_t>(size), stream)) {
            stream.usable = false;
        }
        if (size == 0) {
            stream.usable = true;
        }
    }
    readRankings(loadLe32(p + bf::kEntryRankingsOffset), entry);
    return nullptr;
}

void BlockFileCache::forEachEntry(const std::function<void(const Entry&)>& visit,
                                  const std::function<void(const std::string& reason)>& skip,
                                  const std::function<bool()>& keepGoing) {
    // The chains are walked a link at a time for all of them: first every
    // bucket's first entry, then every second one, ..., each round in the
    // order of the entries in their block files, so that the reads go
    // through the files rather than hop about them.
    const auto position = [](uint32_t addr) {
        return (addr & (bf::kAddrFileSelectorMask | bf::kAddrStartBlockMask));
    };
    std::vector<uint32_t> round;
    for (const uint32_t head : table_) {
        if ((head & bf::kAddrInitializedMask) != 0) {
            round.push_back(head);
        }
    }
    std::unordered_set<uint32_t> seen;
    std::vector<uint32_t> nextRound;
    Entry entry;
    while (!round.empty()) {
        std::sort(round.begin(), round.end(),
                  [&](uint32_t a, uint32_t b) { return position(a) < position(b); });
        nextRound.clear();
        for (const uint32_t addr : round) {
            if (seen.size() >= kMaxEntries || (keepGoing && !keepGoing())) {
                return;
            }
            if (!seen.insert(addr).second) {
                continue;  // a loop, or a chain joining another
            }
            uint32_t next = 0;
            entry = Entry{};
            if (const char* reason = readEntry(addr, entry, next)) {
                skip(reason);
            } else {
                visit(entry);
            }
            if ((next & bf::kAddrInitializedMask) != 0) {
                nextRound.push_back(next);
            }
        }
        round.swap(nextRound);
    }
}

bool BlockFileCache::readStream(const Stream& stream, uint32_t limit,
                                std::vector<unsigned char>& out) {
    out.clear();
    if (!stream.usable || stream.size > limit) {
        return false;
    }
    if (stream.size == 0) {
        return true;
    }
    out.resize(stream.size);
    if (stream.file.rfind("data_", 0) == 0) {
        for (auto& [number, file] : blockFiles_) {
            if (file->name == stream.file && file->source) {
                return file->read(stream.offset, out.data(), out.size());
            }
        }
        return false;
    }
    std::unique_ptr<ByteSource> source = opener_(stream.file);
    return source && source->readExactAt(stream.offset, out.data(), out.size());
}

}  // namespace harvix::chromium
