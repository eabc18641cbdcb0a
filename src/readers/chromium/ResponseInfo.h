// The pickled HTTP response info that stream 0 of every Chromium cache entry
// holds (both formats), and the helpers that turn a cache key and a cache
// time into the values a listing shows. Layout from Chromium's
// net/http/http_response_info.cc and base/pickle.h, little-endian:
//
//   uint32 payload size                 (the pickle header; payload follows)
//   int32  flags                        bits 0..7 version (1..3), the rest below
//   int32  extra flags                  only when flags has kHasExtraFlags
//   int64  request time                 µs since 1601-01-01 UTC
//   int64  response time                µs since 1601-01-01 UTC
//   int64  original response time       only when extra flags has kExtraHasOriginalResponseTime
//   int32  length, then the raw header lines, each ending in NUL, padded to 4
//   ...    certificate, connection and other fields this reader does not use
// Every field starts at a multiple of 4 from the payload's start.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace harvix::chromium {

inline constexpr uint32_t kResponseInfoVersionMask = 0xFF;
inline constexpr uint32_t kResponseInfoMinVersion = 1;
inline constexpr uint32_t kResponseInfoMaxVersion = 3;
inline constexpr uint32_t kResponseInfoTruncated = 1u << 12;  // the download was cut short
inline constexpr uint32_t kResponseInfoHasExtraFlags = 1u << 31;
inline constexpr uint32_t kExtraHasOriginalResponseTime = 1u << 2;

// Microseconds from 1601-01-01 to 1970-01-01.
inline constexpr int64_t kEpochDeltaMicroseconds = 11644473600LL * 1000000LL;

struct ResponseInfo {
    uint32_t flags = 0;
    uint32_t extraFlags = 0;
    int64_t requestTime = 0;   // µs since 1601
    int64_t responseTime = 0;  // µs since 1601
    // "HTTP/1.1 200 OK\0Name: value\0...\0": a view into the stream 0 bytes
    // parsed, valid while they are.
    std::string_view rawHeaders;
    bool truncated() const { return (flags & kResponseInfoTruncated) != 0; }
};

// Parses stream 0; nullopt when it is not a response info this reader knows
// (too short, a length past the end, an unknown version).
std::optional<ResponseInfo> parseResponseInfo(std::span<const unsigned char> stream0);

// Seconds since 1970 for a time in µs since 1601; 0 for times before 1970.
int64_t unixTimeFromChromium(int64_t microsecondsSince1601);

// The URL of a cache key. Chromium keys an entry as
// "<credential flag>/<upload id>/[<isolation part> ]<url>": "1/0/_dk_<site>
// <site> <url>" with the split cache, "1/0/<url>" without it (switched off,
// or an older profile), "<upload id>/<url>" for an older POST, the bare URL
// in the oldest caches. The URL follows the number prefixes and the last
// blank. Empty unless it is an http or https URL.
std::string urlFromKey(std::string_view key);

}  // namespace harvix::chromium
