// Helpers of the filter tests: an in-memory cache reader and a fixture that
// gives each test a temporary folder, a fake platform and its own settings.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/Settings.h"
#include "filter/FilterSet.h"
#include "readers/CacheReader.h"
#include "support/TestSupport.h"

namespace harvix {

// A reader whose entries and their data live in memory.
class MemoryReader : public CacheReader {
public:
    class Element : public CacheEntry {
    public:
        std::string data;
    };

    // Appends an entry with `data`; its size is the data's.
    Element& add(std::string data, int32_t contentType, std::string url = "http://example.com/a",
                 int64_t time = 0);

    void readEntries() override {}
    bool copyEntryData(CacheEntry& entry, const fs::path& target, bool failIfExists) override;

    // Copies whose target this returns true for fail (a ErrorReport, as a real
    // reader's failed copy).
    std::function<bool(const fs::path&)> failCopy;
    std::vector<fs::path> copies;  // targets written, in order
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

    TempDir dir_;
    FakePlatform fake_;
    ScopedPlatform scoped_;
    Settings savedSettings_;
    FilterSet filter_;
    MemoryReader reader_;
};

}  // namespace harvix
