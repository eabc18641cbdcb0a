// The Chromium cache parsers under fuzzing: one simple-cache entry file (and
// the same bytes as the simple cache's index), and a whole block-file cache
// packed into one input.
#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>

#include "ChromeCacheWriter.h"
#include "FuzzHarness.h"
#include "HarnessSupport.h"
#include "SeedCorpus.h"
#include "base/ByteOrder.h"
#include "readers/chromium/BlockFileParser.h"
#include "readers/chromium/ResponseInfo.h"
#include "readers/chromium/SimpleCacheParser.h"
#include "readers/chromium/SparseEntry.h"

namespace harvix::fuzzing {

namespace {

using harvix::chromium::BlockFileCache;
using harvix::chromium::ByteSource;
using harvix::chromium::MemoryBytes;

constexpr const char* kBlockFileNames[] = {"index",  "data_0", "data_1",
                                           "data_2", "data_3", "f_000001"};

void checkResponseInfo(std::span<const unsigned char> stream0) {
    const auto info = harvix::chromium::parseResponseInfo(stream0);
    if (info) {
        check(info->rawHeaders.size() <= stream0.size(), "headers longer than stream 0");
        check(harvix::chromium::unixTimeFromChromium(info->responseTime) >= 0, "a negative time");
    }
}

}  // namespace

void runChromiumSimple(const uint8_t* data, std::size_t size) {
    // The bytes as an index, their CRC-32 made to match so that the fuzzer
    // reaches the fields behind it.
    std::vector<unsigned char> index(data, data + size);
    if (size >= 8 && loadLe32(index.data()) <= size - 8) {
        const uint32_t crc = harvix::chromium::crc32Of(index.data() + 8, loadLe32(index.data()));
        for (std::size_t i = 0; i < 4; ++i) {
            index[4 + i] = static_cast<unsigned char>(crc >> (8 * i));
        }
    }
    if (const auto uses = harvix::chromium::parseSimpleIndex(index)) {
        check(uses->size() * 24 <= size, "more index entries than the bytes hold");
        check(std::is_sorted(uses->begin(), uses->end(),
                             [](const auto& a, const auto& b) { return a.hash < b.hash; }),
              "index entries out of order");
    }
    const MemoryBytes file(std::vector<unsigned char>(data, data + size));
    harvix::chromium::SimpleEntryFile entry;
    if (harvix::chromium::parseSimpleEntry(file, entry) !=
        harvix::chromium::SimpleEntryProblem::None) {
        return;
    }
    check(entry.bodyOffset + entry.bodyLength <= size, "a body past the end of the file");
    check(entry.key.size() + entry.stream0.size() <= size, "key and stream 0 larger than the file");
    checkResponseInfo(entry.stream0);
    harvix::chromium::urlFromKey(entry.key);
}

void runChromiumSparse(const uint8_t* data, std::size_t size) {
    const MemoryBytes file(std::vector<unsigned char>(data, data + size));
    std::vector<harvix::chromium::SparseRange> ranges;
    if (harvix::chromium::parseSparseFile(file, std::nullopt, ranges) !=
        harvix::chromium::SparseProblem::None) {
        return;
    }
    uint64_t sum = 0;
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        const auto& range = ranges[i];
        check(range.length > 0 && range.fileOffset + range.length <= size, "a range past the file");
        check(i == 0 || ranges[i - 1].offset <= range.offset, "ranges out of order");
        sum += range.length;
    }
    // A resource as large as the bytes the ranges hold: whole exactly when
    // they follow one another from the first byte.
    bool complete = false;
    if (harvix::chromium::checkCoverage(ranges, sum, complete) ==
        harvix::chromium::SparseProblem::None) {
        check(!complete || ranges.empty() || ranges.front().offset == 0, "whole without byte 0");
        check(complete || ranges.empty() || ranges.front().offset != 0 || ranges.size() > 1,
              "one range from byte 0 not whole");
    }
}

std::string packBlockFileCache(const fs::path& folder) {
    std::string packed;
    for (const char* name : kBlockFileNames) {
        std::string bytes;
        if (fs::is_regular_file(folder / name)) {
            std::ifstream in(folder / name, std::ios::binary);
            bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        const auto length = static_cast<uint32_t>(bytes.size());
        for (int i = 0; i < 4; ++i)
            packed.push_back(static_cast<char>((length >> (8 * i)) & 0xff));
        packed += bytes;
    }
    return packed;
}

void runChromiumBlockFile(const uint8_t* data, std::size_t size) {
    // The input: for each file of kBlockFileNames a 32-bit little-endian length, then its bytes.
    std::map<std::string, std::vector<unsigned char>> files;
    std::size_t pos = 0;
    for (const char* name : kBlockFileNames) {
        if (size - pos < 4)
            break;
        uint32_t length = 0;
        for (int i = 0; i < 4; ++i)
            length |= uint32_t{data[pos + static_cast<std::size_t>(i)]} << (8 * i);
        pos += 4;
        const std::size_t take = std::min<std::size_t>(length, size - pos);
        files[name].assign(data + pos, data + pos + take);
        pos += take;
    }
    BlockFileCache cache([&files](const std::string& name) -> std::unique_ptr<ByteSource> {
        auto found = files.find(name);
        if (found == files.end())
            return nullptr;
        return std::make_unique<MemoryBytes>(found->second);
    });
    if (cache.open() != harvix::chromium::BlockIndexProblem::None) {
        return;
    }
    std::size_t visited = 0;
    std::vector<unsigned char> bytes;
    cache.forEachEntry(
        [&](const BlockFileCache::Entry& entry) {
            ++visited;
            for (const auto& stream : entry.streams) {
                if (!stream.usable || stream.size == 0)
                    continue;
                const auto found = files.find(stream.file);
                check(found != files.end(), "a stream in a file that is not there");
                check(stream.offset + stream.size <= found->second.size(),
                      "a stream past its file");
            }
            if (cache.readStream(entry.streams[0], 1u << 20, bytes))
                checkResponseInfo(bytes);
        },
        [](const std::string&) {});
    check(visited <= BlockFileCache::kMaxEntries, "more entries than the bound");
}

std::vector<std::pair<std::string, std::string>> chromiumSimpleSeeds(const fs::path& scratch) {
    std::vector<std::pair<std::string, std::string>> seeds;
    std::vector<chromecache::Entry> entries = chromecache::syntheticEntries(3, 300, 5);
    entries[1].key = chromecache::splitCacheKey("https://a.org/" + std::string(2000, 'k'));
    entries[2].body.clear();
    const fs::path folder = scratch / "chromium-simple";
    const auto names = chromecache::writeSimpleCache(folder, entries);
    for (const std::string& name : names) {
        std::ifstream in(folder / name, std::ios::binary);
        seeds.emplace_back(name, std::string(std::istreambuf_iterator<char>(in), {}));
    }
    std::ifstream index(folder / "index-dir" / "the-real-index", std::ios::binary);
    seeds.emplace_back("the-real-index", std::string(std::istreambuf_iterator<char>(index), {}));
    return seeds;
}

std::vector<std::pair<std::string, std::string>> chromiumSparseSeeds(const fs::path& scratch) {
    std::vector<std::pair<std::string, std::string>> seeds;
    std::vector<chromecache::Entry> entries = chromecache::syntheticEntries(3, 3000, 7);
    for (chromecache::Entry& entry : entries) {
        entry.sparse = true;
    }
    const uint64_t size = entries[1].body.size();
    entries[1].ranges = {{size / 2, size - size / 2}, {0, size / 3}};  // a gap, out of order
    entries[2].ranges = {{0, 10}, {10, 20}, {30, 5}};
    const fs::path folder = scratch / "chromium-sparse";
    for (const std::string& name : chromecache::writeSimpleCache(folder, entries)) {
        const std::string sparse = name.substr(0, name.size() - 2) + "_s";
        std::ifstream in(folder / sparse, std::ios::binary);
        seeds.emplace_back(sparse, std::string(std::istreambuf_iterator<char>(in), {}));
    }
    return seeds;
}

std::vector<std::pair<std::string, std::string>> chromiumBlockFileSeeds(const fs::path& scratch) {
    std::vector<std::pair<std::string, std::string>> seeds;
    std::vector<chromecache::Entry> entries = chromecache::syntheticEntries(6, 3000, 9);
    entries[0].body.assign(20000, 'x');  // an external file
    entries[1].key = chromecache::splitCacheKey("http://a.org/" + std::string(400, 'k'));
    chromecache::BlockFileOptions options;
    options.tableLength = 4;
    const fs::path folder = scratch / "chromium-blockfile";
    chromecache::writeBlockFileCache(folder, entries, options);
    seeds.emplace_back("six-entries", packBlockFileCache(folder));
    return seeds;
}

}  // namespace harvix::fuzzing
