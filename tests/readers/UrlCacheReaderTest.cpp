#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>

#include "base/ErrorReport.h"
#include "readers/BodyCopy.h"
#include "readers/UrlCacheReader.h"
#include "support/TestSupport.h"

namespace harvix {

namespace {

// Windows file time of a moment given in seconds since 1970.
uint64_t FileTimeOf(int64_t unixSeconds) {
    return static_cast<uint64_t>(unixSeconds + 11644473600) * 10000000u;
}

// Serves a prepared list of cache entries.
class ListService : public UrlCacheService {
public:
    std::vector<UrlCacheEntryInfo> infos;
    bool openSucceeds = true;
    int closes = 0;

    void open() override {
        if (!openSucceeds) {
            throw ErrorReport(ErrorReport::IECache, ErrorReport::CacheOpen, "no cache here");
        }
    }
    void close() override { ++closes; }
    fs::path cacheFolder() const override { return folder; }
    fs::path folder;  // where the cached files lie
    std::unique_ptr<UrlCacheEnumeration> findFirst(UrlCacheEntryInfo& info) override {
        auto enumeration = std::make_unique<Enumeration>(infos);
        if (!enumeration->next(info)) {
            return nullptr;
        }
        return enumeration;
    }

private:
    class Enumeration : public UrlCacheEnumeration {
    public:
        explicit Enumeration(const std::vector<UrlCacheEntryInfo>& list) : list_(list) {}
        bool next(UrlCacheEntryInfo& info) override {
            if (next_ >= list_.size()) {
                return false;
            }
            info = list_[next_++];
            return true;
        }

    private:
        const std::vector<UrlCacheEntryInfo>& list_;
        std::size_t next_ = 0;
    };
};

UrlCacheEntryInfo Download(const std::string& url, const std::string& file,
                           const std::string& header = "HTTP/1.1 200 OK\r\n\r\n") {
    UrlCacheEntryInfo info;
    info.sourceUrl = url;
    info.localFileName = file;
    info.cacheEntryType = kNormalCacheEntry;
    info.sizeLow = 100;
    info.lastSyncTime = FileTimeOf(1440500722);
    info.hasHeaderInfo = true;
    info.headerInfo = header;
    return info;
}

struct Reader {
    ListService* service = nullptr;
    std::unique_ptr<UrlCacheReader> cache;

    explicit Reader(std::vector<UrlCacheEntryInfo> infos) {
        auto owned = std::make_unique<ListService>();
        owned->infos = std::move(infos);
        service = owned.get();
        cache = std::make_unique<UrlCacheReader>(std::move(owned));
    }
};

std::vector<std::string> Urls(const Reading& reading) {
    std::vector<std::string> urls;
    for (const auto& entry : reading.entries) {
        urls.push_back(entry->url);
    }
    return urls;
}

TEST(UrlCacheReader, KeepsOnlyDownloadsWithUrlLocalFileAndHeaderInTheServiceOrder) {
    std::vector<UrlCacheEntryInfo> infos;
    infos.push_back(Download("http://a/1", "/c/A/1"));
    infos.push_back(Download("Cookie:user@a/", "/c/A/cookie.txt"));
    infos.back().cacheEntryType = kCookieCacheEntry | kNormalCacheEntry;
    infos.push_back(Download("Visited: user@http://a/", "/c/A/h"));
    infos.back().cacheEntryType = kUrlHistoryCacheEntry;
    infos.push_back(Download("http://a/noheader", "/c/A/2"));
    infos.back().hasHeaderInfo = false;
    infos.back().headerInfo.clear();
    infos.push_back(Download("http://a/nofile", ""));
    infos.push_back(Download("", "/c/A/3"));
    infos.push_back(Download("http://a/4", "/c/B/4"));
    infos.push_back(Download("http://a/5", "/c/B/5"));
    infos.back().cacheEntryType = 0;  // no kind bits at all is still a download

    Reader reader(infos);
    ASSERT_FALSE(openCache(*reader.cache));
    Reading reading = readCache(*reader.cache);
    EXPECT_EQ(Urls(reading), (std::vector<std::string>{"http://a/1", "http://a/4", "http://a/5"}));
    for (uint32_t i = 0; i < reading.entries.size(); ++i) {
        EXPECT_EQ(reading.entries[i]->index, i);
    }
    EXPECT_EQ(reading.entries[1]->dataFile, "/c/B/4");

    // A watch that says stop after the first download ends the reading
    // there, cookies and history after it unvisited.
    std::size_t asked = 0;
    reader.cache->setReadingWatch([&](const std::vector<std::unique_ptr<CacheEntry>>& read) {
        ++asked;
        return read.empty();
    });
    reading = readCache(*reader.cache);
    EXPECT_EQ(Urls(reading), (std::vector<std::string>{"http://a/1"}));
    EXPECT_EQ(asked, 2u);
}

TEST(UrlCacheReader, AnEmptyCacheGivesNoEntries) {
    Reader reader({});
    ASSERT_FALSE(openCache(*reader.cache));
    Reading reading = readCache(*reader.cache);
    EXPECT_TRUE(reading.entries.empty());
}

TEST(UrlCacheReader, ContentTypeComesFromTheContentTypeLineOfTheStoredHeader) {
    std::vector<UrlCacheEntryInfo> infos;
    infos.push_back(Download("http://a/1", "/f/1",
                             "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\n\r\n~U:user\r\n"));
    // A key word in another header line does not count.
    infos.push_back(Download("http://a/2", "/f/2",
                             "HTTP/1.1 200 OK\r\nX-Origin: cdn.gif-host.example\r\n"
                             "Content-Type: image/png\r\n\r\n"));
    // Letters in any case.
    infos.push_back(
        Download("http://a/3", "/f/3", "HTTP/1.1 200 OK\r\ncontent-type: IMAGE/WEBP\r\n"));
    infos.push_back(Download("http://a/4", "/f/4",
                             "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream"));
    infos.push_back(Download("http://a/5", "/f/5", "Content-Type: text/html; charset=utf-8"));
    infos.push_back(Download("http://a/6", "/f/6", "Content-Type: video/x-ms-wmv"));
    Reader reader(infos);
    Reading reading = readCache(*reader.cache);
    ASSERT_EQ(reading.entries.size(), 6u);
    const std::vector<int32_t> expected{3, 3, 19, 0, 8, 18};
    const std::vector<std::string> texts{"image/png",
                                         "image/png",
                                         "IMAGE/WEBP",
                                         "application/octet-stream",
                                         "text/html; charset=utf-8",
                                         "video/x-ms-wmv"};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(reading.entries[i]->contentType, expected[i]) << i;
        EXPECT_EQ(reading.entries[i]->contentTypeText, texts[i]) << i;
    }
}

TEST(UrlCacheReader, SizeIsTheLowHalfUnsignedOrTheWholeSizeWhereKnown) {
    std::vector<UrlCacheEntryInfo> infos;
    for (const uint32_t size : {0u, 999u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
        infos.push_back(Download("http://a/" + std::to_string(size), "/f"));
        infos.back().sizeLow = size;
    }
    Reader reader(infos);
    Reading reading = readCache(*reader.cache);
    ASSERT_EQ(reading.entries.size(), 5u);
    EXPECT_EQ(reading.entries[0]->size, 0u);
    EXPECT_EQ(reading.entries[1]->size, 999u);
    EXPECT_EQ(reading.entries[2]->size, 0x7FFFFFFFu);
    EXPECT_EQ(reading.entries[3]->size, 0x80000000u);
    EXPECT_EQ(reading.entries[4]->size, 0xFFFFFFFFu);
}

TEST(UrlCacheReader, TimesStatusAndHeadAreTheRecordsOwn) {
    EXPECT_EQ(UrlCacheReader::entryTime(0), 0);                        // never synchronised (1601)
    EXPECT_EQ(UrlCacheReader::entryTime(FileTimeOf(-2208988801)), 0);  // 1899-12-31 23:59:59
    EXPECT_EQ(UrlCacheReader::entryTime(FileTimeOf(-2208988800)), 0);  // 1900-01-01
    EXPECT_EQ(UrlCacheReader::entryTime(FileTimeOf(-1)), 0);           // 1969-12-31 23:59:59
    EXPECT_EQ(UrlCacheReader::entryTime(FileTimeOf(0)), 0);            // 1970-01-01
    EXPECT_EQ(UrlCacheReader::entryTime(FileTimeOf(1)), 1);
    EXPECT_EQ(UrlCacheReader::entryTime(FileTimeOf(1440500722) + 9999999), 1440500722);
    EXPECT_EQ(UrlCacheReader::entryTime(FileTimeOf(4102444800)), 4102444800);  // 2100-01-01
    EXPECT_GT(UrlCacheReader::entryTime(UINT64_MAX), 0);

    std::vector<UrlCacheEntryInfo> infos{
        Download("http://a/1", "/f", "HTTP/1.1 203 OK\r\nContent-Type: image/png\r\n\r\n"),
        Download("http://a/2", "/f", "Content-Type: text/css\r\n"),
        Download("http://a/3", "/f", "HTTP/1.1 200 OK\r\ncontent-encoding: identity, gzip\r\n")};
    infos[0].lastAccessTime = FileTimeOf(1440600000);
    infos[0].expireTime = FileTimeOf(1450000000);
    infos[1].lastSyncTime = 0;
    Reader reader(infos);
    Reading reading = readCache(*reader.cache);
    const CacheEntry& first = *reading.entries[0];
    EXPECT_EQ(first.time, 1440500722);
    EXPECT_EQ(first.responseTime, 1440500722);
    EXPECT_EQ(first.lastUsed, 1440600000);
    EXPECT_EQ(first.expires, 1450000000);
    EXPECT_EQ(first.status, 203);
    EXPECT_EQ(first.contentTypeText, "image/png");
    EXPECT_EQ(reader.cache->responseHead(first), infos[0].headerInfo);
    // A record that keeps none of them: no times, no status.
    const CacheEntry& second = *reading.entries[1];
    EXPECT_EQ(second.time, 0);
    EXPECT_EQ(second.responseTime, CacheEntry::kNoTime);
    EXPECT_EQ(second.lastUsed, CacheEntry::kNoTime);
    EXPECT_EQ(second.expires, CacheEntry::kNoTime);
    EXPECT_EQ(second.status, 0);
    // WinINet keeps a body decoded: a web archive takes it only when its
    // head names no coding.
    EXPECT_EQ(reader.cache->archiveHead(first), infos[0].headerInfo);
    EXPECT_FALSE(reader.cache->archiveHead(*reading.entries[2]));
}

TEST(UrlCacheReader, NoCacheToReadFailsOpenSilentlyAndLeavesTheReaderClosed) {
    Reader reader({Download("http://a/1", "/f")});
    reader.service->openSucceeds = false;
    const std::optional<ErrorReport> failed = openCache(*reader.cache);
    ASSERT_TRUE(failed);
    EXPECT_EQ(reader.service->closes, 1);
    EXPECT_EQ(failed->path(), "no cache here");
    reader.cache->close();  // a second Close is harmless
}

class UrlCacheCopy : public ::testing::Test {
protected:
    TempDir dir;
    std::unique_ptr<Reader> reader;
    Reading reading;

    // An opened reader of one entry for `file`, of the file's size; the
    // cache folder is the temporary folder.
    CacheEntry& EntryFor(const fs::path& file) {
        UrlCacheEntryInfo info = Download("http://a/1", file.string());
        std::error_code ec;
        const uintmax_t size = fs::file_size(file, ec);
        info.sizeLow = ec ? 100 : static_cast<uint32_t>(size);
        reader = std::make_unique<Reader>(std::vector<UrlCacheEntryInfo>{info});
        reader->service->folder = dir.path();
        EXPECT_FALSE(openCache(*reader->cache));
        reading = readCache(*reader->cache);
        return *reading.entries.at(0);
    }

    // Names in `folder` other than `keep`: what a copy may have left behind.
    static std::vector<std::string> Leftovers(const fs::path& folder,
                                              const std::vector<std::string>& keep) {
        std::vector<std::string> names;
        for (const auto& item : fs::directory_iterator(folder)) {
            const std::string name = item.path().filename().string();
            if (std::find(keep.begin(), keep.end(), name) == keep.end()) {
                names.push_back(name);
            }
        }
        return names;
    }
};

TEST_F(UrlCacheCopy, CopiesTheLocalFileWholeAndNeverReplacesAFile) {
    std::string data(3 * 1024 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<char>((i * 7919) >> 3);
    }
    fs::create_directories(dir / "cache");
    fs::create_directories(dir / "out");
    writeFile(dir / "cache" / "pic[1].jpg", data);
    auto& entry = EntryFor(dir / "cache" / "pic[1].jpg");

    EXPECT_TRUE(copyEntry(*reader->cache, entry, dir / "out" / "a.jpg"));
    EXPECT_EQ(readFile(dir / "out" / "a.jpg"), data);

    // An existing file keeps its content: a copy never replaces a file.
    writeFile(dir / "out" / "b.jpg", "older and longer content than nothing");
    EXPECT_FALSE(copyEntry(*reader->cache, entry, dir / "out" / "b.jpg"));
    EXPECT_EQ(readFile(dir / "out" / "b.jpg"), "older and longer content than nothing");

    // A cached file shorter than its record is a failed copy, not a short one.
    writeFile(dir / "cache" / "pic[1].jpg", "short");
    EXPECT_FALSE(copyEntry(*reader->cache, entry, dir / "out" / "c.jpg"));
    EXPECT_EQ(readFile(dir / "cache" / "pic[1].jpg"), "short");  // the source is only read
    EXPECT_TRUE(Leftovers(dir / "out", {"a.jpg", "b.jpg"}).empty());

    // One longer than its record gives exactly the record's bytes.
    writeFile(dir / "cache" / "pic[1].jpg", data + "and a long tail");
    EXPECT_TRUE(copyEntry(*reader->cache, entry, dir / "out" / "d.jpg"));
    EXPECT_EQ(readFile(dir / "out" / "d.jpg"), data);
}

TEST_F(UrlCacheCopy, AnExistingTargetIsLeftAloneAndTheCopyThrows) {
    writeFile(dir / "src", "new");
    writeFile(dir / "t", "old");
    auto& entry = EntryFor(dir / "src");
    EXPECT_THROW(copyBodyToFile(*reader->cache, entry, dir / "t"), ErrorReport);
    EXPECT_EQ(readFile(dir / "t"), "old");
    copyBodyToFile(*reader->cache, entry, dir / "u");
    EXPECT_EQ(readFile(dir / "u"), "new");
    EXPECT_TRUE(Leftovers(dir.path(), {"src", "t", "u"}).empty());
}

TEST_F(UrlCacheCopy, LinksOutOfTheCacheAndFifosAreFailedCopiesWithoutWaiting) {
    TempDir outside;
    writeFile(outside / "secret", "not the cache's");
    fs::create_directories(dir / "cache");
    fs::create_directories(dir / "out");
    fs::create_symlink(outside / "secret", dir / "cache" / "link");
    auto& link = EntryFor(dir / "cache" / "link");
    EXPECT_FALSE(copyEntry(*reader->cache, link, dir / "out" / "a"));
    // A folder link that leads out of the cache is refused as well.
    fs::create_directory_symlink(outside.path(), dir / "cache" / "away");
    auto& away = EntryFor(dir / "cache" / "away" / "secret");
    EXPECT_FALSE(copyEntry(*reader->cache, away, dir / "out" / "b"));
    // A FIFO is refused at once, never read.
    ASSERT_EQ(::mkfifo((dir / "cache" / "fifo").c_str(), 0600), 0);
    auto& fifo = EntryFor(dir / "cache" / "fifo");
    EXPECT_FALSE(copyEntry(*reader->cache, fifo, dir / "out" / "c"));
    EXPECT_TRUE(Leftovers(dir / "out", {}).empty());
}

TEST_F(UrlCacheCopy, AFailedCopyThrowsAndLeavesNoFile) {
    fs::create_directories(dir / "out");
    fs::create_directories(dir / "cache" / "folder");
    writeFile(dir / "out" / "kept.bin", "old");

    // The cached file was removed by the browser.
    auto& gone = EntryFor(dir / "cache" / "gone");
    EXPECT_THROW(copyBodyToFile(*reader->cache, gone, dir / "out" / "x.bin"), ErrorReport);
    EXPECT_FALSE(copyEntry(*reader->cache, gone, dir / "out" / "kept.bin"));
    EXPECT_EQ(readFile(dir / "out" / "kept.bin"), "old");

    // Not a file.
    auto& folder = EntryFor(dir / "cache" / "folder");
    EXPECT_FALSE(copyEntry(*reader->cache, folder, dir / "out" / "y.bin"));

    // The target folder does not exist.
    writeFile(dir / "cache" / "real", "bytes");
    auto& real = EntryFor(dir / "cache" / "real");
    EXPECT_FALSE(copyEntry(*reader->cache, real, dir / "missing" / "z.bin"));
    EXPECT_FALSE(fs::exists(dir / "missing"));

    // The target names a folder.
    fs::create_directories(dir / "out" / "sub");
    EXPECT_FALSE(copyEntry(*reader->cache, real, dir / "out" / "sub"));

    EXPECT_TRUE(Leftovers(dir / "out", {"kept.bin", "sub"}).empty());
}

}  // namespace

}  // namespace harvix
