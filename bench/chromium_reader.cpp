// The Chromium cache readers' listing work: 20,000 simple-cache entry files
// (header, key and tail of each; never a body) and a block-file cache of
// 20,000 entries, written once and then read from the page cache.
// Goals: the simple cache in at most 0.5 s, the block files in at most 0.2 s.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ChromeCacheWriter.h"
#include "readers/chromium/ChromiumCache.h"

using namespace harvix::chromium;
namespace chromecache = harvix::chromecache;

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kEntries = 20000;

class WrittenCaches {
public:
    WrittenCaches() {
        char pattern[] = "/tmp/harvix-bench-chromium.XXXXXX";
        root_ = mkdtemp(pattern);
        const auto entries = chromecache::syntheticEntries(kEntries, 6000);
        chromecache::writeSimpleCache(root_ / "simple" / "Default" / "Cache" / "Cache_Data",
                                      entries);
        chromecache::BlockFileOptions options;
        options.tableLength = 0x10000;
        chromecache::writeBlockFileCache(root_ / "blocks" / "Default" / "Cache", entries, options);
    }
    ~WrittenCaches() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    fs::path root_;
};

const WrittenCaches& caches() {
    static const WrittenCaches written;
    return written;
}

void list(benchmark::State& state, const fs::path& browserRoot) {
    const auto folders = findCacheFolders(browserRoot);
    std::vector<CacheRecord> records;
    uint64_t skipped = 0;
    for (auto _ : state) {
        records.clear();
        for (const CacheFolder& folder : folders) {
            readCacheFolder(folder, records, [&skipped](const std::string&) { ++skipped; });
        }
        benchmark::DoNotOptimize(records.data());
    }
    if (records.size() != kEntries || skipped != 0)
        state.SkipWithError("not every entry listed");
    state.counters["entries"] = static_cast<double>(records.size());
}

void BM_ListSimpleCache(benchmark::State& state) {
    list(state, caches().root_ / "simple");
}
BENCHMARK(BM_ListSimpleCache)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_ListBlockFileCache(benchmark::State& state) {
    list(state, caches().root_ / "blocks");
}
BENCHMARK(BM_ListBlockFileCache)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
