// The abstract cache reader and the cache entry.
//
// A reader knows one browser's cache format: it opens the cache (resolving
// its folder once), lists the entries it holds and says where each entry's
// stored bytes lie (bodySource). It never writes anything: the bytes reach a
// copy only through copyBody (readers/BodyCopy.h), which opens them below the
// folder of the cache they came from. A comb run drives it: openCache,
// readCache (a Reading: the entries and what was left out), the comb pass,
// close, then the reader is deleted.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/ErrorReport.h"
#include "platform/FileHandle.h"
#include "readers/http/BodyDecoder.h"

namespace harvix {

namespace fs = std::filesystem;

// One cached file. A reader derives from it to keep where the data lies.
struct CacheEntry {
    CacheEntry() = default;
    virtual ~CacheEntry() = default;
    CacheEntry(const CacheEntry&) = delete;
    CacheEntry& operator=(const CacheEntry&) = delete;

    std::string url;              // the source URL
    std::string contentTypeText;  // Content-Type value as the server sent it (UTF-8)
    int32_t contentType = 0;      // content-type code (base/ContentType.h), 0 when not recognised
    uint64_t size = 0;            // the stored body's size in bytes
    int64_t time = 0;             // seconds since 1970-01-01 00:00 UTC
    std::string dataFile;         // the listing's data-file column (reader-specific)
    uint32_t index = 0;           // position in the reading
    uint8_t store = 0;    // the store it came from, in a reading of several (CombinedReader)
    uint16_t status = 0;  // the stored response's HTTP status; 0 when the cache keeps none

    // The times the cache keeps beside `time`, seconds since 1970;
    // kNoTime where the format keeps none (each reader says what its
    // times mean: the listing's manual names them per format).
    static constexpr int64_t kNoTime = INT64_MIN;
    int64_t responseTime = kNoTime;  // when the response was received (or last revalidated)
    int64_t lastUsed = kNoTime;      // when the browser last used the entry
    int64_t expires = kNoTime;       // when the browser takes the entry to go stale
};

// One piece of a body stored in pieces (media fetched in ranges): `length`
// bytes at `offset` of the body's file, and the CRC-32 they must have when
// the cache keeps one.
struct BodyPiece {
    uint64_t offset = 0;
    uint64_t length = 0;
    std::optional<uint32_t> crc32{};
};

// Where an entry's stored bytes lie.
struct BodySource {
    fs::path file;        // absolute, below `root`
    uint64_t offset = 0;  // first byte of the body in `file`
    uint64_t length = 0;  // exactly the stored bytes
    ContentEncoding encoding = ContentEncoding::Identity;
    // `file` already open, when the reader holds it open (a block file) or
    // opened it to find it; empty otherwise, and the copy opens `file`.
    std::shared_ptr<const FileHandle> handle;
    // The cache folder `file` must lie below: the folder of the cache the
    // entry came from (a reader of several caches reads several folders,
    // each its own root). Empty: the reader's root().
    fs::path root;
    // The CRC-32 (zlib's) the stored bytes must have, when the cache keeps
    // one: bytes that differ (an entry the browser is still writing) make a
    // failed copy.
    // (Given a default, so that initialisers that stop at `root` stay complete.)
    std::optional<uint32_t> crc32{};
    // A body stored in pieces of `file`, in the order of the body: its bytes
    // are these pieces one after the other, `length` in all (`offset` and
    // `crc32` then unused). Empty: the one range at `offset`.
    std::vector<BodyPiece> pieces{};
};

// What a reading left out, and why (the summary on standard error).
struct SkipCounts {
    std::map<std::string, uint64_t> byReason;
    void add(const std::string& reason) { ++byReason[reason]; }
};

class CacheReader {
public:
    CacheReader() = default;
    virtual ~CacheReader() = default;
    CacheReader(const CacheReader&) = delete;
    CacheReader& operator=(const CacheReader&) = delete;

    // Makes the cache ready for reading and sets root(); throws ErrorReport
    // (kind CacheOpen, path = the folder or file tried).
    virtual void open() = 0;
    // Releases what open acquired; safe when nothing is open, and repeatedly.
    virtual void close() {}
    // Appends one entry per cache record the reader accepts, in the order of
    // the cache; counts what it leaves out in `skipped`.
    virtual void readEntries(std::vector<std::unique_ptr<CacheEntry>>& out,
                             SkipCounts& skipped) = 0;
    // Where `entry`'s bytes lie; throws ErrorReport when they cannot be found.
    // The comb's copy threads call it for several entries at once: it must
    // change nothing in the reader.
    virtual BodySource bodySource(const CacheEntry& entry) const = 0;
    // The raw response headers of an entry, for a preview; empty when unknown.
    virtual std::string responseHead(const CacheEntry&) const { return {}; }
    // The head a web archive keeps beside `entry`'s stored bytes, so that
    // the two agree. By default the stored head: the bytes are the body as
    // the server sent it (in its Content-Encoding). A store that keeps a
    // body decoded gives the head without the headers of its coding and
    // length, or nothing when its bytes cannot stand for the body sent.
    virtual std::optional<std::string> archiveHead(const CacheEntry& entry) const {
        return responseHead(entry);
    }
    // The resolved cache folder (set by open).
    const fs::path& root() const { return root_; }
    // Every cache folder this reader reads, resolved (set by open): no copy
    // may go into any of them. The whole folder of each cache, not only the
    // part holding the entries.
    virtual std::vector<fs::path> cacheFolders() const {
        return root_.empty() ? std::vector<fs::path>{} : std::vector<fs::path>{root_};
    }
    // For a browser whose cache folder the user can name: the folder this
    // reader read, as given or as it found it (not resolved); "" otherwise.
    virtual std::string cacheLocation() const { return {}; }

    // ---- A reading someone watches (the cache window) ----

    // Called by readEntries, on the reading thread, before each cache record
    // it visits, with the entries read so far (the vector readEntries
    // appends to). Returning false stops the reading: readEntries returns at
    // once with what it has, without an error. A watcher may look at the
    // entries (hand them on) but must not change the vector. With none set
    // (a comb run, harvix-cli) every record is read.
    using ReadingWatch = std::function<bool(const std::vector<std::unique_ptr<CacheEntry>>& read)>;
    void setReadingWatch(ReadingWatch watch) { watch_ = std::move(watch); }

    // ---- A reading handed on as it goes (harvix-cli list) ----

    // With a sink set, readEntries hands each entry it accepts to the sink
    // at once instead of appending it, numbered 0, 1, 2, ... in the order
    // of the cache: a reading printed as it goes keeps no entry, so that
    // its memory does not grow with the cache. An empty sink ends that.
    using EntrySink = std::function<void(std::unique_ptr<CacheEntry>)>;
    void setEntrySink(EntrySink sink) {
        sink_ = std::move(sink);
        handedOn_ = 0;
    }

protected:
    // For readEntries: whether to read the next record (see setReadingWatch).
    bool keepReading(const std::vector<std::unique_ptr<CacheEntry>>& read) const {
        return !watch_ || watch_(read);
    }
    // For readEntries: what becomes of an entry it accepts. Appended to
    // `out` and numbered by its place there, or handed to the sink.
    void keepEntry(std::vector<std::unique_ptr<CacheEntry>>& out,
                   std::unique_ptr<CacheEntry> entry);

    fs::path root_;

private:
    ReadingWatch watch_;
    EntrySink sink_;
    uint32_t handedOn_ = 0;
};

// One reading of a cache: its entries in the order of the cache, numbered
// 0, 1, 2, ... (`index`), and what the reading left out.
struct Reading {
    std::vector<std::unique_ptr<CacheEntry>> entries;
    SkipCounts skipped;

    // The entries, as the comb pass and the listings take them.
    std::vector<const CacheEntry*> view() const;
};

// Opens the cache; when it cannot be opened, closes the reader and returns
// why (the reader's ErrorReport).
std::optional<ErrorReport> openCache(CacheReader& reader);

// Reads every entry of an opened cache and numbers them.
Reading readCache(CacheReader& reader);

// Reads every entry of an opened cache, handing each to `each` as soon as
// it is read, numbered as readCache numbers them, and keeps none: what
// `each` needs of an entry it must take while it has it. Returns what the
// reading left out.
SkipCounts streamCache(CacheReader& reader, const std::function<void(const CacheEntry&)>& each);

}  // namespace harvix
