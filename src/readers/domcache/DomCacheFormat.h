// On-disk layout of Firefox's service-worker caches (the Cache API a page or
// its service worker fills itself), below each profile folder (the
// configuration folder, not the cache home):
//
//   <profile>/storage/default/
//     <origin>/                   "https+++example.org", "http+++127.0.0.1+8080", ...
//       cache/
//         caches.sqlite           the index: caches, entries, headers (SQLite,
//                                 in WAL mode)
//         caches.sqlite-wal       its write-ahead log (DomCacheWal.h): while
//                                 Firefox runs or after it was killed, the
//                                 rows committed last
//         morgue/<n>/{<uuid>}.final   one body per entry, in snappy's framing
//                                 format (http/SnappyFramingFormat.h); <n> is
//                                 the uuid's last byte in decimal
//
// The tables and columns this reader uses:
//   storage(namespace, key, cache_id)   the named caches: namespace 0 is
//                                       the page's, 1 Firefox's own (the
//                                       scripts of service workers); key the
//                                       name in UTF-16
//   entries(id, cache_id, request_method, request_url_no_query,
//           request_url_query, response_type, response_status,
//           response_body_id)           one row per request and response;
//                                       response_body_id "{uuid}", or NULL
//   response_headers(name, value, entry_id)
// The body is stored as the page received it: any Content-Encoding the
// headers still name was undone before.
#pragma once

#include <cstddef>
#include <cstdint>

namespace harvix::domcache {

// --- Folders and files ------------------------------------------------------
inline constexpr const char* kStorageFolder = "storage";
inline constexpr const char* kDefaultFolder = "default";  // storage/default: web pages' data
inline constexpr const char* kCacheFolder = "cache";
inline constexpr const char* kDatabaseName = "caches.sqlite";
inline constexpr const char* kMorgueFolder = "morgue";
inline constexpr const char* kBodySuffix = ".final";
inline constexpr std::size_t kBodyIdLength = 38;  // "{8-4-4-4-12}"

// --- Values --------------------------------------------------------------
inline constexpr int64_t kNamespaceContent = 0;  // caches the page made
inline constexpr int64_t kNamespaceChrome = 1;   // Firefox's own
inline constexpr int64_t kTypeOpaque = 4;        // a no-cors answer: status 0

// The SQLite file header: bytes 18 and 19 are the write and read versions,
// 2 for a database in WAL mode, 1 for a rollback journal.
inline constexpr std::size_t kSqliteHeaderSize = 100;
inline constexpr std::size_t kSqliteWriteVersionOffset = 18;
inline constexpr std::size_t kSqliteReadVersionOffset = 19;
inline constexpr unsigned char kSqliteLegacyVersion = 1;

// Limits this reader puts on untrusted input.
inline constexpr uint64_t kMaxDatabaseSize = uint64_t{256} << 20;  // read into memory
inline constexpr uint64_t kMaxWalSize = uint64_t{1} << 30;  // of the log, read frame by frame
inline constexpr int kMaxProgressSteps =
    100000;  // progress callbacks (of 1,000 steps) a query may take

}  // namespace harvix::domcache
