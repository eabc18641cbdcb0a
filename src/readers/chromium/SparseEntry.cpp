#include "readers/chromium/SparseEntry.h"

#include <algorithm>
#include <cerrno>
#include <string>

#include "base/ErrorReport.h"
#include "platform/FileHandle.h"
#include "platform/Path.h"
#include "readers/chromium/ChromiumFiles.h"
#include "readers/chromium/ResponseInfo.h"
#include "readers/chromium/SimpleCacheFormat.h"
#include "readers/http/ResponseHead.h"

namespace harvix::chromium {

namespace sc = simplecache;

namespace {

// A body's file opened below its root, read by the parser.
class HandleBytes : public ByteSource {
public:
    explicit HandleBytes(const FileHandle& handle) : handle_(handle), size_(handle.size()) {}
    uint64_t size() const override { return size_; }
    bool readExactAt(uint64_t offset, void* buffer, std::size_t n) const override {
        return handle_.readExactAt(offset, buffer, n);
    }

private:
    const FileHandle& handle_;
    uint64_t size_;
};

}  // namespace

SparseProblem parseSparseFile(const ByteSource& file, std::optional<std::string_view> key,
                              std::vector<SparseRange>& ranges) {
    ranges.clear();
    const uint64_t size = file.size();
    unsigned char header[sc::kHeaderSize];
    if (size < sc::kHeaderSize) {
        return SparseProblem::TooShort;
    }
    if (!file.readExactAt(0, header, sizeof header)) {
        return SparseProblem::ReadFailed;
    }
    if (loadLe64(header + sc::kHeaderMagicOffset) != sc::kInitialMagic) {
        return SparseProblem::BadMagic;
    }
    const uint32_t version = loadLe32(header + sc::kHeaderVersionOffset);
    if (version < sc::kSparseVersionMin || version > sc::kSparseVersionMax) {
        return SparseProblem::BadVersion;
    }
    const uint32_t keyLength = loadLe32(header + sc::kHeaderKeyLengthOffset);
    if (keyLength > sc::kMaxKeyLength || keyLength > size - sc::kHeaderSize) {
        return SparseProblem::TooShort;
    }
    if (key) {
        if (key->size() != keyLength) {
            return SparseProblem::OtherKey;
        }
        std::string stored(keyLength, '\0');
        if (!file.readExactAt(sc::kHeaderSize, stored.data(), keyLength)) {
            return SparseProblem::ReadFailed;
        }
        if (stored != *key) {
            return SparseProblem::OtherKey;
        }
    }
    uint64_t at = sc::kHeaderSize + uint64_t{keyLength};
    unsigned char range[sc::kSparseRangeHeaderSize];
    while (at < size) {
        if (size - at < sc::kSparseRangeHeaderSize) {
            return SparseProblem::BadRange;
        }
        if (ranges.size() >= sc::kMaxSparseRanges) {
            return SparseProblem::TooManyRanges;
        }
        if (!file.readExactAt(at, range, sizeof range)) {
            return SparseProblem::ReadFailed;
        }
        if (loadLe64(range + sc::kRangeMagicOffset) != sc::kSparseRangeMagic) {
            return SparseProblem::BadMagic;
        }
        SparseRange found;
        found.offset = loadLe64(range + sc::kRangeOffsetOffset);
        found.length = loadLe64(range + sc::kRangeLengthOffset);
        found.crc32 = loadLe32(range + sc::kRangeCrc32Offset);
        found.fileOffset = at + sc::kSparseRangeHeaderSize;
        if (found.length > size - found.fileOffset || found.offset > UINT64_MAX - found.length) {
            return SparseProblem::BadRange;
        }
        at = found.fileOffset + found.length;
        if (found.length != 0) {
            ranges.push_back(found);
        }
    }
    std::sort(ranges.begin(), ranges.end(),
              [](const SparseRange& a, const SparseRange& b) { return a.offset < b.offset; });
    return SparseProblem::None;
}

SparseProblem checkCoverage(const std::vector<SparseRange>& ranges, uint64_t total,
                            bool& complete) {
    complete = false;
    uint64_t next = 0;  // the first byte no range before has held
    bool gap = false;
    for (const SparseRange& range : ranges) {
        if (range.offset < next || range.offset + range.length > total) {
            return SparseProblem::Overlap;
        }
        gap = gap || range.offset > next;
        next = range.offset + range.length;
    }
    complete = !gap && next == total;
    return SparseProblem::None;
}

const char* describe(SparseProblem problem) {
    switch (problem) {
        case SparseProblem::None:
            return "no problem";
        case SparseProblem::TooShort:
            return "damaged range file (too short)";
        case SparseProblem::BadMagic:
            return "damaged range file (bad magic number)";
        case SparseProblem::BadVersion:
            return "range file of an unknown version";
        case SparseProblem::OtherKey:
            return "range file of another entry";
        case SparseProblem::BadRange:
            return "damaged range file (range past its end)";
        case SparseProblem::TooManyRanges:
            return "damaged range file (too many ranges)";
        case SparseProblem::Overlap:
            return "damaged range file (overlapping ranges)";
        case SparseProblem::ReadFailed:
            return "unreadable range file";
    }
    return "damaged range file";
}

const char* acceptSparseEntry(const fs::path& sparseFile, const SimpleEntryFile& entry,
                              CacheRecord& record) {
    record.url = urlFromKey(entry.key);
    if (record.url.empty()) {
        return "not an http or https entry";
    }
    const std::optional<ResponseInfo> info = parseResponseInfo(entry.stream0);
    if (!info) {
        return "damaged response info";
    }
    const ResponseHead head = parseResponseHead(info->rawHeaders);
    const std::optional<uint64_t> total = head.wholeSize();
    if (!total) {
        return head.status == 206 ? "partial response (206)" : "sparse (range) entry";
    }
    if (*total == 0) {
        return "empty body";
    }
    record.encoding = head.contentEncoding();
    if (record.encoding == ContentEncoding::Unsupported) {
        return "unsupported Content-Encoding";
    }
    const std::unique_ptr<ByteSource> file = openCacheFile(sparseFile);
    if (!file) {
        return describe(SparseProblem::ReadFailed);
    }
    std::vector<SparseRange> ranges;
    SparseProblem problem = parseSparseFile(*file, entry.key, ranges);
    bool complete = false;
    if (problem == SparseProblem::None) {
        problem = checkCoverage(ranges, *total, complete);
    }
    if (problem != SparseProblem::None) {
        return describe(problem);
    }
    if (!complete) {
        return kReasonIncompleteMedia;
    }
    record.contentTypeText = head.contentType();
    record.size = *total;
    record.time = unixTimeFromChromium(info->responseTime);
    record.place.sparse = true;
    record.place.headOffset = static_cast<uint32_t>(entry.stream0Offset);
    record.place.headSize = static_cast<uint32_t>(entry.stream0.size());
    return nullptr;
}

void fillSparseBody(BodySource& source) {
    const auto fail = [&source](int error) {
        throw ErrorReport(ErrorReport::ChromiumCache, ErrorReport::FileRead,
                          pathToUtf8(source.file), {}, error);
    };
    auto handle = std::make_shared<FileHandle>(FileHandle::openBelow(source.root, source.file));
    if (!*handle) {
        throw ErrorReport(ErrorReport::ChromiumCache, ErrorReport::FileOpen,
                          pathToUtf8(source.file), {}, handle->error());
    }
    std::vector<SparseRange> ranges;
    SparseProblem problem = parseSparseFile(HandleBytes(*handle), std::nullopt, ranges);
    bool complete = false;
    if (problem == SparseProblem::None) {
        problem = checkCoverage(ranges, source.length, complete);
    }
    if (problem != SparseProblem::None || !complete) {
        fail(problem == SparseProblem::None ? ENODATA : EBADMSG);
    }
    source.pieces.clear();
    source.pieces.reserve(ranges.size());
    for (const SparseRange& range : ranges) {
        source.pieces.push_back(
            {range.fileOffset, range.length,
             range.crc32 != 0 ? std::optional<uint32_t>(range.crc32) : std::nullopt});
    }
    source.handle = std::move(handle);
}

}  // namespace harvix::chromium
