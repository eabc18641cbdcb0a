// Cost of Skip Duplicates: one comb pass that writes 5,000 distinct entries
// of one size into one folder, with Skip Duplicates on and off. Every new
// file has the size of every file before it, so a pass that compared it
// with each of them would read the folder over and over; the pass reads
// each file at most once and compares bytes only when contents look equal.
//
// Run: build/bench/bench_skip_duplicates
// The last line prints the ratio of the two passes' times (on / off).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <string>

#include "app/Settings.h"
#include "base/ErrorReport.h"
#include "filter/CombPass.h"
#include "filter/FilterSet.h"
#include "platform/FileHandle.h"
#include "platform/Path.h"
#include "platform/Platform.h"

using namespace harvix;

namespace {

constexpr int kEntries = 5000;
constexpr int32_t kEntrySize = 8192;

// A reader whose entries' data is made on demand: distinct bytes, all of
// the same size.
class GeneratedReader : public CacheReader {
public:
    // The data files are written once into `folder`, the reader's root.
    GeneratedReader(int count, const fs::path& folder) {
        fs::create_directories(folder);
        root_ = resolveFolder(folder);
        for (int i = 0; i < count; ++i) {
            auto entry = std::make_unique<CacheEntry>();
            entry->index = static_cast<uint32_t>(i);
            entry->contentType = 1;
            entry->size = kEntrySize;
            entry->url = "http://example.com/" + std::to_string(i) + ".jpg";
            entry->dataFile = "d" + std::to_string(i);
            std::string data(static_cast<std::size_t>(entry->size), '\0');
            for (std::size_t k = 0; k < data.size(); ++k) {
                data[k] = static_cast<char>((k * 31 + entry->index * 7) & 0xFF);
            }
            const std::string tag = std::to_string(entry->index);
            data.replace(data.size() / 2, tag.size(), tag);  // distinct, late in the data
            std::FILE* file = std::fopen((root_ / entry->dataFile).c_str(), "wb");
            if (file != nullptr) {
                std::fwrite(data.data(), 1, data.size(), file);
                std::fclose(file);
            }
            entries.entries.push_back(std::move(entry));
        }
    }
    void open() override {}
    void readEntries(std::vector<std::unique_ptr<CacheEntry>>&, SkipCounts&) override {}
    BodySource bodySource(const CacheEntry& entry) const override {
        return BodySource{root_ / entry.dataFile,    0,       entry.size,
                          ContentEncoding::Identity, nullptr, root_};
    }

    Reading entries;
};

// The folder below which the passes write: $HARVIX_BENCH_DIR, else the
// system's temporary folder.
fs::path BenchBase() {
    const char* chosen = std::getenv("HARVIX_BENCH_DIR");
    const fs::path base =
        chosen != nullptr && *chosen != '\0' ? fs::path(chosen) : fs::temp_directory_path();
    return base / ("harvix-bench-" + std::to_string(getpid()));
}

// One pass into an empty folder; returns its wall time in seconds and the
// number of files it left.
double TimedPass(const fs::path& folder, bool skipDuplicates, GeneratedReader& reader,
                 std::size_t* files) {
    std::error_code ec;
    fs::remove_all(folder, ec);
    const CombOptions options{true, skipDuplicates, 0};
    FilterSet filter;
    auto* item = filter.insertItem(nullptr, -1);
    item->directoryTemplate = pathToUtf8(folder);
    item->stem = "file";

    const auto start = std::chrono::steady_clock::now();
    CombObserver silent;
    IPlatform& platform = nativePlatform();
    runComb(reader, reader.entries,
            FilterSnapshot::take(filter, platform.homeFolder(), platform.currentTime()), options,
            silent, platform);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;

    *files = static_cast<std::size_t>(
        std::distance(fs::directory_iterator(folder, ec), fs::directory_iterator()));
    fs::remove_all(folder, ec);
    return took.count();
}

GeneratedReader& Reader() {
    static GeneratedReader reader(
        kEntries, BenchBase().parent_path() / ("harvix-bench-cache-" + std::to_string(getpid())));
    return reader;
}

// One pass per iteration, Skip Duplicates off (0) or on (1).
void BM_CombOneFolder(benchmark::State& state) {
    const bool skip = state.range(0) != 0;
    const fs::path folder = BenchBase() / (skip ? "on" : "off");
    std::size_t files = 0;
    for (auto _ : state) {
        state.SetIterationTime(TimedPass(folder, skip, Reader(), &files));
    }
    fs::remove_all(BenchBase());
    state.counters["files"] = static_cast<double>(files);
    state.SetItemsProcessed(state.iterations() * kEntries);
}
BENCHMARK(BM_CombOneFolder)
    ->ArgName("skipDuplicates")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();

// Both passes in each iteration, in turn, so that a change in the load of
// the machine falls on both alike; "ratio" is the time with Skip
// Duplicates over the time without.
void BM_OnOffRatio(benchmark::State& state) {
    const fs::path folder = BenchBase() / "pair";
    double off = 0;
    double on = 0;
    std::size_t filesOff = 0;
    std::size_t filesOn = 0;
    int64_t round = 0;
    for (auto _ : state) {
        double passOff = 0;
        double passOn = 0;
        if (round++ % 2 == 0) {
            passOff = TimedPass(folder, false, Reader(), &filesOff);
            passOn = TimedPass(folder, true, Reader(), &filesOn);
        } else {
            passOn = TimedPass(folder, true, Reader(), &filesOn);
            passOff = TimedPass(folder, false, Reader(), &filesOff);
        }
        off += passOff;
        on += passOn;
        state.SetIterationTime(passOff + passOn);
    }
    fs::remove_all(BenchBase());
    state.counters["off_ms"] = off * 1000.0 / static_cast<double>(round);
    state.counters["on_ms"] = on * 1000.0 / static_cast<double>(round);
    state.counters["ratio"] = off > 0 ? on / off : 0.0;
    state.counters["files_on"] = static_cast<double>(filesOn);
}
BENCHMARK(BM_OnOffRatio)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(3.0);

// Prints the usual table, then the measured ratio on a line of its own.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const auto ratio = run.counters.find("ratio");
            if (ratio != run.counters.end()) {
                ratio_ = ratio->second.value;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        if (ratio_ > 0) {
            std::printf(
                "Skip Duplicates on/off time ratio (%d entries of %d bytes, one folder): %.2f\n",
                kEntries, static_cast<int>(kEntrySize), ratio_);
        }
    }

private:
    double ratio_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
