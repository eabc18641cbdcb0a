// On-disk layout of the Chromium family's service-worker caches (the Cache
// API a page or its service worker fills itself), as Chromium writes them
// below each profile folder (the configuration folder, not the cache home):
//
//   <profile>/Service Worker/CacheStorage/
//     <40 hex>/                  one folder per origin (a hash of it)
//       index.txt                CacheStorageIndex (below): the caches' names,
//                                their folders and the origin
//       <uuid>/                  one simple cache per named cache
//         index, index-dir/      as in every simple cache
//         <16 hex>_0             one entry: key, stream 1, stream 0
//
// An entry file is an ordinary simple-cache entry (SimpleCacheFormat.h) with
// three differences: the key is the bare request URL; stream 1 is the body
// as the page received it (any Content-Encoding already undone, while the
// stored headers still name it); stream 0 is a CacheMetadata message
// (below) instead of the HTTP cache's pickled response info.
//
// Both messages are protocol buffers (proto2); only the fields this reader
// uses are named here. Field numbers after Chromium's
// content/browser/cache_storage/cache_storage.proto.
#pragma once

#include <cstddef>
#include <cstdint>

namespace harvix::cachestorage {

// --- Folders and files ------------------------------------------------------
inline constexpr const char* kServiceWorkerFolder = "Service Worker";
inline constexpr const char* kCacheStorageFolder = "CacheStorage";
inline constexpr const char* kIndexName = "index.txt";
inline constexpr std::size_t kOriginFolderDigits = 40;  // hex digits of an origin folder's name
inline constexpr std::size_t kCacheFolderLength = 36;   // 8-4-4-4-12 hex digits and dashes

// --- CacheStorageIndex (index.txt) -----------------------------------------
inline constexpr uint32_t kIndexCache = 1;   // repeated message Cache
inline constexpr uint32_t kIndexOrigin = 2;  // string, e.g. "https://example.org/"
// message Cache
inline constexpr uint32_t kCacheName = 1;       // string (UTF-8; older profiles)
inline constexpr uint32_t kCacheFolder = 2;     // string, the <uuid> folder
inline constexpr uint32_t kCacheSize = 3;       // int64, bytes
inline constexpr uint32_t kCacheUtf16Name = 7;  // bytes, the name in UTF-16LE (newer profiles)

// --- CacheMetadata (stream 0 of an entry) ------------------------------------
inline constexpr uint32_t kMetadataRequest = 1;    // message CacheRequest
inline constexpr uint32_t kMetadataResponse = 2;   // message CacheResponse
inline constexpr uint32_t kMetadataEntryTime = 3;  // int64, µs since 1601
// message CacheRequest
inline constexpr uint32_t kRequestMethod = 1;  // string
// message CacheResponse
inline constexpr uint32_t kResponseStatus = 1;      // int32
inline constexpr uint32_t kResponseStatusText = 2;  // string
inline constexpr uint32_t kResponseType = 3;        // enum (below)
inline constexpr uint32_t kResponseHeader = 4;      // repeated message CacheHeaderMap
inline constexpr uint32_t kResponseTime = 6;        // int64, µs since 1601
inline constexpr uint32_t kResponseUrlList = 8;     // repeated string, the URLs fetched
inline constexpr uint32_t kResponseMimeType = 13;   // string
// message CacheHeaderMap
inline constexpr uint32_t kHeaderName = 1;   // string
inline constexpr uint32_t kHeaderValue = 2;  // string

// CacheResponse's response types (the Fetch standard's).
inline constexpr uint64_t kTypeBasic = 0;
inline constexpr uint64_t kTypeCors = 1;
inline constexpr uint64_t kTypeDefault = 2;
inline constexpr uint64_t kTypeError = 3;
inline constexpr uint64_t kTypeOpaque = 4;  // a no-cors answer: status 0, no headers
inline constexpr uint64_t kTypeOpaqueRedirect = 5;

// Limits this reader puts on untrusted numbers.
inline constexpr uint64_t kMaxIndexSize = 4u << 20;  // index.txt
inline constexpr std::size_t kMaxCaches = 65536;     // caches of one origin
inline constexpr std::size_t kMaxHeaders = 1024;     // headers of one response

}  // namespace harvix::cachestorage
