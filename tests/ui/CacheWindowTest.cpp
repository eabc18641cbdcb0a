// The cache window over a written Firefox cache of 20,000 entries: rows
// arrive in batches while the window keeps handling events, Cancel stops a
// reader in the middle of its reading, every column sorts, the search field
// and the type filter narrow the rows, the preview draws a picture and shows
// a gzip-encoded script decoded, and two selected entries are saved byte for
// byte (the script decoded, as a comb keeps it).
#include <gtest/gtest.h>

#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <zlib.h>

#include <chrono>
#include <map>
#include <thread>

#include "CacheWriter.h"
#include "GuiTestSupport.h"
#include "Pictures.h"
#include "app/LanguageTexts.h"
#include "app/Settings.h"
#include "engine/Browsers.h"
#include "platform/Platform.h"
#include "readers/CacheReader.h"
#include "readers/FirefoxCacheReader.h"
#include "support/TestSupport.h"
#include "ui/CacheEntryModel.h"
#include "ui/CacheLoader.h"
#include "ui/CacheWindow.h"
#include "ui/EntryPreview.h"
#include "ui/EntrySaver.h"

namespace harvix {

namespace {

mozcache::Entry httpEntry(const std::string& url, const std::string& data, const std::string& type,
                          uint32_t modified, const std::vector<std::string>& more = {}) {
    mozcache::Entry entry;
    entry.key = "HTTP:" + url;
    entry.data = data;
    std::vector<std::string> head = {"Content-Type: " + type};
    head.insert(head.end(), more.begin(), more.end());
    entry.values = mozcache::responseValues(mozcache::ResponseHead(head));
    entry.lastModified = modified;
    return entry;
}

constexpr int kEntries = 20000;

std::string gzip(const std::string& text) {
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(deflateBound(&stream, static_cast<uLong>(text.size())) + 32, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// The old Firefox format keeps no Content-Encoding of its own; the cache2
// and Chromium readers take it from the stored response head. This reader
// says it for the URL it is given, so that the window meets an encoded body.
class GzipFirefoxReader : public FirefoxCacheReader {
public:
    GzipFirefoxReader(const std::string& folder, std::string gzipUrl)
        : FirefoxCacheReader(folder), gzipUrl_(std::move(gzipUrl)) {}
    BodySource bodySource(const CacheEntry& entry) const override {
        BodySource source = FirefoxCacheReader::bodySource(entry);
        if (entry.url == gzipUrl_) {
            source.encoding = ContentEncoding::Gzip;
        }
        return source;
    }

private:
    std::string gzipUrl_;
};

// A cache that would take minutes to read: entries trickle in until the
// reading watch says stop.
class EndlessReader : public CacheReader {
public:
    static constexpr uint32_t kRecords = 2'000'000;

    void open() override { root_ = fs::temp_directory_path(); }
    void readEntries(std::vector<std::unique_ptr<CacheEntry>>& out, SkipCounts&) override {
        for (uint32_t i = 0; i < kRecords && keepReading(out); ++i) {
            auto entry = std::make_unique<CacheEntry>();
            entry->url = "http://slow.example/" + std::to_string(i);
            entry->size = 1;
            out.push_back(std::move(entry));
            if (i % 64 == 63) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    }
    BodySource bodySource(const CacheEntry& entry) const override {
        throw ErrorReport(ErrorReport::MozillaCache, ErrorReport::FileRead, entry.url);
    }
};

QPushButton* buttonNamed(QWidget& window, const std::string& text) {
    for (QPushButton* button : window.findChildren<QPushButton*>()) {
        if (button->text() == QString::fromStdString(text)) {
            return button;
        }
    }
    return nullptr;
}

// Selects the rows the search shows now.
void selectAllShown(CacheWindow& window) {
    window.table()->clearSelection();
    window.table()->selectAll();
}

void showOnly(CacheWindow& window, const QString& text) {
    window.searchField()->setText(text);
    QCoreApplication::processEvents();
}

TEST(CacheWindow, BrowsesTwentyThousandEntriesPreviewsAndSaves) {
    TempDir dir;
    const fs::path cache = dir.path() / "Cache";
    const std::string png = mozcache::makePng(64, 48, 7);
    const std::string script = "function hello() {\n  return 'cached script';\n}\n";
    {
        mozcache::CacheWriter writer(cache);
        for (int i = 0; i < kEntries - 2; ++i) {
            const bool css = i % 3 == 0;
            writer.add(httpEntry("http://host" + std::to_string(i % 50) + ".example/f" +
                                     std::to_string(i) + (css ? ".css" : ".html"),
                                 std::string(static_cast<std::size_t>(20 + (i * 37) % 300), 'x'),
                                 css ? "text/css" : "text/html", 1600000000u + uint32_t(i)));
        }
        writer.add(httpEntry("http://keep.example/photo.png", png, "image/png", 1500000000u));
        writer.add(httpEntry("http://keep.example/app.js", gzip(script), "application/javascript",
                             1500000001u, {"Content-Encoding: gzip"}));
    }

    const std::string folder = cache.string();
    std::vector<CacheSource> sources = {
        {QStringLiteral("Firefox"), QStringLiteral("test.default"),
         [folder] {
             return std::make_unique<GzipFirefoxReader>(folder, "http://keep.example/app.js");
         },
         QString::fromStdString(folder)},
        {QStringLiteral("Slow"), QStringLiteral("endless"),
         [] { return std::make_unique<EndlessReader>(); }, QString()}};
    LanguageTexts texts;
    CacheWindow window(std::move(sources), texts, QStringLiteral("kept"), true);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    // A reading cancelled at once ends without rows.
    QSignalSpy finished(window.loader(), &CacheLoader::finished);
    window.readSource(1);
    window.loader()->cancel();
    ASSERT_TRUE(finished.wait(5000));
    EXPECT_TRUE(finished.first().at(0).toBool());
    EXPECT_EQ(window.model()->rowCount(), 0);
    finished.clear();

    // Rows of a reading that would take minutes arrive while it reads, and
    // Cancel stops the reader itself at once; the rows read stay.
    QSignalSpy added(window.loader(), &CacheLoader::entriesAdded);
    window.readSource(1);
    ASSERT_TRUE(added.wait(5000));
    QElapsedTimer clock;
    clock.start();
    ASSERT_NE(buttonNamed(window, texts.Cancel), nullptr);
    buttonNamed(window, texts.Cancel)->click();
    ASSERT_TRUE(finished.wait(5000));
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_TRUE(finished.first().at(0).toBool());
    EXPECT_GT(window.model()->rowCount(), 0);
    EXPECT_LT(window.model()->rowCount(), static_cast<int>(EndlessReader::kRecords));
    EXPECT_FALSE(window.loader()->running());
    finished.clear();

    // The next pick reads all of its cache.

    // Rows arrive in batches while the event loop keeps running.
    int batches = 0;
    QObject::connect(window.model(), &QAbstractItemModel::rowsInserted, [&] { ++batches; });
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(1);
    window.readSource(0);
    EXPECT_TRUE(window.loader()->running());
    ASSERT_TRUE(finished.wait(60000));
    ticker.stop();
    EXPECT_EQ(finished.first().at(1).toString(), QString());
    EXPECT_EQ(window.model()->rowCount(), kEntries);
    EXPECT_GE(batches, kEntries / static_cast<int>(CacheLoader::kBatchSize));
    EXPECT_GT(ticks, 0);

    // Every column sorts; size and time as numbers, not as texts.
    QAbstractItemModel* shown = window.table()->model();
    for (int column = 0; column < CacheEntryModel::ColumnCount; ++column) {
        window.table()->sortByColumn(column, Qt::DescendingOrder);
        for (int row = 1; row < shown->rowCount(); ++row) {
            const QVariant a = shown->index(row - 1, column).data(CacheEntryModel::SortRole);
            const QVariant b = shown->index(row, column).data(CacheEntryModel::SortRole);
            ASSERT_FALSE(QVariant::compare(a, b) == QPartialOrdering::Less)
                << "column " << column << " row " << row;
        }
    }
    window.table()->sortByColumn(CacheEntryModel::SizeColumn, Qt::AscendingOrder);
    EXPECT_EQ(shown->index(0, CacheEntryModel::SizeColumn).data(CacheEntryModel::SortRole),
              QVariant::fromValue<qulonglong>(20));

    // The type filter and the search field.
    window.typeFilter()->setCurrentIndex(window.typeFilter()->findText(QStringLiteral("css")));
    EXPECT_EQ(shown->rowCount(), (kEntries - 2 + 2) / 3);
    window.typeFilter()->setCurrentIndex(window.typeFilter()->findText(QStringLiteral("pictures")));
    EXPECT_EQ(shown->rowCount(), 1);
    window.typeFilter()->setCurrentIndex(window.typeFilter()->findText(QStringLiteral("all")));
    showOnly(window, QStringLiteral("KEEP.example"));
    ASSERT_EQ(shown->rowCount(), 2);

    // Preview of the picture, then of the script.
    showOnly(window, QStringLiteral("photo.png"));
    ASSERT_EQ(shown->rowCount(), 1);
    window.table()->selectRow(0);
    EXPECT_EQ(window.preview()->picture().size(), QSize(64, 48));
    showOnly(window, QStringLiteral("app.js"));
    window.table()->selectRow(0);
    EXPECT_TRUE(window.preview()->picture().isNull());
    EXPECT_TRUE(window.preview()->text().contains(QStringLiteral("cached script")))
        << window.preview()->text().toStdString();

    // Two selected entries saved byte for byte; again: Skip Duplicates
    // leaves no second copy.
    showOnly(window, QStringLiteral("keep.example"));
    selectAllShown(window);
    ASSERT_EQ(window.selectedEntries().size(), 2u);
    const fs::path out = dir.path() / "out";
    QSignalSpy saves(&window, &CacheWindow::saveFinished);
    ASSERT_TRUE(window.saveSelectedTo(QString::fromStdString(out.string())));
    ASSERT_TRUE(saves.wait(20000));
    EXPECT_EQ(saves.last().at(0).toInt(), 2);
    EXPECT_EQ(readFile(out / "kept0.js"), script);
    EXPECT_EQ(readFile(out / "kept1.png"), png);
    ASSERT_TRUE(window.saveSelectedTo(QString::fromStdString(out.string())));
    ASSERT_TRUE(saves.wait(20000));
    EXPECT_EQ(saves.last().at(0).toInt(), 0);
    EXPECT_TRUE(window.statusText().contains(QStringLiteral("2")))
        << window.statusText().toStdString();
    EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 2);

    // Export as Web Archive writes the same two, on the worker, never over
    // a file: the second export to the name writes nothing.
    QSignalSpy exports(&window, &CacheWindow::exportFinished);
    const QString archive = QString::fromStdString((dir.path() / "two.warc").string());
    ASSERT_TRUE(window.exportSelectedTo(archive));
    ASSERT_TRUE(exports.wait(20000));
    EXPECT_EQ(exports.last().at(0).toString(), archive) << window.statusText().toStdString();
    EXPECT_EQ(exports.last().at(1).toULongLong(), 2u);
    const std::string written = readFile(dir.path() / "two.warc");
    EXPECT_EQ(written.rfind("WARC/1.1", 0), 0u);
    ASSERT_TRUE(window.exportSelectedTo(archive));
    ASSERT_TRUE(exports.wait(20000));
    EXPECT_TRUE(exports.last().at(0).toString().isEmpty());
    EXPECT_EQ(readFile(dir.path() / "two.warc"), written);

    // The header's menu shows the columns hidden at first: the status.
    QMenu* columns = window.columnMenu();
    ASSERT_EQ(columns->actions().size(), CacheEntryModel::ColumnCount - 1);
    EXPECT_TRUE(window.table()->isColumnHidden(CacheEntryModel::StatusColumn));
    columns->actions()[CacheEntryModel::StatusColumn - 1]->trigger();
    EXPECT_FALSE(window.table()->isColumnHidden(CacheEntryModel::StatusColumn));
    EXPECT_EQ(shown->index(0, CacheEntryModel::StatusColumn).data().toString(),
              QStringLiteral("200"));
    // The decoded size: the stored size of a body stored as sent, empty for
    // one stored encoded (known only by decoding it).
    EXPECT_TRUE(window.table()->isColumnHidden(CacheEntryModel::DecodedSizeColumn));
    columns->actions()[CacheEntryModel::DecodedSizeColumn - 1]->trigger();
    EXPECT_FALSE(window.table()->isColumnHidden(CacheEntryModel::DecodedSizeColumn));
    std::map<QString, QVariant> decoded;
    for (int row = 0; row < shown->rowCount(); ++row) {
        decoded[shown->index(row, CacheEntryModel::UrlColumn).data().toString()] =
            shown->index(row, CacheEntryModel::DecodedSizeColumn).data(CacheEntryModel::SortRole);
    }
    EXPECT_EQ(decoded.size(), 2u);
    EXPECT_EQ(decoded[QStringLiteral("http://keep.example/photo.png")],
              QVariant::fromValue<qlonglong>(static_cast<qlonglong>(png.size())));
    // The choice, as the settings keep it, shows the same columns again.
    const QString chosen = window.shownColumns();
    EXPECT_EQ(chosen, QStringLiteral("Url,Type,Size,DecodedSize,Time,DataFile,Status"));
    window.showColumns(QStringLiteral("Url,Expires,NoSuchColumn"));
    EXPECT_TRUE(window.table()->isColumnHidden(CacheEntryModel::SizeColumn));
    EXPECT_FALSE(window.table()->isColumnHidden(CacheEntryModel::ExpiresColumn));
    window.showColumns(chosen);
    EXPECT_EQ(window.shownColumns(), chosen);
    EXPECT_EQ(decoded[QStringLiteral("http://keep.example/app.js")],
              QVariant::fromValue<qlonglong>(-1));

    // "Make filter item" hands the host and the type on.
    showOnly(window, QStringLiteral("photo.png"));
    window.table()->selectRow(0);
    QSignalSpy item(&window, &CacheWindow::filterItemRequested);
    buttonNamed(window, texts.BrowseMakeFilterItem)->click();
    ASSERT_EQ(item.size(), 1);
    EXPECT_EQ(item.first().at(0).toString(), QStringLiteral("keep.example"));
    EXPECT_EQ(item.first().at(1).toInt(), 3);
}

// Entries of one data file, each four bytes of its own, whose copy takes a
// while.
class SlowDiskReader : public CacheReader {
public:
    static constexpr uint32_t kEntries = 2000;

    void open() override {
        root_ = folder_.path();
        std::string data;
        for (uint32_t i = 0; i < kEntries; ++i) {
            data.append(reinterpret_cast<const char*>(&i), 4);
        }
        writeFile(root_ / "data", data);
    }
    void readEntries(std::vector<std::unique_ptr<CacheEntry>>& out, SkipCounts&) override {
        for (uint32_t i = 0; i < kEntries; ++i) {
            auto entry = std::make_unique<CacheEntry>();
            entry->url = "http://disk.example/" + std::to_string(i);
            entry->size = 4;
            entry->index = i;
            out.push_back(std::move(entry));
        }
    }
    BodySource bodySource(const CacheEntry& entry) const override {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        BodySource source;
        source.file = root_ / "data";
        source.offset = uint64_t{4} * entry.index;
        source.length = 4;
        return source;
    }

private:
    TempDir folder_;
};

// Save Selected works on a worker: the window counts, and Cancel stops the
// save, which keeps what it saved. The window's texts follow the language.
TEST(CacheWindow, SavingCountsAndCancelKeepsWhatWasSaved) {
    TempDir dir;
    std::vector<CacheSource> sources = {{QStringLiteral("Slow"), QStringLiteral("disk"),
                                         [] { return std::make_unique<SlowDiskReader>(); },
                                         QString()}};
    LanguageTexts texts;
    CacheWindow window(std::move(sources), texts, QStringLiteral("s"), true);
    QSignalSpy finished(window.loader(), &CacheLoader::finished);
    window.readSource(0);
    ASSERT_TRUE(finished.wait(20000));
    selectAllShown(window);
    ASSERT_EQ(window.selectedEntries().size(), SlowDiskReader::kEntries);

    const QString out = QString::fromStdString((dir.path() / "out").string());
    QSignalSpy progressed(window.saver(), &EntrySaver::progressed);
    QSignalSpy saves(&window, &CacheWindow::saveFinished);
    ASSERT_TRUE(window.saveSelectedTo(out));
    EXPECT_FALSE(window.saveSelectedTo(out));  // one save at a time
    EXPECT_EQ(window.statusText(), QStringLiteral("Saving: 0 of 2000"));
    ASSERT_TRUE(progressed.wait(10000));
    ASSERT_NE(buttonNamed(window, texts.Cancel), nullptr);
    buttonNamed(window, texts.Cancel)->click();
    ASSERT_TRUE(saves.wait(10000));
    const int saved = saves.first().at(0).toInt();
    EXPECT_GT(saved, 0);
    EXPECT_LT(saved, static_cast<int>(SlowDiskReader::kEntries));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path() / "out"), fs::directory_iterator()),
              saved);
    EXPECT_TRUE(window.statusText().endsWith(QString::fromStdString(texts.BrowseSaveCancelled)))
        << window.statusText().toStdString();
    EXPECT_FALSE(window.saver()->running());

    LanguageTexts german;
    Settings settings;
    settings.Language = (fs::path(HARVIX_SOURCE_DIR) / "resources/Langs/German.lng").string();
    loadLanguage(german, settings);
    window.applyTexts(german);
    EXPECT_NE(buttonNamed(window, german.BrowseRead), nullptr);
    EXPECT_NE(buttonNamed(window, german.BrowseSaveSelected), nullptr);
    EXPECT_TRUE(window.windowTitle().startsWith(QString::fromStdString(german.BrowseCache)));
    EXPECT_EQ(window.model()->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(),
              QString::fromStdString(german.FilterListURL));
}

// A cache that cannot be opened ends the reading with the reason and no rows.
TEST(CacheWindow, AMissingCacheEndsTheReadingWithTheReason) {
    TempDir dir;
    const std::string missing = (dir.path() / "nothing").string();
    std::vector<CacheSource> sources = {
        {QStringLiteral("Firefox"), QStringLiteral("gone"),
         [missing] { return browserByWord("firefox")->readerAt(platformServices(), missing); },
         QString()}};
    LanguageTexts texts;
    CacheWindow window(std::move(sources), texts, QStringLiteral("file"), true);
    QSignalSpy finished(window.loader(), &CacheLoader::finished);
    window.readSource(0);
    ASSERT_TRUE(finished.wait(20000));
    EXPECT_FALSE(finished.first().at(1).toString().isEmpty());
    EXPECT_EQ(window.model()->rowCount(), 0);
    EXPECT_FALSE(window.loader()->running());
}

// The cache window with a picture in the preview, for the manual.
TEST(Screenshots, CacheWindowWithAPreview) {
    TempDir dir;
    const fs::path cache = dir.path() / "Cache";
    {
        mozcache::CacheWriter writer(cache);
        const char* pages[][3] = {
            {"https://www.example.org/", "text/html; charset=utf-8", "<!DOCTYPE html>"},
            {"https://www.example.org/style/site.css", "text/css", "body { margin: 0 }"},
            {"https://static.example.net/js/app.js", "application/javascript", "let a = 1;"},
            {"https://news.example.com/feed.xml", "application/rss+xml", "<rss/>"},
            {"https://fonts.example.net/inter.css", "text/css", "@font-face {}"}};
        uint32_t time = 1733650000;
        for (const auto& page : pages) {
            writer.add(httpEntry(page[0], std::string(page[2]) + std::string(900, ' '), page[1],
                                 time += 97));
        }
        const char* pictures[][2] = {{"https://photos.example.com/2024/harbour.png", "png"},
                                     {"https://photos.example.com/2024/lighthouse.jpg", "jpeg"},
                                     {"https://www.example.org/logo.gif", "gif"},
                                     {"https://www.example.org/favicon.ico", "ico"},
                                     {"https://cdn.example.net/banner.png", "png"}};
        uint32_t seed = 3;
        for (const auto& picture : pictures) {
            const std::string format = picture[1];
            const int width = format == "ico" ? 32 : 320 + int(seed) * 16;
            writer.add(httpEntry(picture[0],
                                 mozcache::makePicture(format, width, width * 2 / 3, seed++),
                                 "image/" + format, time += 131));
        }
    }
    const std::string folder = cache.string();
    const QString firefox = QString::fromStdString(browserTable()[0].displayName);
    std::vector<CacheSource> sources = {
        {firefox, QStringLiteral("default-esr"),
         [folder] { return browserByWord("firefox")->readerAt(platformServices(), folder); },
         QString::fromStdString(folder)},
        {firefox, QStringLiteral("default-release"), [] { return nullptr; },
         QStringLiteral("~/.cache/mozilla/firefox/p7wq.default-release/cache2")},
        {QStringLiteral("Chromium"), QStringLiteral("Default"), [] { return nullptr; },
         QStringLiteral("~/.cache/chromium/Default/Cache/Cache_Data")}};
    LanguageTexts texts;
    CacheWindow window(std::move(sources), texts, QStringLiteral("file"), true);
    window.resize(1100, 560);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QSignalSpy finished(window.loader(), &CacheLoader::finished);
    window.readSource(0);
    ASSERT_TRUE(finished.wait(20000));
    window.table()->sortByColumn(CacheEntryModel::TimeColumn, Qt::DescendingOrder);
    showOnly(window, QStringLiteral("example"));
    for (int row = 0; row < window.table()->model()->rowCount(); ++row) {
        if (window.table()->model()->index(row, 0).data().toString().endsWith(
                QStringLiteral("harbour.png"))) {
            window.table()->selectRow(row);
        }
    }
    ASSERT_FALSE(window.preview()->picture().isNull());
    QCoreApplication::processEvents();
    const QImage image = window.grab().toImage();
    EXPECT_TRUE(HasDrawing(image));
    EXPECT_TRUE(QFile::exists(SaveScreenshot(image, QStringLiteral("cache-window"))));
}

}  // namespace

}  // namespace harvix
