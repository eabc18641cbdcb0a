// The metadata item reader: key kinds, response-head parsing, and items cut
// short or left without terminators.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "CacheWriter.h"
#include "readers/FirefoxCacheMetadata.h"

namespace harvix {

namespace {

using Element = FirefoxCacheEntry;

std::string Item(const std::string& key, const std::vector<mozcache::NamedValue>& values,
                 uint32_t dataSize = 1234, uint32_t modified = 1325376000) {
    mozcache::Entry entry;
    entry.key = key;
    entry.values = values;
    entry.lastModified = modified;
    return mozcache::buildMetadata(entry, 0x90000001u, dataSize);
}

std::string HeadItem(const std::string& head) {
    return Item("HTTP:http://example.org/a", mozcache::responseValues(head));
}

// Parses `bytes` from an exactly sized heap buffer, so that a read past the
// end is a fault the memory checkers see.
std::unique_ptr<Element> Parse(const std::string& bytes) {
    auto entry = std::make_unique<Element>();
    auto buffer = std::make_unique<unsigned char[]>(bytes.size() + 1);
    std::copy(bytes.begin(), bytes.end(), buffer.get());
    readCacheMetadata(buffer.get(), bytes.size(), *entry);
    return entry;
}

TEST(FirefoxCacheMetadata, HeaderNumbersTimeAndSizeComeFromTheItemHeader) {
    const auto entry = Parse(HeadItem("HTTP/1.1 200 OK\r\nContent-Length: 500\r\n"));
    EXPECT_EQ(entry->recordHeader[0], 0x00010013u);
    EXPECT_EQ(entry->recordHeader[1], 0x90000001u);
    EXPECT_EQ(entry->recordHeader[4], 1325376000u);
    EXPECT_EQ(entry->recordHeader[6], 1234u);
    EXPECT_EQ(entry->recordHeader[7], std::string("HTTP:http://example.org/a").size() + 1);
    EXPECT_EQ(entry->time, 1325376000);
    EXPECT_EQ(entry->size, 1234);  // not the Content-Length of the head
    EXPECT_EQ(entry->keyFirstByte, 'H');
}

TEST(FirefoxCacheMetadata, OnlyKeysThatBeginWithHttpColonNameAUrl) {
    EXPECT_EQ(Parse(Item("HTTP:http://example.org/x?a=1", {}))->url, "http://example.org/x?a=1");
    EXPECT_EQ(Parse(Item("HTTP/http://example.org/x", {}))->url, "");
    EXPECT_EQ(Parse(Item("wyciwyg://1/http://example.org/", {}))->url, "");
    EXPECT_EQ(Parse(Item("http:http://example.org/", {}))->url, "");
    EXPECT_EQ(Parse(Item("HTTP:", {}))->url, "");
}

TEST(FirefoxCacheMetadata, UrlBytesAreWidenedAsWindows1252) {
    const auto entry = Parse(Item("HTTP:http://example.org/caf\xE9\x80", {}));
    EXPECT_EQ(entry->url, "http://example.org/caf\xC3\xA9\xE2\x82\xAC");
}

TEST(FirefoxCacheMetadata, ResponseHeadFieldsAreTakenByExactName) {
    const auto entry = Parse(
        HeadItem("HTTP/1.1 200 OK\r\nServer: Apache\r\nDate: Sun, 01 Jan 2012 00:00:00 GMT\r\n"
                 "Accept-Ranges: bytes\r\nEtag: \"abc\"\r\nContent-Type: Image/PNG\r\n"));
    EXPECT_EQ(entry->server, "Apache");
    EXPECT_EQ(entry->acceptRanges, "bytes");
    EXPECT_EQ(entry->etag, "\"abc\"");
    EXPECT_EQ(entry->contentTypeText, "Image/PNG");
    EXPECT_EQ(entry->contentType, 3);
}

TEST(FirefoxCacheMetadata, NamesDifferingInCaseMatchNothingAndTheLastLineWins) {
    const auto entry =
        Parse(HeadItem("HTTP/1.1 200 OK\r\nETag: \"x\"\r\ncontent-type: image/gif\r\n"
                       "Content-Type: text/css\r\nContent-Type: image/jpeg\r\n"));
    EXPECT_EQ(entry->etag, "");
    EXPECT_EQ(entry->contentTypeText, "image/jpeg");
    EXPECT_EQ(entry->contentType, 1);
}

TEST(FirefoxCacheMetadata, TheByteAfterTheColonIsSkippedWhateverItIs) {
    const auto entry = Parse(HeadItem("HTTP/1.1 200 OK\r\nContent-Type:image/png\r\n"));
    EXPECT_EQ(entry->contentTypeText, "mage/png");
    EXPECT_EQ(entry->contentType, 3);
    // A name with nothing after its colon gives an empty value, not the
    // following line.
    const auto bare = Parse(HeadItem("HTTP/1.1 200 OK\r\nServer:\r\nEtag: e\r\n"));
    EXPECT_EQ(bare->server, "");
    EXPECT_EQ(bare->etag, "e");
}

TEST(FirefoxCacheMetadata, LinesEndedByBareLineFeedsYieldNoFields) {
    const auto entry =
        Parse(HeadItem("HTTP/1.1 200 OK\nServer: Apache\nContent-Type: image/png\n"));
    EXPECT_EQ(entry->server, "");
    EXPECT_EQ(entry->contentTypeText, "");
    EXPECT_EQ(entry->contentType, 0);
    EXPECT_EQ(entry->url, "http://example.org/a");
}

TEST(FirefoxCacheMetadata, ALastLineWithoutCarriageReturnIsNotClassified) {
    const auto entry =
        Parse(HeadItem("HTTP/1.1 200 OK\r\nServer: Apache\r\nContent-Type: image/png"));
    EXPECT_EQ(entry->server, "Apache");
    EXPECT_EQ(entry->contentTypeText, "");
}

TEST(FirefoxCacheMetadata, AKeyFollowedByTwoZeroBytesHasNoResponseHead) {
    std::string item = Item("HTTP:http://example.org/a", {});
    item += std::string("\0", 1) + "response-head" + std::string("\0", 1) +
            "HTTP/1.1 200 OK\r\nServer: late\r\n" + std::string("\0", 1);
    const auto entry = Parse(item);
    EXPECT_EQ(entry->url, "http://example.org/a");
    EXPECT_EQ(entry->size, 1234);
    EXPECT_EQ(entry->server, "");
}

TEST(FirefoxCacheMetadata, EveryHttpTextAfterTheKeyIsParsed) {
    const auto entry = Parse(Item("HTTP:http://example.org/a",
                                  {{"response-head", "HTTP/1.1 200 OK\r\nServer: one\r\n"},
                                   {"other", "HTTP/1.0 304 Not Modified\r\nEtag: two\r\n"}}));
    EXPECT_EQ(entry->server, "one");
    EXPECT_EQ(entry->etag, "two");
}

TEST(FirefoxCacheMetadata, AHeadThatRunsToTheEndOfTheItemStopsThere) {
    // No zero byte after the head, a carriage return as the very last byte,
    // and the same cut at every length: nothing may be read past the item.
    std::string item = Item("HTTP:http://example.org/a", {{"response-head", ""}});
    item.pop_back();  // drop the value's terminator
    item += "HTTP/1.1 200 OK\r\nServer: Apache\r\nContent-Type: image/png\r";
    const auto whole = Parse(item);
    EXPECT_EQ(whole->server, "Apache");
    EXPECT_EQ(whole->contentTypeText, "image/png");
    for (std::size_t length = 0; length <= item.size(); ++length) {
        const auto cut = Parse(item.substr(0, length));
        if (length < 28) {
            EXPECT_EQ(cut->size, 0) << length;
        }
        EXPECT_LE(cut->url.size(), std::string("http://example.org/a").size()) << length;
    }
}

TEST(FirefoxCacheMetadata, ACarriageReturnJustBeforeTheTerminatorEndsTheHead) {
    // The next line would start past the head's zero byte, in the next value.
    const auto entry =
        Parse(Item("HTTP:http://example.org/a",
                   {{"response-head", "HTTP/1.1 200 OK\r"}, {"Server: injected\r\n", "v"}}));
    EXPECT_EQ(entry->server, "");
}

TEST(FirefoxCacheMetadata, ShortItemsKeepWhatTheyHold) {
    const auto empty = Parse("");
    EXPECT_EQ(empty->url, "");
    EXPECT_EQ(empty->size, 0);
    EXPECT_EQ(empty->keyFirstByte, 0);

    const std::string item = HeadItem("HTTP/1.1 200 OK\r\nServer: Apache\r\n");
    const auto headerOnly = Parse(item.substr(0, 36));
    EXPECT_EQ(headerOnly->size, 1234u);
    EXPECT_EQ(headerOnly->url, "");
    // A key cut before its zero byte still names what was read.
    const auto cutKey = Parse(item.substr(0, 36 + 12));
    EXPECT_EQ(cutKey->url, "http://");
}

TEST(FirefoxCacheMetadata, ASizeOfTwoGigabytesOrMoreIsAWholeSize) {
    EXPECT_EQ(Parse(Item("HTTP:http://a/", {}, 0x80000000u))->size, 0x80000000u);
}

}  // namespace

}  // namespace harvix
