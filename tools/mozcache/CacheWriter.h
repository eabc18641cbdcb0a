// Writes Firefox disk caches (the format of Firefox 3 to 31) for tests, the
// demo and the benchmarks: the map _CACHE_MAP_ with its 276-byte header, the
// three block files _CACHE_001_ to _CACHE_003_ with their 4096-byte bitmaps,
// and separate data and metadata files. Besides sound records it writes the
// odd ones a reader must survive: hash 0, keys without "HTTP:", a data size
// of 0 or one that disagrees with the data, metadata in a separate file, raw
// location words that point anywhere, a trailing partial map record.
//
// Data is written as each entry is added, so a large cache never sits in
// memory; only the map records (16 bytes per entry) wait for Finish.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

namespace harvix {

namespace mozcache {

namespace fs = std::filesystem;

// Where an entry's data or metadata goes.
enum class Place { Auto, Block1, Block2, Block3, Separate };

// How separate files are named (hash 0A1B2C3D, generation 31, data):
//   Decimal  0A1B2C3Dd31     flat, generation in decimal
//   Hex      0A1B2C3Dd1F     flat, generation in hexadecimal
//   Nested   0/A1/B2C3Dd1F   sub-folders, as Firefox 3.x to 31 writes them
enum class Layout { Decimal, Hex, Nested };

// One named value of a metadata item (written as name, zero, value, zero).
using NamedValue = std::pair<std::string, std::string>;

struct Entry {
    std::string key;                   // the whole cache key, e.g. "HTTP:" + URL
    std::vector<NamedValue> values;    // in order; see ResponseValues
    std::string data;                  // the cached bytes
    uint32_t hash = 0;                 // 0: a hash made from the key
    bool zeroHash = false;             // write the hash number 0 (an empty record)
    std::optional<uint32_t> dataSize;  // data size field; default data.size()
    uint32_t lastModified = 0;
    uint32_t lastFetched = 0;
    uint32_t expiration = 0;
    uint32_t fetchCount = 1;
    Place dataPlace = Place::Auto;
    Place metaPlace = Place::Auto;
    Layout layout = Layout::Nested;
    uint8_t generation = 1;
    std::optional<uint32_t> dataLocation;  // written as is; no data is stored
    std::optional<uint32_t> metaLocation;  // written as is; no metadata is stored
};

// What Add wrote for an entry.
struct Record {
    uint32_t hash = 0;
    uint32_t evictionRank = 0;
    uint32_t dataLocation = 0;
    uint32_t metaLocation = 0;
    std::string dataFile;  // block file name or the separate file's path, relative
};

class WriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The usual named values of an HTTP entry: the request method and the
// response head.
std::vector<NamedValue> responseValues(const std::string& responseHead);
// A response head "HTTP/1.1 200 OK" with the given header lines, each ended
// by CR LF.
std::string ResponseHead(const std::vector<std::string>& headerLines);
// The metadata item of an entry: nine big-endian numbers, the key, the values.
std::string buildMetadata(const Entry& entry, uint32_t metaLocation, uint32_t dataSize);
// Name of a separate file relative to the cache folder.
std::string separateFileName(uint32_t hash, uint8_t generation, char letter, Layout layout);
// Location words.
uint32_t blockLocation(int selector, uint32_t firstBlock, int blockCount);
uint32_t separateLocation(uint8_t generation);

class CacheWriter {
public:
    static constexpr uint32_t kBlocksPerFile = 4096 * 8;  // one bit per block

    // Creates `folder` when needed and starts a new cache there (an earlier
    // cache's map and block files are replaced). Throws WriteError.
    explicit CacheWriter(const fs::path& folder);
    ~CacheWriter();
    CacheWriter(const CacheWriter&) = delete;
    CacheWriter& operator=(const CacheWriter&) = delete;

    // Stores the entry's data and metadata and queues its map record.
    // Throws WriteError when a file cannot be written or a block file that
    // was asked for is full.
    Record add(const Entry& entry);
    // Queues a map record exactly as given.
    void addRawRecord(const Record& record);
    // Bytes written after the last record (a partial record).
    void setTrailingBytes(std::string bytes) { trailing_ = std::move(bytes); }
    // Writes the map and the block files' bitmaps. Called by the destructor
    // when not called before (errors are then ignored).
    void finish();

    const fs::path& folder() const { return folder_; }
    std::size_t recordCount() const { return records_.size(); }

private:
    uint32_t makeHash(const std::string& key);
    // Stores `bytes` in block file `selector` (1..3) or returns false when it
    // does not fit; sets `location`.
    bool storeInBlocks(int selector, const std::string& bytes, uint32_t* location);
    // Stores `bytes` by `place`; returns the location word and file name.
    std::pair<uint32_t, std::string> Store(Place place, const std::string& bytes, uint32_t hash,
                                           uint8_t generation, char letter, Layout layout);
    void writeFile(const fs::path& path, const std::string& bytes);

    fs::path folder_;
    std::array<int, 4> blockFiles_{-1, -1, -1, -1};
    std::array<uint32_t, 4> nextBlock_{};
    std::array<std::vector<uint8_t>, 4> bitmaps_;
    std::vector<Record> records_;
    std::unordered_set<uint32_t> hashes_;
    std::string trailing_;
    uint64_t totalBytes_ = 0;
    bool finished_ = false;
};

}  // namespace mozcache

}  // namespace harvix
