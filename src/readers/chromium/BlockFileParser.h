// Reads a Chromium block-file cache: the index's hash table, the entries in
// the block files, their keys and where their streams lie. Layout in
// BlockFileFormat.h. Every address is checked against its file before use:
// its type, its block count, its block range within the file's header limits
// and within the file; hash chains that loop or share entries are cut.
//
// Only the blocks that are needed are read (the entry's blocks, its rankings
// node, stream 0 when asked for), through a small window per block file:
// block files may be tens of megabytes, and a listing needs a few hundred
// bytes an entry.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "readers/chromium/ByteSource.h"

namespace harvix::chromium {

// Why an index cannot be used.
enum class BlockIndexProblem {
    None,
    Missing,         // no index file
    TooShort,        // shorter than its header
    BadMagic,        // not the block-file index magic
    BadVersion,      // a version this reader does not know
    BadTableLength,  // not a power of two, or past the limit
    TableCut,        // shorter than its table
    ReadFailed,      // the file could not be read
};

// A short English text for a problem (the reader's skip reasons).
const char* describe(BlockIndexProblem problem);

// The names of block file N ("data_N") and external file N ("f_%06x").
std::string blockFileName(uint32_t number);
std::string externalFileName(uint32_t number);

class BlockFileCache {
public:
    // Opens a file of the cache folder by name ("index", "data_1",
    // "f_0000a1"); null when there is none or it cannot be opened.
    using Opener = std::function<std::unique_ptr<ByteSource>(const std::string& name)>;

    // Where one stream of an entry lies.
    struct Stream {
        uint32_t size = 0;      // the entry's data_size
        std::string file;       // "data_2", "f_000001"; empty when the stream is empty or unusable
        uint64_t offset = 0;    // first byte in `file`
        bool usable = false;    // `file` holds `size` bytes at `offset`
        bool external = false;  // `file` is f_<fileNumber> (else data_<fileNumber>)
        uint32_t fileNumber = 0;
    };
    struct Entry {
        std::string key;
        uint32_t hash = 0;
        int32_t state = 0;
        uint32_t flags = 0;
        uint64_t creationTime = 0;  // µs since 1601
        uint64_t lastUsed = 0;      // µs since 1601, from the rankings node; 0 when unread
        std::array<Stream, 4> streams;
        uint32_t address = 0;  // the entry's CacheAddr
        // The rankings node says the entry was not closed cleanly (it is
        // being written, or was when its browser died).
        bool dirty = false;
    };

    explicit BlockFileCache(Opener opener);
    ~BlockFileCache();

    // Reads and checks the index header and table.
    BlockIndexProblem open();
    // The number of entries the index header says the cache holds (0 before open).
    uint32_t storedEntries() const { return storedEntries_; }

    // Visits every entry the table reaches, each chain's first entries
    // first, in the order they lie in the block files. Entries that cannot
    // be read are reported to `skip` with a reason instead.
    // `keepGoing`, when given, is asked before each entry; false ends the walk.
    void forEachEntry(const std::function<void(const Entry&)>& visit,
                      const std::function<void(const std::string& reason)>& skip,
                      const std::function<bool()>& keepGoing = {});

    // Reads a usable stream of at most `limit` bytes; false otherwise.
    bool readStream(const Stream& stream, uint32_t limit, std::vector<unsigned char>& out);

    // Entries a walk visits at most (a bound on memory for damaged tables).
    static constexpr std::size_t kMaxEntries = std::size_t{1} << 21;

private:
    struct BlockFile;
    BlockFile* blockFile(uint32_t number, uint32_t blockSize);
    // Checks a block address of the given type (0: any data type); gives its file, offset and span.
    bool locateBlocks(uint32_t addr, uint32_t wantedType, BlockFile*& file, uint64_t& offset,
                      uint32_t& span);
    bool locateStream(uint32_t addr, uint32_t size, Stream& stream);
    // Null when read, else why the entry cannot be; `next` is the chain's next address.
    const char* readEntry(uint32_t addr, Entry& entry, uint32_t& next);
    // Sets the entry's `dirty` and `lastUsed` from its rankings node.
    void readRankings(uint32_t rankingsAddr, Entry& entry);

    Opener opener_;
    std::vector<uint32_t> table_;
    uint32_t storedEntries_ = 0;
    std::map<uint32_t, std::unique_ptr<BlockFile>> blockFiles_;
    std::map<std::string, uint64_t> externalSizes_;
};

}  // namespace harvix::chromium
