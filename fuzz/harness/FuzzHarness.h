// One input through one parser, the way the program uses that parser: the
// libFuzzer targets call these, and so does the regression test that replays
// the committed inputs and the seed corpus in the ordinary test build.
//
// A harness never trusts its input, writes only below the scratch folder it
// is given, and checks what must hold whatever the input (the cache files
// are never written, texts stay valid UTF-8, numbers stay in range, a saved
// file reads back alike). A broken rule throws HarnessFailure: libFuzzer
// reports the uncaught exception as a crash, a test reports a failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace harvix {

namespace fs = std::filesystem;

namespace fuzzing {

class HarnessFailure : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

// A folder of its own for one process, on a memory file system when there is
// one (/dev/shm), removed when the object goes.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// The Firefox disk cache: the input holds the four cache files and one
// separate data file (see packMozillaCache); the reader opens them, walks the
// map, and the comb pass copies the entries (picture probe and Skip
// Duplicates included) into a target folder below `scratch`.
void runMozillaMap(const uint8_t* data, std::size_t size, const fs::path& scratch);
// One metadata item of a Firefox cache record.
void runMozillaMetadata(const uint8_t* data, std::size_t size);
// A profile file read as the settings file and as a language file, then
// changed and saved.
void runProfile(const uint8_t* data, std::size_t size, const fs::path& scratch);
// A filter file loaded, saved and loaded again.
void runFilterFile(const uint8_t* data, std::size_t size, const fs::path& scratch);
// A URL cache index (index.dat) read through the URL cache service and the
// Internet Explorer reader, with a few of the cached files it names laid
// out and copied.
void runIndexDat(const uint8_t* data, std::size_t size, const fs::path& scratch);
// A Firefox cache2 entry file: parsed from its tail, listed from an entries
// folder, and its body copied through the decoder under a small bound.
void runCache2Entry(const uint8_t* data, std::size_t size, const fs::path& scratch);
// The picture-size probe over one cached file.
void runPictureSize(const uint8_t* data, std::size_t size, const fs::path& scratch);

// The input layout of runMozillaMap: one flag byte, four 32-bit little-endian
// lengths, then the map's records, block files 1 to 3 without their
// 4096-byte bitmaps, and the rest as the separate data file. The map's
// 276-byte header and the bitmaps are written as zeros (the reader does not
// use them) unless flag bit i says that file i is given whole.
struct PackedCache {
    uint8_t flags = 0;
    std::string files[4];  // map, block files 1..3 (without the fixed parts unless flagged)
    std::string separate;
};
std::string packMozillaCache(const PackedCache& cache);
PackedCache unpackMozillaCache(const uint8_t* data, std::size_t size);
// Packs a cache folder written by the cache writer; the first separate data
// file found (if any) becomes the separate part.
std::string packMozillaCacheFolder(const fs::path& folder);

// One simple-cache entry file (`<16 hex>_0`) of a Chromium cache.
void runChromiumSimple(const uint8_t* data, std::size_t size);
// A simple cache's `_s` file: the ranges of media fetched in ranges.
void runChromiumSparse(const uint8_t* data, std::size_t size);
// A Chromium block-file cache: for each of index, data_0 .. data_3 and
// f_000001 a 32-bit little-endian length and the file's bytes.
void runChromiumBlockFile(const uint8_t* data, std::size_t size);
std::string packBlockFileCache(const fs::path& folder);

// A body's stored bytes under a chain of content codings: one byte whose low
// three bits count the codings and whose high five bits choose the size of
// the pieces fed, one byte per coding (gzip, deflate, br, zstd by the value
// modulo 5, 4 being snappy's framing), then the bytes.
void runBodyDecoder(const uint8_t* data, std::size_t size);

// The bytes as the index of a Chromium service-worker store and as one
// entry's metadata, and that entry's decision.
void runCacheStorage(const uint8_t* data, std::size_t size);
// The bytes as a Firefox service-worker store's caches.sqlite and, from the
// first 512-byte boundary holding a log's magic number on, its write-ahead
// log: the log laid over the database, read as a database, then through the
// store's reader, which must leave both as they were.
void runDomCache(const uint8_t* data, std::size_t size, const fs::path& scratch);

// The harness names, as the fuzz targets and the corpus folders are named.
inline constexpr std::string_view kHarnessNames[] = {
    "mozilla_map",   "mozilla_metadata", "profile",         "filter_file",        "index_dat",
    "picture_size",  "cache2_entry",     "chromium_simple", "chromium_blockfile", "body_decoder",
    "cache_storage", "dom_cache",        "chromium_sparse"};

// Runs the named harness; false for an unknown name.
bool runHarness(std::string_view name, const uint8_t* data, std::size_t size,
                const fs::path& scratch);

}  // namespace fuzzing

}  // namespace harvix
