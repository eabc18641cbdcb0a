// A full disk while the program writes: the settings file and a filter file
// saved onto a file system with no room left keep their old content (and no
// temporary file is left beside them); copies into a full target folder
// leave no partial file, and the run goes on with the folders that have
// room. The real full disk is a small tmpfs (root only, as in CI); the
// injected write failure covers every point of the write on any machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "CacheWriter.h"
#include "app/Settings.h"
#include "base/Profile.h"
#include "fault/FaultSupport.h"
#include "filter/FilterSet.h"
#include "platform/AtomicFile.h"
#include "platform/NewFile.h"
#include "platform/Path.h"
#include "readers/FirefoxCacheReader.h"
#include "readers/UrlCacheReader.h"
#include "support/TestSupport.h"

namespace harvix {

namespace {

// Resets the injected write failure however the test ends.
struct InjectedWriteFailure {
    explicit InjectedWriteFailure(long long afterBytes) {
        setAtomicWriteFailureForTesting(afterBytes);
    }
    ~InjectedWriteFailure() { setAtomicWriteFailureForTesting(-1); }
    InjectedWriteFailure(const InjectedWriteFailure&) = delete;
    InjectedWriteFailure& operator=(const InjectedWriteFailure&) = delete;
};

class FullDiskFaultTest : public ::testing::Test {
protected:
    FullDiskFaultTest() : scoped_(fake_) {}

    // A filter set of `count` items whose texts are long enough that a new
    // file never fits where the old one was.
    static void FillFilter(FilterSet& filter, int count, const std::string& tag) {
        filter.clear();
        filter.hint = "set " + tag;
        for (int i = 0; i < count; ++i) {
            auto* item = filter.insertItem(nullptr, -1);
            item->contentType = i % 19;
            item->url = tag + std::string(200, 'u') + std::to_string(i);
            item->directoryTemplate = "/tmp/" + tag + "/" + std::to_string(i);
            item->stem = tag;
        }
    }

    FakePlatform fake_;
    ScopedPlatform scoped_;
};

TEST_F(FullDiskFaultTest, SavesOntoAFullFileSystemKeepTheOldFiles) {
    TempDir temp;
    TmpfsMount disk(temp / "disk", 64 * 1024);
    if (!disk.ok()) {
        GTEST_SKIP() << "no small tmpfs here (" << disk.failure()
                     << "); InjectedWriteFailuresAtEveryPointKeepTheOldFiles covers the write";
    }
    const fs::path folder = temp / "disk";

    // The old files, written while there was room.
    Settings settings;
    settings.cfgPath = folder / "Harvix.cfg";
    settings.DefaultCombPath = "/old/folder";
    ASSERT_TRUE(settings.saveSettings());
    FilterSet filter;
    FillFilter(filter, 3, "old");
    const std::string filterPath = pathToUtf8(folder / "Pictures.flt");
    ASSERT_FALSE(filter.saveFile(filterPath));
    const std::string oldSettings = readFile(settings.cfgPath);
    const std::string oldFilter = readFile(folder / "Pictures.flt");
    ASSERT_NE(oldSettings.find("/old/folder"), std::string::npos);

    ASSERT_GT(fillDisk(folder), 0u);

    // Every save fails, reports it where it can, and changes nothing.
    settings.DefaultCombPath = "/new/folder/" + std::string(6000, 'n');
    settings.saveSettings();  // never reports a failure
    EXPECT_EQ(readFile(settings.cfgPath), oldSettings);
    FillFilter(filter, 40, "new");
    const std::optional<ErrorReport> full = filter.saveFile(filterPath);
    ASSERT_TRUE(full.has_value());
    EXPECT_EQ(full->systemError(), ENOSPC);  // the window names the system's reason
    EXPECT_EQ(readFile(folder / "Pictures.flt"), oldFilter);
    EXPECT_TRUE(filter.saveFile(pathToUtf8(folder / "Other.flt")));
    EXPECT_FALSE(fs::exists(folder / "Other.flt"));
    EXPECT_FALSE(
        writeProfileString(settings.cfgPath, "GENERAL", "Language", std::string(5000, 'x')));
    EXPECT_EQ(readFile(settings.cfgPath), oldSettings);
    EXPECT_EQ(countTemporaryFiles(folder), 0u);

    // The old files still load as they were.
    FilterSet reloaded;
    ASSERT_FALSE(reloaded.loadFile(filterPath, 0));
    EXPECT_EQ(reloaded.items.size(), 3u);
    EXPECT_EQ(reloaded.hint, "set old");
    Settings reread;
    reread.cfgPath = settings.cfgPath;
    reread.loadSettings();
    EXPECT_EQ(reread.DefaultCombPath, "/old/folder");

    // With room again, the same saves go through.
    fs::remove(folder / "filler");
    settings.saveSettings();
    EXPECT_NE(readFile(settings.cfgPath).find("/new/folder/"), std::string::npos);
    EXPECT_FALSE(filter.saveFile(filterPath));
    ASSERT_FALSE(reloaded.loadFile(filterPath, 0));
    EXPECT_EQ(reloaded.items.size(), 40u);
}

TEST_F(FullDiskFaultTest, InjectedWriteFailuresAtEveryPointKeepTheOldFiles) {
    TempDir temp;
    Settings settings;
    settings.cfgPath = temp / "Harvix.cfg";
    settings.DefaultCombPath = "/old/folder";
    ASSERT_TRUE(settings.saveSettings());
    FilterSet filter;
    FillFilter(filter, 2, "old");
    const std::string filterPath = pathToUtf8(temp / "Set.flt");
    ASSERT_FALSE(filter.saveFile(filterPath));
    const std::string oldSettings = readFile(settings.cfgPath);
    const std::string oldFilter = readFile(temp / "Set.flt");

    settings.DefaultCombPath = "/new/folder";
    FillFilter(filter, 5, "new");
    // Nothing written, one byte, half of the smaller file, all but its last
    // byte (the new files are no shorter than the old ones).
    const auto smaller = static_cast<long long>(std::min(oldSettings.size(), oldFilter.size()));
    for (const long long after : {0ll, 1ll, smaller / 2, smaller - 1}) {
        InjectedWriteFailure failure(after);
        settings.saveSettings();
        EXPECT_EQ(readFile(settings.cfgPath), oldSettings) << after;
        EXPECT_TRUE(filter.saveFile(filterPath)) << after;
        EXPECT_EQ(readFile(temp / "Set.flt"), oldFilter) << after;
        EXPECT_TRUE(filter.saveFile(pathToUtf8(temp / "New.flt"))) << after;
        EXPECT_FALSE(fs::exists(temp / "New.flt")) << after;
        EXPECT_EQ(countTemporaryFiles(temp.path()), 0u) << after;
    }
    // A failure in the write to a missing file leaves no file at all.
    {
        InjectedWriteFailure failure(3);
        EXPECT_FALSE(writeProfileString(temp / "fresh.cfg", "GENERAL", "Key", "value"));
        EXPECT_FALSE(fs::exists(temp / "fresh.cfg"));
    }
    settings.saveSettings();
    EXPECT_NE(readFile(settings.cfgPath).find("/new/folder"), std::string::npos);
}

// ---- Copies into a full target folder ----

std::string Data(std::size_t size, char seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>(seed + static_cast<char>(i * 13 % 251));
    }
    return bytes;
}

mozcache::Entry Http(const std::string& url, const std::string& data, const std::string& type,
                     mozcache::Place place) {
    mozcache::Entry entry;
    entry.key = "HTTP:" + url;
    entry.data = data;
    entry.values = mozcache::responseValues(mozcache::ResponseHead({"Content-Type: " + type}));
    entry.lastModified = 1325376000;
    entry.dataPlace = place;
    return entry;
}

// The files of a folder that are not temporary, with their bytes.
std::map<std::string, std::string> KeptFiles(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        files[entry.path().filename().string()] = readFile(entry.path());
    }
    return files;
}

TEST_F(FullDiskFaultTest, CopiesIntoAFullTargetLeaveNoPartialFileAndTheRunGoesOn) {
    TempDir temp;
    TmpfsMount disk(temp / "small", 64 * 1024);
    if (!disk.ok()) {
        GTEST_SKIP() << "no small tmpfs here (" << disk.failure() << ")";
    }
    const fs::path small = temp / "small";
    const fs::path roomy = temp / "roomy";

    // Firefox: twelve separate files of 12 KiB (more than the small disk
    // takes) and block-file data of 16 KiB, all pictures of type png; one
    // gif for the roomy folder after them.
    const fs::path cache = temp / "Cache";
    std::map<std::string, std::string> sources;
    {
        mozcache::CacheWriter writer(cache);
        for (int i = 0; i < 12; ++i) {
            const std::string data = Data(12 * 1024, static_cast<char>('a' + i));
            writer.add(Http("http://x.example/" + std::to_string(i), data, "image/png",
                            i % 3 == 0 ? mozcache::Place::Block3 : mozcache::Place::Separate));
        }
        writer.add(
            Http("http://x.example/last", Data(5000, 'z'), "image/gif", mozcache::Place::Separate));
        writer.finish();
    }
    const CombOptions options{true, true, 0};
    FilterSet filter;
    auto* pngs = filter.insertItem(nullptr, -1);
    pngs->contentType = 3;
    pngs->directoryTemplate = pathToUtf8(small);
    pngs->stem = "png";
    auto* gifs = filter.insertItem(nullptr, -1);
    gifs->contentType = 2;
    gifs->directoryTemplate = pathToUtf8(roomy);
    gifs->stem = "gif";

    FirefoxCacheReader reader;
    reader.cacheFolder = pathToUtf8(cache);
    ASSERT_FALSE(openCache(reader));
    Reading reading = readCache(reader);
    ASSERT_EQ(reading.entries.size(), 13u);
    const CombResult result = combWith(filter, reader, reading, options);
    EXPECT_TRUE(result.foldersReady);
    // The copies that did not fit are counted, by their reason.
    EXPECT_GT(result.failed, 0u);
    EXPECT_EQ(result.kept + result.failed, 13u);

    // Some copies fit, the rest did not; every kept file is whole.
    const auto checkKept = [&] {
        const auto kept = KeptFiles(small);
        EXPECT_GT(kept.size(), 0u);
        EXPECT_LT(kept.size(), 12u);
        for (const auto& [name, bytes] : kept) {
            EXPECT_EQ(bytes.size(), 12u * 1024) << name;
            EXPECT_EQ(bytes.substr(0, 64), Data(12 * 1024, bytes[0]).substr(0, 64)) << name;
        }
        EXPECT_EQ(countTemporaryFiles(small), 0u);
        // The entry after the failures went into the folder with room.
        EXPECT_EQ(KeptFiles(roomy),
                  (std::map<std::string, std::string>{{"gif0.gif", Data(5000, 'z')}}));
    };
    checkKept();

    // The same where a copy gets its name by a second write into a name
    // made with O_EXCL (exFAT and FAT through FUSE): a second write that
    // does not fit removes its name again.
    fs::remove_all(roomy);
    for (const auto& entry : fs::directory_iterator(small)) {
        fs::remove(entry.path());
    }
    struct Naming {
        Naming() { NewFile::setBestNamingForTesting(NewFile::Naming::ExclusiveCopy); }
        ~Naming() { NewFile::setBestNamingForTesting(NewFile::Naming::Anonymous); }
    };
    {
        const Naming byCopy;
        const CombResult again = combWith(filter, reader, reading, options);
        EXPECT_EQ(again.kept + again.failed, 13u);
    }
    checkKept();
    reader.close();

    // Internet Explorer: the same with the URL cache reader's copies.
    fs::remove_all(roomy);
    for (const auto& entry : fs::directory_iterator(small)) {
        fs::remove(entry.path());
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
    auto service = std::make_unique<ListService>();
    const fs::path ieCache = temp / "Content.IE5" / "ABCDEFGH";
    fs::create_directories(ieCache);
    for (int i = 0; i < 9; ++i) {
        const bool last = i == 8;
        const fs::path file = ieCache / ("file[" + std::to_string(i) + "]");
        writeFile(file, last ? Data(5000, 'z') : Data(12 * 1024, static_cast<char>('a' + i)));
        UrlCacheEntryInfo info;
        info.sourceUrl = "http://ie.example/" + std::to_string(i);
        info.localFileName = pathToUtf8(file);
        info.cacheEntryType = kNormalCacheEntry;
        info.sizeLow = last ? 5000 : 12 * 1024;
        info.hasHeaderInfo = true;
        info.headerInfo = std::string("HTTP/1.1 200 OK\r\nContent-Type: image/") +
                          (last ? "gif" : "png") + "\r\n\r\n";
        service->infos.push_back(info);
    }
    service->folder = temp / "Content.IE5";
    UrlCacheReader ie(std::move(service));
    ASSERT_FALSE(openCache(ie));
    reading = readCache(ie);
    ASSERT_EQ(reading.entries.size(), 9u);
    EXPECT_TRUE(combWith(filter, ie, reading, options).foldersReady);
    const auto ieKept = KeptFiles(small);
    EXPECT_GT(ieKept.size(), 0u);
    EXPECT_LT(ieKept.size(), 8u);
    for (const auto& [name, bytes] : ieKept) {
        EXPECT_EQ(bytes.size(), 12u * 1024) << name;
    }
    EXPECT_EQ(countTemporaryFiles(small), 0u);
    EXPECT_EQ(KeptFiles(roomy),
              (std::map<std::string, std::string>{{"gif0.gif", Data(5000, 'z')}}));
}

}  // namespace

}  // namespace harvix
