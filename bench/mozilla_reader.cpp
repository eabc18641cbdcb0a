// The Firefox cache reader's own work, without the disk: parsing one
// metadata item, and the map walk over a written cache of 20,000 entries
// (whose files the page cache holds after the first round).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "CacheWriter.h"
#include "platform/Path.h"
#include "readers/FirefoxCacheMetadata.h"
#include "readers/FirefoxCacheReader.h"

using namespace harvix;

namespace {

namespace fs = std::filesystem;

std::string Head(std::size_t size) {
    return mozcache::ResponseHead(
        {"Server: Apache/2.2.22 (Debian)", "Date: Sun, 01 Jan 2012 00:00:00 GMT",
         "Last-Modified: Sat, 31 Dec 2011 12:00:00 GMT", "Etag: \"4f0f-5b2-4b5\"",
         "Accept-Ranges: bytes", "Content-Length: " + std::to_string(size),
         "Content-Type: image/jpeg"});
}

void BM_ReadCacheMetadata(benchmark::State& state) {
    mozcache::Entry entry;
    entry.key = "HTTP:http://photos.example.org/2012/01/01/holiday/beach-large.jpg?v=3";
    entry.values = mozcache::responseValues(Head(123456));
    const std::string item = mozcache::buildMetadata(entry, 0x91000010u, 123456);
    std::vector<unsigned char> buffer(item.size());
    for (auto _ : state) {
        std::copy(item.begin(), item.end(), buffer.begin());
        FirefoxCacheEntry element;
        readCacheMetadata(buffer.data(), buffer.size(), element);
        benchmark::DoNotOptimize(element.contentType);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(item.size()));
}
BENCHMARK(BM_ReadCacheMetadata);

// A cache of `count` entries with small data (both kinds: every fourth
// entry keeps its data in a separate file).
class WrittenCache {
public:
    explicit WrittenCache(std::size_t count) {
        folder_ = fs::temp_directory_path() /
                  ("harvix-bench-reader-" + std::to_string(getpid()) + "-" + std::to_string(count));
        mozcache::CacheWriter writer(folder_);
        for (std::size_t i = 0; i < count; ++i) {
            mozcache::Entry entry;
            entry.key = "HTTP:http://site" + std::to_string(i % 50) + ".example.com/item/" +
                        std::to_string(i) + ".jpg";
            entry.data = std::string(200 + i % 700, static_cast<char>('a' + i % 26));
            entry.values = mozcache::responseValues(Head(entry.data.size()));
            entry.dataPlace = i % 4 == 0 ? mozcache::Place::Separate : mozcache::Place::Auto;
            entry.metaPlace = mozcache::Place::Auto;
            writer.add(entry);
        }
    }
    ~WrittenCache() {
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }
    WrittenCache(const WrittenCache&) = delete;
    WrittenCache& operator=(const WrittenCache&) = delete;
    const fs::path& folder() const { return folder_; }

private:
    fs::path folder_;
};

void BM_OpenAndLoadEntries(benchmark::State& state) {
    const WrittenCache cache(static_cast<std::size_t>(state.range(0)));
    std::size_t entries = 0;
    for (auto _ : state) {
        FirefoxCacheReader reader;
        reader.cacheFolder = pathToUtf8(cache.folder());
        if (openCache(reader)) {
            state.SkipWithError("the written cache does not open");
            break;
        }
        Reading reading = readCache(reader);
        entries = reading.entries.size();
        reader.close();
    }
    state.counters["entries"] = static_cast<double>(entries);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_OpenAndLoadEntries)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
