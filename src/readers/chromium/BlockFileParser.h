// Reads a Chromium block-file cache: the index's hash table, the entries in
// the block files, their keys and where their streams lie. Layout in
// BlockFileFormat.h. Every address is checked against its file before use:
// its type, its block count, its block range within the file's header limits
// and within the file; hash chains that loop or share entries are cut.
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

class BlockFileCache {
public:
    // Opens a file of the cache folder by name ("index", "data_1",
    // "f_0000a1"); null when there is none or it cannot be opened.
    using Opener = std::function<std::unique_ptr<ByteSource>(const std::string& name)>;

    // Where one stream of an entry lies.
    struct Stream {
        uint32_t size = 0;    // the entry's data_size
        std::string file;     // "data_2", "f_000001"; empty when the stream is empty or unusable
        uint64_t offset = 0;  // first byte in `file`
        bool usable = false;  // `file` holds `size` bytes at `offset`
    };
    struct Entry {
        std::string key;
        uint32_t hash = 0;
        int32_t state = 0;
        uint32_t flags = 0;
        uint64_t creationTime = 0;  // µs since 1601
        std::array<Stream, 4> streams;
        uint32_t address = 0;  // the entry's CacheAddr
    };

    explicit BlockFileCache(Opener opener);
    ~BlockFileCache();

    // Reads and checks the index header and table. False, with a short
    // English reason, when the folder holds no usable block-file cache.
    bool open(std::string& problem);

    // Visits every entry the table reaches, in table order. Entries that
    // cannot be read are reported to `skip` with a reason instead.
    // `keepGoing`, when given, is asked before each entry; false ends the walk.
    void forEachEntry(const std::function<void(const Entry&)>& visit,
                      const std::function<void(const std::string& reason)>& skip,
                      const std::function<bool()>& keepGoing = {});

    // Reads a usable stream of at most `limit` bytes; false otherwise.
    bool readStream(const Stream& stream, uint32_t limit, std::vector<unsigned char>& out);

    // Entries a walk visits at most (a bound on memory for damaged tables).
    static constexpr std::size_t kMaxEntries = std::size_t{1} << 21;
    // Block files up to this size are read whole into memory.
    static constexpr uint64_t kMaxFileInMemory = uint64_t{32} << 20;

private:
    struct BlockFile;
    BlockFile* blockFile(uint32_t number, uint32_t blockSize);
    // Checks a block address of the given type (0: any data type); gives its file, offset and span.
    bool locateBlocks(uint32_t addr, uint32_t wantedType, BlockFile*& file, uint64_t& offset,
                      uint32_t& span);
    bool locateStream(uint32_t addr, uint32_t size, Stream& stream);
    bool readEntry(uint32_t addr, Entry& entry, uint32_t& next, std::string& reason);

    Opener opener_;
    std::vector<uint32_t> table_;
    std::map<uint32_t, std::unique_ptr<BlockFile>> blockFiles_;
    std::map<std::string, uint64_t> externalSizes_;
};

}  // namespace harvix::chromium
