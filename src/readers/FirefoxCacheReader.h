// The Firefox disk cache reader.
//
// Firefox (up to version 31) keeps its disk cache in one folder: the map
// _CACHE_MAP_, three block files _CACHE_001_ to _CACHE_003_ and a separate
// file for every item too large for the block files. The reader parses these
// files itself: it walks the map's records in file order, reads each record's
// metadata item (key, response head) and makes one entry per usable record;
// bodySource says where an entry's data lies (a range of a block file, or a
// separate file). The layout is described in readers/FirefoxCacheFormat.h.
//
// Every number in the cache files is treated as untrusted: reads go through
// explicit offsets and lengths, parsing never leaves the bytes that were read,
// and every buffer has a fixed upper bound.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/FileHandle.h"
#include "readers/CacheReader.h"
#include "readers/FirefoxCacheFormat.h"

namespace harvix {

// One record of the cache map that the reader accepted.
struct FirefoxCacheEntry : public CacheEntry {
    // The nine numbers of the metadata item's header, in host order:
    // version, metadata location, fetch count, last fetched, last
    // modified, expiration time, data size, key size, metadata size.
    std::array<uint32_t, 9> recordHeader{};
    char keyFirstByte = 0;  // first byte of the cache key

    uint32_t metaFileIndex = 0;  // file selector of the metadata location (0..3)
    uint32_t dataFileIndex = 0;  // file selector of the data location (0..3)
    uint64_t dataOffset = 0;     // block-file data: byte offset of its first block
    uint32_t dataLength = 0;     // block-file data: its blocks times the block size

    // The map record's hash number and data location (host order); they
    // name a separate data file.
    uint32_t hashNumber = 0;
    uint32_t dataLocation = 0;
    uint32_t metaLocation = 0;  // where the metadata item lies (the response head)

    std::string server;        // "Server:" value of the response head
    std::string acceptRanges;  // "Accept-Ranges:" value
    std::string etag;          // "Etag:" value
};

class FirefoxCacheReader : public CacheReader {
public:
    // Upper bound on the entries of one reading. A real cache holds far
    // fewer records; the bound keeps a damaged map of any length from
    // exhausting memory.
    static constexpr std::size_t kMaxEntries = std::size_t{1} << 20;

    // `folder`: the cache folder (open fails when it is empty); `base`: the
    // folder named or found at or above it, which may be a link itself while
    // nothing between it and the cache files may (empty: `folder` itself).
    explicit FirefoxCacheReader(std::string folder = {}, std::string base = {});
    ~FirefoxCacheReader() override;

    void close() override;
    // Opens the map and the three block files below the resolved folder;
    // throws ErrorReport (MozillaCache, CacheOpen, the folder tried, the
    // file or folder that failed).
    void open() override;
    void readEntries(std::vector<std::unique_ptr<CacheEntry>>& out, SkipCounts& skipped) override;
    // A block file range of exactly the entry's size, or the first of the
    // separate file's names that exists; throws ErrorReport (MozillaCache,
    // FileRead) when the entry's size passes its blocks or no file is found.
    BodySource bodySource(const CacheEntry& entry) const override;

    // The response head of the entry's metadata item, read again from its
    // blocks; "" when the item lives in a separate file or cannot be read.
    std::string responseHead(const CacheEntry& entry) const override;
    std::string cacheLocation() const override { return cacheFolder; }

    // The folder read.
    std::string cacheFolder;

    // Location word helpers (the word in host order).
    static uint32_t fileSelector(uint32_t location) {
        return (location >> firefox_cache::kSelectorShift) & firefox_cache::kSelectorMask;
    }
    static uint32_t extraBlocks(uint32_t location) {
        return (location >> firefox_cache::kExtraBlocksShift) & firefox_cache::kExtraBlocksMask;
    }
    static uint32_t firstBlock(uint32_t location) {
        return location & firefox_cache::kFirstBlockMask;
    }
    static uint32_t generation(uint32_t location) {
        return location & firefox_cache::kGenerationMask;
    }
    static uint32_t blockSize(uint32_t selector) { return firefox_cache::blockSize(selector); }

    // The separate file of a record, by the name the reader reports
    // ("%08X" hash, 'd' or 'm', generation in two decimal digits), followed
    // by the names Firefox itself uses: the same with the generation in
    // hexadecimal, and the sub-folder form of later versions
    // ("X/XX/XXXXX" + letter + "%02X"). Relative to the cache folder.
    static std::vector<std::string> separateFileNames(uint32_t hash, uint32_t generation,
                                                      char letter);

    // Set when all four cache files are open; cleared by Close.
    bool opened = false;

private:
    // Reads one map record; true when it kept an entry.
    bool readRecord(const unsigned char* record, std::vector<std::unique_ptr<CacheEntry>>& out,
                    SkipCounts& skipped);
    std::size_t readItem(uint32_t selector, uint64_t offset, std::size_t length,
                         unsigned char* buffer);
    bool claimBlocks(uint32_t selector, uint32_t firstBlock, uint32_t count);

    // The open cache files: the map, then block files 1 to 3. A location's
    // file selector indexes this array.
    std::array<FileHandle, 4> files_;
    std::string base_;
    // Per block file, the blocks that some accepted record's metadata has
    // already used during the current walk (see readEntries).
    std::array<std::vector<bool>, 4> claimed_;
    std::array<uint64_t, 4> fileSizes_{};
    // Holds one metadata item during the walk.
    std::vector<unsigned char> itemBuffer_;
};

}  // namespace harvix
