// Helpers of the filter tests: an in-memory cache reader and a fixture that
// gives each test a temporary folder, a fake platform and its own settings.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "filter/CombPass.h"
#include "filter/FilterSet.h"
#include "readers/CacheReader.h"
#include "support/TestSupport.h"

namespace harvix {

// A reader whose entries the test makes; each entry's data lies in a file
// of its own in the reader's temporary cache folder (its root).
class MemoryReader : public CacheReader {
public:
    class Element : public CacheEntry {
    public:
        std::string data;
        fs::path file;
        ContentEncoding encoding;  // as the body was sent
    };

    MemoryReader();

    // Appends an entry with `data`; its size is the data's.
    Element& add(std::string data, int32_t contentType, std::string url = "http://example.com/a",
                 int64_t time = 0);

    void open() override {}
    void readEntries(std::vector<std::unique_ptr<CacheEntry>>&, SkipCounts&) override {}

    // The entries the test made, in order; the comb takes them as they are.
    std::vector<std::unique_ptr<CacheEntry>> entries;
    std::vector<const CacheEntry*> view() const;
    // The entry's file; throws ErrorReport (FileRead) where failCopy says so.
    BodySource bodySource(const CacheEntry& entry) const override;

    // Copies of the entries this returns true for fail (an ErrorReport, as a
    // real reader's failed copy); it sees every copy attempt in turn.
    std::function<bool(const CacheEntry&)> failCopy;
    // The URLs of the entries whose copy was begun, in the order begun.
    mutable std::vector<std::string> copies;

private:
    mutable std::mutex mutex_;  // the comb's copy threads ask for bodies at once
    TempDir cache_;
    uint32_t files_ = 0;
};

// Files of a folder, by name, sorted.
std::vector<std::string> fileNames(const fs::path& folder);

// A small picture of each kind, made of header bytes only.
std::string pngBytes(uint32_t width, uint32_t height);
std::string gifBytes(uint16_t width, uint16_t height);
std::string bmpBytes(int32_t width, int32_t height);
std::string jpegBytes(uint16_t width, uint16_t height);
// An icon file with one image per {width, height} byte pair (0 means 256).
std::string icoBytes(const std::vector<std::pair<uint8_t, uint8_t>>& sizes);

class FilterTest : public ::testing::Test {
protected:
    FilterTest();
    ~FilterTest() override;

    // Appends an item with these values; a folder that does not start with
    // '/' or '~' lies below the temporary folder.
    FilterItem& addItem(const std::string& folder, int32_t contentType = 0,
                        const std::string& stem = "file");
    fs::path Dir(const std::string& name) const { return dir_ / name; }

    // Runs the pass with the set's items as they are now; false when a
    // target folder stopped it.
    bool comb();

    TempDir dir_;
    FakePlatform fake_;
    ScopedPlatform scoped_;
    FilterSet filter_;
    MemoryReader reader_;
    CombOptions options_;
    CombResult result_;
    // Every error the last run reported.
    struct Reports : CombObserver {
        std::vector<ErrorReport> errors;
        std::vector<std::string> kept;
        std::vector<int32_t> percents;
        void error(const ErrorReport& report) override { errors.push_back(report); }
        void keptFile(const CacheEntry&, const std::string& path) override { kept.push_back(path); }
        void progress(int32_t percent) override { percents.push_back(percent); }
    } reports_;
};

}  // namespace harvix
