// The browser's cache is only ever read: after a comb run over it, every
// file of the cache folder has the same bytes, size, mode, inode and
// modification and change times as before, and no file came or went. Runs
// for both readers, with every kind of copy (block-file data, separate
// files, the URL cache's files), the picture test that removes copies
// again, and the duplicate test; for Firefox also through harvix-cli.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "CacheWriter.h"
#include "Pictures.h"
#include "app/Settings.h"
#include "fault/FaultSupport.h"
#include "filter/CacheFilter.h"
#include "platform/Text.h"
#include "readers/IECache.h"
#include "readers/MozillaCache.h"
#include "readers/UrlCacheMsiecf.h"
#include "support/TestSupport.h"

namespace {

const fs::path kContentIndex =
    fs::path(HARVIX_SHARED_TESTDATA) / "msiecf" / "Content.IE5" / "index.dat";

class CacheUntouchedFaultTest : public ::testing::Test {
protected:
    CacheUntouchedFaultTest() : savedSettings_(TheSettings()) {
        TheSettings().OneCopy = false;  // every matching item takes a copy
        TheSettings().SkipDuplicates = true;
    }
    ~CacheUntouchedFaultTest() override { TheSettings() = savedSettings_; }

    // Everything, pictures of at least 10 x 10 (smaller copies are removed
    // again), png only into the same folder as everything (duplicates), and
    // a URL part.
    void MakeFilter(const fs::path& out) {
        auto add = [&](int32_t type, int32_t minWidth, const std::string& url,
                       const std::string& folder, const std::string& stem) {
            auto* item = filter_.InsertItem(nullptr, -1);
            item->contentType = type;
            item->minWidth = minWidth;
            item->minHeight = minWidth;
            item->url = url;
            item->directoryTemplate = PathToUtf8(out / folder);
            item->fileNameDummy = stem;
        };
        add(0, 0, "", "all", "file");
        add(0, 10, "", "pictures", "picture");
        add(3, 0, "", "all", "png");
        add(0, 0, "example, msn", "sites", "site");
    }

    std::size_t Kept(const fs::path& out) {
        std::size_t count = 0;
        std::error_code ec;
        for (fs::recursive_directory_iterator it(out, ec), end; !ec && it != end;
             it.increment(ec)) {
            count += it->is_regular_file() ? 1 : 0;
        }
        return count;
    }

    Settings savedSettings_;
    ScopedRecordingNotifier notifier_;
    CCacheFilter filter_;
};

void WriteFirefoxCache(const fs::path& cache) {
    using mozcache::Place;
    mozcache::CacheWriter writer(cache);
    auto add = [&](const std::string& url, const std::string& data, const std::string& type,
                   Place place, mozcache::Layout layout = mozcache::Layout::Nested) {
        mozcache::Entry entry;
        entry.key = "HTTP:" + url;
        entry.data = data;
        entry.values = mozcache::ResponseValues(mozcache::ResponseHead({"Content-Type: " + type}));
        entry.lastModified = 1325376000;
        entry.dataPlace = place;
        entry.layout = layout;
        writer.Add(entry);
    };
    add("http://a.example/big.png", mozcache::MakePng(64, 48, 1), "image/png", Place::Auto);
    add("http://a.example/small.gif", mozcache::MakeGif(4, 4, 2), "image/gif", Place::Block1);
    add("http://a.example/again.png", mozcache::MakePng(64, 48, 1), "image/png", Place::Block3);
    add("http://b.example/photo.jpg", mozcache::MakeJpeg(40, 30, 3), "image/jpeg", Place::Separate);
    add("http://b.example/hex.bmp", mozcache::MakeBmp(20, 20, 4), "image/bmp", Place::Separate,
        mozcache::Layout::Hex);
    add("http://c.example/page.html", "<html>" + std::string(5000, 'h') + "</html>", "text/html",
        Place::Separate, mozcache::Layout::Decimal);
    add("http://c.example/style.css", "body{}", "text/css", Place::Block2);
    mozcache::Entry odd;
    odd.key = "HTTP:http://c.example/nowhere";
    odd.dataLocation = 0x33FFFFFFu;  // blocks past the end of the file
    odd.dataSize = 500;
    writer.Add(odd);
    writer.Finish();
}

TEST_F(CacheUntouchedFaultTest, FirefoxCacheFilesAreTheSameAfterARun) {
    TempDir temp;
    const fs::path cache = temp / "Cache";
    const fs::path out = temp / "out";
    WriteFirefoxCache(cache);
    AgeFiles(cache);
    const auto before = SnapshotFolder(cache);
    ASSERT_GE(before.size(), 8u);

    MakeFilter(out);
    CMozillaCache reader;
    reader.cacheFolder = PathToUtf8(cache);
    ASSERT_TRUE(reader.TryOpen());
    reader.LoadEntries();
    ASSERT_EQ(reader.entries.size(), 8u);
    EXPECT_TRUE(filter_.Comb(&reader));
    reader.Close();
    EXPECT_GE(Kept(out), 10u);
    EXPECT_EQ(SnapshotFolder(cache), before);

    // A second run over the same folders (names taken, duplicates found).
    ASSERT_TRUE(reader.TryOpen());
    reader.LoadEntries();
    EXPECT_TRUE(filter_.Comb(&reader));
    reader.Close();
    EXPECT_EQ(SnapshotFolder(cache), before);
}

TEST_F(CacheUntouchedFaultTest, FirefoxCacheFilesAreTheSameAfterACommandLineRun) {
    TempDir temp;
    const fs::path cache = temp / "Cache";
    const fs::path out = temp / "out";
    WriteFirefoxCache(cache);
    AgeFiles(cache);
    const auto before = SnapshotFolder(cache);
    MakeFilter(out);
    const fs::path filterFile = temp / "all.flt";
    ASSERT_TRUE(filter_.Save(PathToUtf8(filterFile)));

    const fs::path home = temp / "home";
    fs::create_directories(home);
    const std::string command =
        "env HOME='" + home.string() + "' XDG_CONFIG_HOME='" + (home / ".config").string() +
        "' XDG_CACHE_HOME='" + (home / ".cache").string() + "' '" + HARVIX_CLI_PATH +
        "' comb firefox --no-one-copy --cache '" + cache.string() + "' --filter '" +
        filterFile.string() + "' > '" + (temp / "cli.out").string() + "' 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << ReadFile(temp / "cli.out");
    EXPECT_GE(Kept(out), 10u) << ReadFile(temp / "cli.out");
    EXPECT_EQ(SnapshotFolder(cache), before);
}

// Lays out a copy of the real index with a picture for every file it names.
void LayOutUrlCache(const fs::path& container, const std::string& indexBytes) {
    fs::create_directories(container);
    WriteFile(container / "index.dat", indexBytes);
    CIECache reader(std::make_unique<CMsiecfUrlCache>(container / "index.dat"));
    ASSERT_TRUE(reader.TryOpen());
    reader.LoadEntries();
    ASSERT_GT(reader.entries.size(), 10u);
    int n = 0;
    for (const auto& entry : reader.entries) {
        const fs::path file = PathFromUtf8(entry->dataFile);
        fs::create_directories(file.parent_path());
        // Some pictures twice, so that the duplicate test has work.
        WriteFile(file, mozcache::MakePng(8 + (n % 5) * 4, 12, static_cast<uint32_t>(n % 7)));
        ++n;
    }
}

TEST_F(CacheUntouchedFaultTest, UrlCacheFilesAreTheSameAfterARun) {
    const std::string index = ReadFile(kContentIndex);
    ASSERT_GT(index.size(), 1000u) << "no index.dat in the shared test data";
    std::string wine = index;
    wine.replace(0, 28, std::string("WINE URLCache Ver 0.2012001\0", 28));
    for (const std::string* bytes : std::vector<const std::string*>{&index, &wine}) {
        TempDir temp;
        const fs::path container = temp / "Content.IE5";
        const fs::path out = temp / "out";
        LayOutUrlCache(container, *bytes);
        if (HasFatalFailure()) {
            return;
        }
        AgeFiles(container);
        const auto before = SnapshotFolder(container);

        filter_.Clear();
        MakeFilter(out);
        for (int run = 0; run < 2; ++run) {
            CIECache reader(std::make_unique<CMsiecfUrlCache>(container));
            ASSERT_TRUE(reader.TryOpen());
            reader.LoadEntries();
            EXPECT_TRUE(filter_.Comb(&reader));
            reader.Close();
        }
        EXPECT_GE(Kept(out), 19u);
        EXPECT_EQ(SnapshotFolder(container), before);
    }
}

}  // namespace
