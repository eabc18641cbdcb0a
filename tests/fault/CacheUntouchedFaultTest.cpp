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
#include "filter/FilterSet.h"
#include "platform/Path.h"
#include "readers/FirefoxCacheReader.h"
#include "readers/MsiecfUrlCache.h"
#include "readers/UrlCacheReader.h"
#include "support/TestData.h"
#include "support/TestSupport.h"

namespace harvix {

namespace {

const fs::path kContentIndex = testData("msiecf/Content.IE5/index.dat");

class CacheUntouchedFaultTest : public ::testing::Test {
protected:
    CacheUntouchedFaultTest() {
        options_.oneCopy = false;  // every matching item takes a copy
        options_.skipDuplicates = true;
    }

    // Everything, pictures of at least 10 x 10 (smaller copies are removed
    // again), png only into the same folder as everything (duplicates), and
    // a URL part.
    void MakeFilter(const fs::path& out) {
        auto add = [&](int32_t type, int32_t minWidth, const std::string& url,
                       const std::string& folder, const std::string& stem) {
            auto* item = filter_.insertItem(nullptr, -1);
            item->contentType = type;
            item->minWidth = minWidth;
            item->minHeight = minWidth;
            item->url = url;
            item->directoryTemplate = pathToUtf8(out / folder);
            item->stem = stem;
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

    CombOptions options_;
    FilterSet filter_;
};

void WriteFirefoxCache(const fs::path& cache) {
    using mozcache::Place;
    mozcache::CacheWriter writer(cache);
    auto add = [&](const std::string& url, const std::string& data, const std::string& type,
                   Place place, mozcache::Layout layout = mozcache::Layout::Nested) {
        mozcache::Entry entry;
        entry.key = "HTTP:" + url;
        entry.data = data;
        entry.values = mozcache::responseValues(mozcache::ResponseHead({"Content-Type: " + type}));
        entry.lastModified = 1325376000;
        entry.dataPlace = place;
        entry.layout = layout;
        writer.add(entry);
    };
    add("http://a.example/big.png", mozcache::makePng(64, 48, 1), "image/png", Place::Auto);
    add("http://a.example/small.gif", mozcache::makeGif(4, 4, 2), "image/gif", Place::Block1);
    add("http://a.example/again.png", mozcache::makePng(64, 48, 1), "image/png", Place::Block3);
    add("http://b.example/photo.jpg", mozcache::makeJpeg(40, 30, 3), "image/jpeg", Place::Separate);
    add("http://b.example/hex.bmp", mozcache::makeBmp(20, 20, 4), "image/bmp", Place::Separate,
        mozcache::Layout::Hex);
    add("http://c.example/page.html", "<html>" + std::string(5000, 'h') + "</html>", "text/html",
        Place::Separate, mozcache::Layout::Decimal);
    add("http://c.example/style.css", "body{}", "text/css", Place::Block2);
    mozcache::Entry odd;
    odd.key = "HTTP:http://c.example/nowhere";
    odd.dataLocation = 0x33FFFFFFu;  // blocks past the end of the file
    odd.dataSize = 500;
    writer.add(odd);
    writer.finish();
}

TEST_F(CacheUntouchedFaultTest, FirefoxCacheFilesAreTheSameAfterARun) {
    TempDir temp;
    const fs::path cache = temp / "Cache";
    const fs::path out = temp / "out";
    WriteFirefoxCache(cache);
    ageFiles(cache);
    const auto before = snapshotFolder(cache);
    ASSERT_GE(before.size(), 8u);

    MakeFilter(out);
    FirefoxCacheReader reader;
    reader.cacheFolder = pathToUtf8(cache);
    ASSERT_FALSE(openCache(reader));
    Reading reading = readCache(reader);
    ASSERT_EQ(reading.entries.size(), 8u);
    EXPECT_TRUE(combWith(filter_, reader, reading, options_).foldersReady);
    reader.close();
    EXPECT_GE(Kept(out), 10u);
    EXPECT_EQ(snapshotFolder(cache), before);

    // A second run over the same folders (names taken, duplicates found).
    ASSERT_FALSE(openCache(reader));
    reading = readCache(reader);
    EXPECT_TRUE(combWith(filter_, reader, reading, options_).foldersReady);
    reader.close();
    EXPECT_EQ(snapshotFolder(cache), before);
}

TEST_F(CacheUntouchedFaultTest, FirefoxCacheFilesAreTheSameAfterACommandLineRun) {
    TempDir temp;
    const fs::path cache = temp / "Cache";
    const fs::path out = temp / "out";
    WriteFirefoxCache(cache);
    ageFiles(cache);
    const auto before = snapshotFolder(cache);
    MakeFilter(out);
    const fs::path filterFile = temp / "all.flt";
    ASSERT_FALSE(filter_.saveFile(pathToUtf8(filterFile)));

    const fs::path home = temp / "home";
    fs::create_directories(home);
    const std::string command =
        "env HOME='" + home.string() + "' XDG_CONFIG_HOME='" + (home / ".config").string() +
        "' XDG_CACHE_HOME='" + (home / ".cache").string() + "' '" + HARVIX_CLI_PATH +
        "' comb firefox --no-one-copy --cache '" + cache.string() + "' --filter '" +
        filterFile.string() + "' > '" + (temp / "cli.out").string() + "' 2>&1";
    // Exit 4: the record whose blocks lie past the end of its file is a
    // failed copy, and the summary says so.
    EXPECT_EQ(std::system(command.c_str()), 4 << 8) << readFile(temp / "cli.out");
    EXPECT_NE(readFile(temp / "cli.out").find("3 copies failed"), std::string::npos)
        << readFile(temp / "cli.out");
    EXPECT_GE(Kept(out), 10u) << readFile(temp / "cli.out");
    EXPECT_EQ(snapshotFolder(cache), before);
}

// Lays out a copy of the real index with a picture for every file it names.
void LayOutUrlCache(const fs::path& container, const std::string& indexBytes) {
    fs::create_directories(container);
    writeFile(container / "index.dat", indexBytes);
    UrlCacheReader reader(std::make_unique<MsiecfUrlCache>(container / "index.dat"));
    ASSERT_FALSE(openCache(reader));
    Reading reading = readCache(reader);
    ASSERT_GT(reading.entries.size(), 10u);
    int n = 0;
    for (const auto& entry : reading.entries) {
        const fs::path file = pathFromUtf8(entry->dataFile);
        fs::create_directories(file.parent_path());
        // Some pictures twice, so that the duplicate test has work.
        // Of the record's size exactly: a copy takes that many bytes.
        std::string png = mozcache::makePng(8 + (n % 5) * 4, 12, static_cast<uint32_t>(n % 7));
        png.resize(static_cast<std::size_t>(entry->size), '\0');
        writeFile(file, png);
        ++n;
    }
}

TEST_F(CacheUntouchedFaultTest, UrlCacheFilesAreTheSameAfterARun) {
    ASSERT_TEST_DATA(kContentIndex, kContentIndexBytes);
    const std::string index = readFile(kContentIndex);
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
        ageFiles(container);
        const auto before = snapshotFolder(container);

        filter_.clear();
        MakeFilter(out);
        for (int run = 0; run < 2; ++run) {
            UrlCacheReader reader(std::make_unique<MsiecfUrlCache>(container));
            ASSERT_FALSE(openCache(reader));
            Reading reading = readCache(reader);
            EXPECT_TRUE(combWith(filter_, reader, reading, options_).foldersReady);
            reader.close();
        }
        EXPECT_GE(Kept(out), 19u);
        EXPECT_EQ(snapshotFolder(container), before);
    }
}

}  // namespace

}  // namespace harvix
