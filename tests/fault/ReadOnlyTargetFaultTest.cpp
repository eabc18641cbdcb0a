// A target folder that turns read-only in the middle of a comb run: the
// entries meant for it from then on are lost, nothing else is, and the run
// goes on to the end with the other folders. Root ignores permission bits,
// so as root (CI) the folder is a tmpfs remounted read-only; as another user
// its write bits are taken away.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "CacheWriter.h"
#include "app/Settings.h"
#include "fault/FaultSupport.h"
#include "filter/FilterSet.h"
#include "platform/Path.h"
#include "readers/FirefoxCacheReader.h"
#include "readers/UrlCacheReader.h"
#include "support/TestSupport.h"

namespace harvix {

namespace {

// A folder that can be made read-only while a run is under way.
class LockableFolder {
public:
    explicit LockableFolder(const fs::path& path) : path_(path), mount_(path, 1024 * 1024) {
        if (geteuid() != 0) {
            usable_ = true;  // the permission bits hold
        } else if (mount_.ok()) {
            usable_ = true;
        } else {
            why_ = mount_.failure();
        }
    }
    ~LockableFolder() { Lock(false); }
    LockableFolder(const LockableFolder&) = delete;
    LockableFolder& operator=(const LockableFolder&) = delete;

    bool usable() const { return usable_; }
    const std::string& why() const { return why_; }
    bool Lock(bool locked) {
        if (mount_.ok()) {
            return mount_.setReadOnly(locked);
        }
        return chmod(path_.c_str(), locked ? 0555 : 0755) == 0;
    }

private:
    fs::path path_;
    TmpfsMount mount_;
    bool usable_ = false;
    std::string why_;
};

std::string Data(std::size_t size, int seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((seed * 31 + static_cast<int>(i * 7)) & 0xFF);
    }
    return bytes;
}

// What the progress callback does: lock the folder once half of the
// entries have been combed (the callback comes before each entry).
struct Locker : CombObserver {
    LockableFolder* folder = nullptr;
    int atPercent = 50;
    bool locked = false;
    bool lockFailed = false;

    void progress(int32_t percent) override {
        if (!locked && percent > atPercent) {
            locked = true;
            lockFailed = !folder->Lock(true);
        }
    }
};

std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class ReadOnlyTargetFaultTest : public ::testing::Test {
protected:
    ReadOnlyTargetFaultTest() = default;

    // Pictures (png) go to the folder that will be locked, gifs to another.
    void MakeFilter(const fs::path& locked, const fs::path& open) {
        auto* pngs = filter_.insertItem(nullptr, -1);
        pngs->contentType = 3;
        pngs->directoryTemplate = pathToUtf8(locked);
        pngs->stem = "png";
        auto* gifs = filter_.insertItem(nullptr, -1);
        gifs->contentType = 2;
        gifs->directoryTemplate = pathToUtf8(open);
        gifs->stem = "gif";
    }

    // Combs `reader` with the lock set to turn at the half; checks what
    // landed where. The entries alternate png, gif, png, gif...
    void CombAndCheck(const CacheReader& reader, const Reading& reading, LockableFolder& folder,
                      const fs::path& locked, const fs::path& open, std::size_t count) {
        Locker locker;
        locker.folder = &folder;
        // On one thread: a read-only remount is refused while copies made
        // ahead are open for writing on the mount.
        CombOptions options{true, true, 0};
        options.copyWorkers = 0;
        const CombResult result = combWith(filter_, reader, reading, options, &locker);
        EXPECT_TRUE(result.foldersReady);
        ASSERT_TRUE(locker.locked);
        ASSERT_FALSE(locker.lockFailed);
        folder.Lock(false);

        // The locks turns before the entry after the half: the pngs before
        // it are saved, the ones after it are lost; every gif is saved.
        std::size_t pngsBefore = 0;
        for (std::size_t i = 0; i < count; ++i) {
            if (i % 2 == 0 && 100 * i <= 50 * count) {
                ++pngsBefore;
            }
        }
        std::vector<std::string> expectedPngs;
        for (std::size_t i = 0; i < pngsBefore; ++i) {
            expectedPngs.push_back("png" + std::to_string(i) + ".png");
        }
        std::sort(expectedPngs.begin(), expectedPngs.end());
        EXPECT_EQ(Names(locked), expectedPngs);
        std::vector<std::string> expectedGifs;
        for (std::size_t i = 0; i < count / 2; ++i) {
            expectedGifs.push_back("gif" + std::to_string(i) + ".gif");
        }
        std::sort(expectedGifs.begin(), expectedGifs.end());
        EXPECT_EQ(Names(open), expectedGifs);
        EXPECT_EQ(result.entriesCombed, count);
        // Every png after the lock is a failed copy, counted by its reason.
        EXPECT_EQ(result.failed, (count + 1) / 2 - pngsBefore);
        for (std::size_t i = 0; i < pngsBefore; ++i) {
            EXPECT_EQ(readFile(locked / ("png" + std::to_string(i) + ".png")),
                      Data(3000, static_cast<int>(2 * i)));
        }
    }

    FilterSet filter_;
};

TEST_F(ReadOnlyTargetFaultTest, FirefoxRunLosesOnlyTheEntriesThatCouldNotBeWritten) {
    TempDir temp;
    const fs::path locked = temp / "pictures";
    const fs::path open = temp / "animations";
    LockableFolder folder(locked);
    if (!folder.usable()) {
        GTEST_SKIP() << "no way to make a folder read-only for root here (" << folder.why() << ")";
    }
    constexpr std::size_t kCount = 10;
    const fs::path cache = temp / "Cache";
    {
        mozcache::CacheWriter writer(cache);
        for (std::size_t i = 0; i < kCount; ++i) {
            mozcache::Entry entry;
            entry.key = "HTTP:http://x.example/" + std::to_string(i);
            entry.data = Data(3000, static_cast<int>(i));
            entry.values = mozcache::responseValues(mozcache::ResponseHead(
                {i % 2 == 0 ? "Content-Type: image/png" : "Content-Type: image/gif"}));
            entry.lastModified = 1325376000;
            entry.dataPlace = i % 4 < 2 ? mozcache::Place::Block3 : mozcache::Place::Separate;
            writer.add(entry);
        }
        writer.finish();
    }
    MakeFilter(locked, open);
    FirefoxCacheReader reader;
    reader.cacheFolder = pathToUtf8(cache);
    ASSERT_FALSE(openCache(reader));
    Reading reading = readCache(reader);
    ASSERT_EQ(reading.entries.size(), kCount);
    CombAndCheck(reader, reading, folder, locked, open, kCount);
}

TEST_F(ReadOnlyTargetFaultTest, InternetExplorerRunLosesOnlyTheEntriesThatCouldNotBeWritten) {
    TempDir temp;
    const fs::path locked = temp / "pictures";
    const fs::path open = temp / "animations";
    LockableFolder folder(locked);
    if (!folder.usable()) {
        GTEST_SKIP() << "no way to make a folder read-only for root here (" << folder.why() << ")";
    }
    class ListService : public UrlCacheService {
    public:
        std::vector<UrlCacheEntryInfo> infos;
        void open() override {}
        void close() override {}
        fs::path cacheFolder() const override { return folder; }
        fs::path folder;
        std::unique_ptr<UrlCacheEnumeration> findFirst(UrlCacheEntryInfo& info) override {
            class Enumeration : public UrlCacheEnumeration {
            public:
                explicit Enumeration(const std::vector<UrlCacheEntryInfo>& list) : list_(list) {}
                bool next(UrlCacheEntryInfo& next) override {
                    if (at_ >= list_.size()) {
                        return false;
                    }
                    next = list_[at_++];
                    return true;
                }

            private:
                const std::vector<UrlCacheEntryInfo>& list_;
                std::size_t at_ = 0;
            };
            auto enumeration = std::make_unique<Enumeration>(infos);
            return enumeration->next(info) ? std::move(enumeration) : nullptr;
        }
    };
    constexpr std::size_t kCount = 12;
    auto service = std::make_unique<ListService>();
    const fs::path files = temp / "Content.IE5" / "Q1W2E3R4";
    fs::create_directories(files);
    for (std::size_t i = 0; i < kCount; ++i) {
        const fs::path file = files / ("item[" + std::to_string(i) + "]");
        writeFile(file, Data(3000, static_cast<int>(i)));
        UrlCacheEntryInfo info;
        info.sourceUrl = "http://ie.example/" + std::to_string(i);
        info.localFileName = pathToUtf8(file);
        info.cacheEntryType = kNormalCacheEntry;
        info.sizeLow = 3000;
        info.hasHeaderInfo = true;
        info.headerInfo = std::string("HTTP/1.1 200 OK\r\nContent-Type: image/") +
                          (i % 2 == 0 ? "png" : "gif") + "\r\n\r\n";
        service->infos.push_back(info);
    }
    MakeFilter(locked, open);
    service->folder = temp / "Content.IE5";
    UrlCacheReader reader(std::move(service));
    ASSERT_FALSE(openCache(reader));
    Reading reading = readCache(reader);
    ASSERT_EQ(reading.entries.size(), kCount);
    CombAndCheck(reader, reading, folder, locked, open, kCount);
}

TEST_F(ReadOnlyTargetFaultTest, ACopyWhoseTargetCannotBeCreatedShowsNoBox) {
    // Only the open of the cache shows a box; a target that cannot be made
    // (here: its folder is missing) fails the one entry silently, for block
    // data and for separate data alike.
    TempDir temp;
    const fs::path cache = temp / "Cache";
    {
        mozcache::CacheWriter writer(cache);
        for (const auto place : {mozcache::Place::Block1, mozcache::Place::Separate}) {
            mozcache::Entry entry;
            entry.key = "HTTP:http://x.example/" + std::to_string(static_cast<int>(place));
            entry.data = Data(200, 1);
            entry.values = mozcache::responseValues(mozcache::ResponseHead({"Content-Type: a/b"}));
            entry.dataPlace = place;
            writer.add(entry);
        }
        writer.finish();
    }
    FirefoxCacheReader reader;
    reader.cacheFolder = pathToUtf8(cache);
    ASSERT_FALSE(openCache(reader));
    Reading reading = readCache(reader);
    ASSERT_EQ(reading.entries.size(), 2u);
    for (const auto& entry : reading.entries) {
        EXPECT_FALSE(copyEntry(reader, *entry, temp / "missing" / "file0.all"));
    }
}

}  // namespace

}  // namespace harvix
