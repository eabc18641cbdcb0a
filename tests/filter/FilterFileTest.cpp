#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <optional>

#include "base/ContentType.h"
#include "base/Profile.h"
#include "filter/FilterTestSupport.h"
#include "platform/AtomicFile.h"

namespace harvix {

namespace {

// The clock a load is handed: 5 March 2024, 14:07:09 local time.
std::time_t When() {
    std::tm local{};
    local.tm_year = 124;
    local.tm_mon = 2;
    local.tm_mday = 5;
    local.tm_hour = 14;
    local.tm_min = 7;
    local.tm_sec = 9;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

class FilterFileTest : public FilterTest {
protected:
    fs::path Flt(const std::string& text, const std::string& name = "set.flt") {
        const fs::path path = Dir(name);
        writeFile(path, text);
        return path;
    }
    bool load(const fs::path& path) { return !filter_.loadFile(path.string(), When()); }
};

const char* const kJpegItem =
    "[FILTER_0]\nContentType=1\nDisabled=0\nMinSize=10000\nURL=\nMinWeidth=100\n"
    "MinHeight=100\nDirectory=/srv/HX_FILES/%DATE%\nFileNameDummy=file\n";

TEST_F(FilterFileTest, SavedFileHasTheFixedLayoutAndLoadsBackTheSame) {
    auto& jpeg = addItem("/srv/HX_FILES/%DATE%", 1);
    jpeg.minSize = 10000;
    jpeg.minWidth = 100;
    jpeg.minHeight = 100;
    auto& other = addItem("~/music", 12, "track");
    other.disabled = true;
    other.url = "a.com, b .net,,c";
    other.minSize = -5;
    other.minWidth = INT32_MIN;
    other.minHeight = INT32_MAX;
    filter_.hint = "My pictures = the best";
    const fs::path path = Dir("out.flt");
    ASSERT_FALSE(filter_.saveFile(path.string()));

    EXPECT_EQ(readFile(path),
              std::string("[GENERAL]\nHarvixFilter=1\nHint=My pictures = the best\n\n") +
                  kJpegItem +
                  "\n[FILTER_1]\nContentType=12\nDisabled=1\nMinSize=-5\nURL=a.com, b .net,,c\n"
                  "MinWeidth=-2147483648\nMinHeight=2147483647\nDirectory=~/music\n"
                  "FileNameDummy=track\n");

    FilterSet loaded;
    loaded.homeFolder = fake_.home;
    ASSERT_FALSE(loaded.loadFile(path.string(), When()));
    EXPECT_EQ(loaded.hint, filter_.hint);
    ASSERT_EQ(loaded.items.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        const auto& a = *filter_.items[i];
        const auto& b = *loaded.items[i];
        EXPECT_EQ(b.position, static_cast<int32_t>(i));
        EXPECT_EQ(b.disabled, a.disabled);
        EXPECT_EQ(b.contentType, a.contentType);
        EXPECT_EQ(b.minSize, a.minSize);
        EXPECT_EQ(b.url, a.url);
        EXPECT_EQ(b.minWidth, a.minWidth);
        EXPECT_EQ(b.minHeight, a.minHeight);
        EXPECT_EQ(b.directoryTemplate, a.directoryTemplate);
        EXPECT_EQ(b.stem, a.stem);
    }
    EXPECT_EQ(loaded.items[1]->urlParts, (std::vector<std::string>{"a.com", "b.net", "c"}));
    EXPECT_EQ(loaded.items[0]->directory, "/srv/HX_FILES/05.03.2024");
    EXPECT_EQ(loaded.items[1]->directory, (fake_.home / "music").string());
}

TEST_F(FilterFileTest, ALoadWritesNoSettings) {
    // The set knows nothing of the settings: the front end records the file.
    const fs::path path = Flt(std::string("[GENERAL]\nHarvixFilter=1\n") + kJpegItem);
    ASSERT_TRUE(load(path));
    EXPECT_EQ(filter_.fileName, path.string());
    EXPECT_EQ(fileNames(dir_.path()), (std::vector<std::string>{"home", "prog", "set.flt"}));
}

TEST_F(FilterFileTest, TheListEndsAtTheFirstGapOrEmptyContentType) {
    const char* const item = "ContentType=%s\nDirectory=/x\nFileNameDummy=f\n";
    auto section = [&](int n, const char* type) {
        char buffer[256];
        std::snprintf(buffer, sizeof buffer, item, type);
        return "[FILTER_" + std::to_string(n) + "]\n" + buffer;
    };
    ASSERT_TRUE(load(
        Flt("[GENERAL]\nHarvixFilter=1\n" + section(0, "3") + section(1, "0") + section(3, "2"))));
    ASSERT_EQ(filter_.items.size(), 2u);
    EXPECT_EQ(filter_.items[0]->contentType, 3);
    EXPECT_EQ(filter_.items[1]->contentType, 0);  // "0" is an item: any type

    ASSERT_TRUE(load(
        Flt("[GENERAL]\nHarvixFilter=1\n" + section(0, "3") + section(1, "") + section(2, "2"))));
    EXPECT_EQ(filter_.items.size(), 1u);

    // FILTER_01 is not FILTER_1; names match without regard to case.
    ASSERT_TRUE(
        load(Flt("[GENERAL]\nHarvixFilter=1\n[filter_0]\nContentType=4\n"
                 "[FILTER_01]\nContentType=5\n")));
    ASSERT_EQ(filter_.items.size(), 1u);
    EXPECT_EQ(filter_.items[0]->contentType, 4);
}

TEST_F(FilterFileTest, DamagedValuesReadAsNumbersWouldAndKeysFindTheirPlace) {
    ASSERT_TRUE(
        load(Flt("; written by hand\n[general]\nhint = spaced \nHARVIXFILTER=7\n"
                 "[FILTER_0]\nfilenamedummy=stem\nDisabled=2\nContentType= 99 \n"
                 "MinSize=99999999999999999999\nMinWeidth=-99999999999\nMinHeight=12abc\n"
                 "URL=  x ,\tY  \nDisabled=0\n"
                 "[FILTER_1]\nContentType=abc\nDisabled=abc\nMinSize=\n"
                 "[FILTER_0]\nContentType=1\n")));
    ASSERT_EQ(filter_.items.size(), 2u);
    EXPECT_EQ(filter_.hint, "spaced");
    const auto& first = *filter_.items[0];
    EXPECT_TRUE(first.disabled);       // 2 reads as non-zero; the later Disabled=0 is not read
    EXPECT_EQ(first.contentType, 99);  // kept; it matches no entry
    EXPECT_EQ(first.minSize, INT32_MAX);
    EXPECT_EQ(first.minWidth, INT32_MIN);
    EXPECT_EQ(first.minHeight, 12);
    EXPECT_EQ(first.urlParts, (std::vector<std::string>{"x", "Y"}));
    EXPECT_EQ(first.stem, "stem");
    const auto& second = *filter_.items[1];
    EXPECT_FALSE(second.disabled);  // abc reads as 0
    EXPECT_EQ(second.contentType, 0);
    EXPECT_EQ(second.minSize, 0);
    EXPECT_EQ(second.directoryTemplate, "");
}

TEST_F(FilterFileTest, FilesThatAreNoFilterFilesLeaveTheSetEmpty) {
    filter_.hint = "old";
    addItem("/x");
    std::string junk;
    for (int i = 0; i < 20000; ++i) {
        junk += static_cast<char>((i * 7919) % 256);
    }
    const std::string texts[] = {
        "",
        "[GENERAL]\nHint=no mark\n" + std::string(kJpegItem),
        "[GENERAL]\nHarvixFilter=0\n" + std::string(kJpegItem),
        "[GENERAL]\nHarvixFilter=yes\n" + std::string(kJpegItem),
        "[OTHER]\nHarvixFilter=1\n" + std::string(kJpegItem),
        junk,
    };
    for (const std::string& text : texts) {
        const fs::path path = Flt(text);
        const std::optional<FilterLoadError> failed = filter_.loadFile(path.string(), When());
        ASSERT_TRUE(failed.has_value()) << text.substr(0, 40);
        EXPECT_EQ(failed->kind, FilterLoadError::Kind::NotAFilterFile);
        EXPECT_TRUE(filter_.items.empty());
        EXPECT_EQ(filter_.hint, "");
        EXPECT_EQ(filter_.fileName, path.string());
    }
    // A file that cannot be read says so, with the reason.
    for (const fs::path& unreadable : {Dir("missing.flt"), dir_.path()}) {
        const std::optional<FilterLoadError> failed = filter_.loadFile(unreadable.string(), When());
        ASSERT_TRUE(failed.has_value()) << unreadable;
        EXPECT_EQ(failed->kind, FilterLoadError::Kind::Unreadable);
        EXPECT_FALSE(failed->reason.empty());
    }

    // Junk around a valid file does not hide what is valid.
    ASSERT_TRUE(load(Flt(junk + "\n[GENERAL]\nHarvixFilter=1\n" + kJpegItem + junk)));
    EXPECT_EQ(filter_.items.size(), 1u);
}

TEST_F(FilterFileTest, AnEmptyPathReloadsTheCurrentFile) {
    const fs::path path = Flt(std::string("[GENERAL]\nHarvixFilter=1\n") + kJpegItem);
    ASSERT_TRUE(load(path));
    filter_.items.clear();
    ASSERT_FALSE(filter_.loadFile("", When()));
    EXPECT_EQ(filter_.items.size(), 1u);
    EXPECT_EQ(filter_.fileName, path.string());
}

TEST_F(FilterFileTest, AHugeFileLoadsQuicklyAndAtMostTheItemLimit) {
    std::string text(2'000'000, '\n');  // a long run of empty lines first
    text += "[GENERAL]\nHarvixFilter=1\n";
    for (int i = 0; i < 12000; ++i) {
        text += "[FILTER_" + std::to_string(i) + "]\nContentType=1\nDirectory=/d\n";
    }
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(load(Flt(text)));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(filter_.items.size(), FilterSet::kMaxItems);
    EXPECT_EQ(filter_.itemsLeftOut, 2000u);  // told, not silent
    // A sanitized debug build makes every allocation many times slower; a
    // reading whose time grows with the square of the file still shows.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    EXPECT_LT(took, std::chrono::seconds(60));
#else
    EXPECT_LT(took, std::chrono::seconds(10));
#endif
}

TEST_F(FilterFileTest, AFailedSaveKeepsTheOldFile) {
    const std::string old = std::string("[GENERAL]\nHarvixFilter=1\n") + kJpegItem;
    const fs::path path = Flt(old);
    addItem("/y");
    setAtomicWriteFailureForTesting(10);
    const std::optional<ErrorReport> failed = filter_.saveFile(path.string());
    setAtomicWriteFailureForTesting(-1);
    ASSERT_TRUE(failed.has_value());
    EXPECT_EQ(failed->kind(), ErrorReport::FileWrite);
    EXPECT_EQ(readFile(path), old);
    const std::string missing = Dir("no/such/folder/x.flt").string();
    const std::optional<ErrorReport> noFolder = filter_.saveFile(missing);
    ASSERT_TRUE(noFolder.has_value());
    EXPECT_EQ(noFolder->path(), missing);
    EXPECT_EQ(noFolder->systemError(), ENOENT);
}

TEST_F(FilterFileTest, DateTimeAndHomeExpansion) {
    const auto expand = [&](std::string& text) {
        FilterSet::expandDateTime(text, When(), filter_.homeFolder);
    };
    std::string text = "/a/%DATE%/%DATE%/%TIME%/%TIME%";
    expand(text);
    EXPECT_EQ(text, "/a/05.03.2024/%DATE%/14 07 09/%TIME%");

    text = "~/HX_FILES/%DATE%";
    expand(text);
    EXPECT_EQ(text, (fake_.home / "HX_FILES" / "05.03.2024").string());
    filter_.homeFolder = "/home/slash/";
    text = "~/x";
    expand(text);
    EXPECT_EQ(text, "/home/slash/x");
    text = "/a/~/b";  // only a leading ~/ is the home folder
    expand(text);
    EXPECT_EQ(text, "/a/~/b");
    text = "~user/x";
    expand(text);
    EXPECT_EQ(text, "~user/x");
}

TEST_F(FilterFileTest, ListOperationsKeepPositionsInStep) {
    auto names = [&] {
        std::string out;
        for (const auto& item : filter_.items) {
            EXPECT_EQ(item->position, &item - &filter_.items[0]);
            out += item->stem;
        }
        return out;
    };
    addItem("/x", 0, "a");
    addItem("/x", 0, "c");
    auto* b = new FilterItem();
    b->stem = "b";
    b->url = "p, q";
    EXPECT_EQ(filter_.insertItem(b, 1), b);
    EXPECT_EQ(b->urlParts.size(), 2u);
    filter_.insertItem(nullptr, 3)->stem = "d";  // index == size: appended
    filter_.insertItem(nullptr, 99)->stem = "e";
    filter_.insertItem(nullptr, 0)->stem = "0";
    EXPECT_EQ(names(), "0abcde");

    EXPECT_EQ(filter_.moveItemUp(0), 0u);
    EXPECT_EQ(filter_.moveItemDown(5), 5u);
    EXPECT_EQ(filter_.moveItemDown(77), 77u);
    EXPECT_EQ(names(), "0abcde");
    EXPECT_EQ(filter_.moveItemUp(2), 1u);
    EXPECT_EQ(filter_.moveItemDown(3), 4u);
    EXPECT_EQ(names(), "0badce");

    EXPECT_FALSE(filter_.removeItem(6));
    EXPECT_TRUE(filter_.removeItem(0));
    EXPECT_EQ(names(), "badce");
    filter_.hint = "h";
    filter_.fileName = "kept";
    filter_.clear();
    EXPECT_TRUE(filter_.items.empty());
    EXPECT_EQ(filter_.hint, "");
    EXPECT_EQ(filter_.fileName, "kept");
}

TEST_F(FilterFileTest, AnEarlierItemOfAWiderTypeIsFoundWhenItTakesTheEntriesFirst) {
    const auto item = [&](int32_t type, const std::string& url) {
        FilterItem made;
        made.contentType = type;
        made.url = url;
        made.parseUrl(filter_);
        return made;
    };
    FilterItem& pictures = addItem("/x", codeOf(ContentType::Pictures));
    addItem("/x", codeOf(ContentType::Jpg)).url = "cdn";
    filter_.items[1]->parseUrl(filter_);
    const FilterItem webp = item(codeOf(ContentType::Webp), "");
    EXPECT_EQ(filter_.earlierItemTaking(webp, 2), 0);
    EXPECT_EQ(filter_.earlierItemTaking(webp, 0), -1);  // first: nothing before it
    // The same type with a URL part that lies inside each of the item's.
    pictures.disabled = true;
    EXPECT_EQ(filter_.earlierItemTaking(item(codeOf(ContentType::Jpg), "cdn.site, img.cdn"), 2), 1);
    EXPECT_EQ(filter_.earlierItemTaking(item(codeOf(ContentType::Jpg), "cdn.site, other"), 2), -1);
    EXPECT_EQ(filter_.earlierItemTaking(item(codeOf(ContentType::Jpg), ""), 2), -1);
    // A narrower earlier type, or another group, takes only some entries.
    pictures.disabled = false;
    EXPECT_EQ(filter_.earlierItemTaking(item(codeOf(ContentType::Videos), ""), 2), -1);
    EXPECT_EQ(filter_.earlierItemTaking(item(codeOf(ContentType::All), ""), 2), -1);
    EXPECT_EQ(filter_.earlierItemTaking(item(codeOf(ContentType::Mp4), ""), 2), -1);
    addItem("/x", codeOf(ContentType::All));
    EXPECT_EQ(filter_.earlierItemTaking(item(codeOf(ContentType::Mp4), "x"), 3), 2);
}

TEST_F(FilterFileTest, UrlPartsDropBlanksAndEmptyParts) {
    FilterItem item;
    const struct {
        const char* url;
        std::vector<std::string> parts;
    } cases[] = {
        {"a.com, b .net,,c", {"a.com", "b.net", "c"}},
        {"", {}},
        {" \t , ,, ", {}},
        {"Example.COM", {"Example.COM"}},
        {",x,", {"x"}},
    };
    for (const auto& c : cases) {
        item.url = c.url;
        item.parseUrl(filter_);
        EXPECT_EQ(item.urlParts, c.parts) << c.url;
    }
}

TEST_F(FilterFileTest, TheShippedDefaultFilterLoads) {
    ASSERT_TRUE(load(fs::path(HARVIX_SOURCE_DIR) / "resources" / "Filters" / "Default.flt"));
    ASSERT_FALSE(filter_.items.empty());
    for (const auto& item : filter_.items) {
        EXPECT_EQ(item->directoryTemplate.rfind("~/HX_FILES/%DATE%", 0), 0u);
        EXPECT_EQ(item->directory.rfind((fake_.home / "HX_FILES" / "05.03.2024").string(), 0), 0u);
        EXPECT_TRUE(FilterSet::isValidTargetPath(item->directory, fake_));
    }
}

}  // namespace

}  // namespace harvix
