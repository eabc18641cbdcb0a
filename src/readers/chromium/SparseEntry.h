// Media a Chromium browser fetched in ranges (simple cache): the entry's
// `_0` file holds the response head of a 206 answer, the bytes lie in
// ranges of its `_s` file (layout in SimpleCacheFormat.h). The entry is
// taken only when the ranges hold every byte of the resource, and is then
// the whole resource, its body the ranges one after the other.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "readers/CacheReader.h"
#include "readers/chromium/ByteSource.h"
#include "readers/chromium/ChromiumCache.h"
#include "readers/chromium/SimpleCacheParser.h"

namespace harvix::chromium {

// One range of a `_s` file: `length` bytes of the resource from `offset`,
// stored at `fileOffset` of the file.
struct SparseRange {
    uint64_t offset = 0;
    uint64_t length = 0;
    uint64_t fileOffset = 0;
    uint32_t crc32 = 0;  // 0: none kept
};

enum class SparseProblem {
    None,
    TooShort,       // no whole header and key
    BadMagic,       // the header's or a range's magic number is wrong
    BadVersion,     // a version this reader does not know
    OtherKey,       // the key is not the entry's
    BadRange,       // a range header or its data runs past the file's end
    TooManyRanges,  // more than kMaxSparseRanges
    Overlap,        // two ranges share bytes, or one ends past the resource
    ReadFailed,
};

// The ranges of a `_s` file, by their offsets in the resource. With `key`,
// the file must be that entry's.
SparseProblem parseSparseFile(const ByteSource& file, std::optional<std::string_view> key,
                              std::vector<SparseRange>& ranges);

// Whether `ranges` (by offset) hold every byte of a resource of `total`
// bytes, and nothing past it: None when they do, Overlap when they share
// bytes or reach past `total`. `complete` tells whether no byte is missing.
SparseProblem checkCoverage(const std::vector<SparseRange>& ranges, uint64_t total, bool& complete);

// A short English text for a problem (the reader's skip reasons).
const char* describe(SparseProblem problem);

// The skip reason of a range entry whose bytes have gaps.
inline constexpr const char* kReasonIncompleteMedia = "incomplete media";

// Takes the range entry whose `_0` file was read into `entry` and whose
// bytes lie in `sparseFile`: an http or https URL, a 206 answer whose
// Content-Range tells the resource's size, every byte of it present. Null
// when taken (`record` filled, its size the resource's), else why not.
const char* acceptSparseEntry(const fs::path& sparseFile, const SimpleEntryFile& entry,
                              CacheRecord& record);

// The body of a range entry: the ranges of `source.file` (opened below
// `source.root`), read again as they are now, as the pieces of `source`,
// whose length must be the resource's. Throws ErrorReport (ChromiumCache,
// FileRead; ENODATA when bytes are now missing) when they no longer make it.
void fillSparseBody(BodySource& source);

}  // namespace harvix::chromium
