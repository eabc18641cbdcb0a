// Reads one cache2 entry file from its tail: the metadata that follows the
// body (layout in Cache2Format.h). Pure functions over bytes: the caller reads
// the last bytes of the file, and never the body itself.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "readers/http/ResponseHead.h"

namespace harvix::cache2 {

// Firefox's CacheHash (lookup2 by Bob Jenkins) over `bytes`.
uint32_t cacheHash(std::span<const unsigned char> bytes, uint32_t initialValue = 0);

// What one entry file's metadata says.
struct EntryRecord {
    uint32_t version = 0;
    uint32_t fetchCount = 0;
    uint32_t lastFetched = 0;
    uint32_t lastModified = 0;
    uint32_t frecency = 0;
    uint32_t expiration = 0;
    uint32_t flags = 0;
    std::string key;           // the whole key, as stored
    std::string url;           // the key after its tags; "" when the tags do not parse
    std::string responseHead;  // the "response-head" element; "" when there is none
    ResponseHead head;         // the same, parsed
    uint64_t metaOffset = 0;   // where the metadata starts: the end of the stored bytes
    uint64_t bodyLength = 0;   // the resource's bytes: metaOffset, or the alt-data offset
    bool hasAltData = false;
};

enum class TailStatus {
    Parsed,          // `record` holds the entry
    NeedLongerTail,  // read the last `neededTail` bytes and parse again
    Unreadable,      // offsets, lengths, terminators or the hash do not hold (being
                     // written, or damaged): `reason` says which
    UnknownVersion,  // a metadata version this reader does not know
};

struct TailParse {
    TailStatus status = TailStatus::Unreadable;
    uint64_t neededTail = 0;
    // Why an Unreadable file is left out: one of the kReasonBad... texts.
    const char* reason = nullptr;
    EntryRecord record;
};

// Parses the metadata from `tail`, the last tail.size() bytes of an entry
// file of `fileSize` bytes (tail.size() <= fileSize). Never reads outside
// `tail`; any length that does not fit gives Unreadable.
TailParse parseEntryTail(std::span<const unsigned char> tail, uint64_t fileSize);

// The URL in a key: after the tags, from the ':' tag on. Nothing when the tags
// do not parse the way Firefox parses them.
std::optional<std::string_view> urlOfKey(std::string_view key);

// Why a parsed entry is not listed, or nothing when it is: an http or https
// URL, status 200 or 203, a body, and all of it (the stored bytes reach the
// Content-Length); or status 206 with every byte of the resource its
// Content-Range names, from the first (media fetched in ranges). The texts
// are the summary's reasons.
std::optional<std::string> reasonToLeaveOut(const EntryRecord& record);

inline constexpr const char* kReasonNotHttp = "not an http or https address";
inline constexpr const char* kReasonPartial = "partial response (206)";
// A 206 entry of media with bytes missing (a clip not played to its end).
inline constexpr const char* kReasonIncompleteMedia = "incomplete media";
inline constexpr const char* kReasonRedirect = "redirect";
inline constexpr const char* kReasonStatus = "status other than 200 or 203";
inline constexpr const char* kReasonEmpty = "empty body";
inline constexpr const char* kReasonInterrupted = "interrupted download";
inline constexpr const char* kReasonUnknownVersion = "unknown entry version";
// Entry files that cannot be read as one: each counted by what failed.
inline constexpr const char* kReasonBadOffset = "bad metadata offset";
inline constexpr const char* kReasonBadKeySize = "bad key size";
inline constexpr const char* kReasonKeyWithoutNul = "key without its NUL";
inline constexpr const char* kReasonBadHash = "bad metadata hash";
inline constexpr const char* kReasonElementsWithoutNul = "elements without a NUL";
inline constexpr const char* kReasonBadAltData = "bad alt-data";
inline constexpr const char* kReasonUnreadableFile = "unreadable entry file";
inline constexpr const char* kReasonNotRegularFile =
    "entry file that is a link or not a regular file";

}  // namespace harvix::cache2
