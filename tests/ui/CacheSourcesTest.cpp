// The caches the cache window offers, over a home folder of Firefox and
// Chromium profiles, their service-worker caches and a desktop app: one
// source per cache found, each reading only its own cache.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QSignalSpy>
#include <cstdlib>
#include <optional>

#include "Cache2Writer.h"
#include "ChromeCacheWriter.h"
#include "DomCacheWriter.h"
#include "app/LanguageTexts.h"
#include "app/Settings.h"
#include "engine/Browsers.h"
#include "platform/Path.h"
#include "support/TestSupport.h"
#include "ui/CacheEntryModel.h"
#include "ui/CacheLoader.h"
#include "ui/CacheSources.h"
#include "ui/CacheWindow.h"

namespace harvix {

namespace {

// Sets an environment variable for the life of the object.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnvironment() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

void writeCache2(const fs::path& cache2, const std::string& site, int count) {
    for (int i = 0; i < count; ++i) {
        mozcache::Cache2Entry entry;
        entry.key = ":http://" + site + "/" + std::to_string(i) + ".css";
        entry.body = "body { }";
        entry.elements =
            mozcache::cache2HttpElements("HTTP/1.1 200 OK\r\nContent-Type: text/css\r\n");
        mozcache::writeCache2Entry(cache2, entry);
    }
}

// One source per cache found, each reading its own cache only: Firefox's
// profiles of profiles.ini (the one in use first, one with no cache at all
// left out, one with service-worker caches only offered those), each
// Chromium profile and its service-worker caches, each desktop app, and the
// folder the options remember once, when no profile gave it.
TEST(CacheSources, EveryProfileIsASourceOfItsOwn) {
    TempDir dir;
    FakePlatform platform;
    platform.home = dir.path() / "home";
    platform.localAppData = platform.home / ".cache";
    platform.winePrefixPath = dir.path() / "no-wine";
    ScopedPlatform scoped(platform);
    ScopedEnvironment config("XDG_CONFIG_HOME", (platform.home / ".config").string());
    writeFile(platform.home / ".config" / "mozilla" / "firefox" / "profiles.ini",
              "[Profile1]\nName=default\nIsRelative=1\nPath=a1.default\nDefault=1\n\n"
              "[Profile0]\nName=default-esr\nIsRelative=1\nPath=b2.default-esr\n\n"
              "[Profile2]\nName=empty\nIsRelative=1\nPath=c3.empty\n\n"
              "[Profile3]\nName=sites\nIsRelative=1\nPath=d4.sites\n\n"
              "[Install3B6073811A6ABF12]\nDefault=b2.default-esr\nLocked=1\n");
    mozcache::DomCacheRecord page;
    page.url = "https://d.example/a.png";
    page.contentType = "image/png";
    page.body = "png";
    mozcache::writeDomCacheStore(platform.home / ".config/mozilla/firefox/d4.sites",
                                 "https+++d.example", {page, page});
    const fs::path mozilla = platform.localAppData / "mozilla" / "firefox";
    writeCache2(mozilla / "a1.default" / "cache2", "a.example", 3);
    writeCache2(mozilla / "b2.default-esr" / "cache2", "b.example", 5);
    fs::create_directories(mozilla / "c3.empty");
    const fs::path chromium = platform.localAppData / "chromium";
    chromecache::writeSimpleCache(chromium / "Default" / "Cache" / "Cache_Data",
                                  chromecache::syntheticEntries(2, 64, 1));
    chromecache::writeSimpleCache(chromium / "Profile 1" / "Cache" / "Cache_Data",
                                  chromecache::syntheticEntries(4, 64, 2));
    chromecache::Entry stored;
    stored.key = "https://e.example/e.png";
    stored.stream0 = chromecache::protoField(1, chromecache::protoField(1, "GET")) +
                     chromecache::protoField(2, chromecache::protoNumber(1, 200));
    stored.body = "png";
    chromecache::writeSimpleCache(platform.home /
                                      ".config/chromium/Default/Service Worker/"
                                      "CacheStorage/0123456789abcdef0123456789abcdef01234567/"
                                      "aaaaaaaa-1111-4222-8333-444444444444",
                                  {stored});
    chromecache::writeSimpleCache(platform.home / ".config/Slack/Cache/Cache_Data",
                                  chromecache::syntheticEntries(6, 64, 3));

    Settings settings;
    settings.MozillaCachePath = pathToUtf8(mozilla / "a1.default");  // a profile's: once
    std::vector<CacheSource> sources = findCacheSources(settings, LanguageTexts());
    QStringList labels;
    for (const CacheSource& source : sources) {
        labels << source.label();
    }
    const QString firefox = QString::fromStdString(browserTable()[0].displayName);
    const QString dash = QStringLiteral(" \u2014 ");
    const QString workers =
        QStringLiteral(" (") +
        QString::fromStdString(LanguageTexts().byKey("BrowseServiceWorkerCaches")) +
        QStringLiteral(")");
    EXPECT_EQ(labels,
              (QStringList{firefox + dash + "default-esr", firefox + dash + "default",
                           firefox + dash + "sites" + workers, "Chromium" + dash + "Default",
                           "Chromium" + dash + "Profile 1", "Chromium" + dash + "Default" + workers,
                           "Desktop apps" + dash + "Slack"}));
    ASSERT_EQ(sources.size(), 7u);
    EXPECT_EQ(sources[0].folder,
              QString::fromStdString(pathToUtf8(mozilla / "b2.default-esr" / "cache2")));

    // A remembered folder of a cache no profile gave comes last.
    writeCache2(dir.path() / "saved" / "cache2", "s.example", 1);
    settings.MozillaCachePath = pathToUtf8(dir.path() / "saved");
    sources = findCacheSources(settings, LanguageTexts());
    ASSERT_EQ(sources.size(), 8u);
    EXPECT_EQ(sources[3].label(), firefox + dash + "saved");

    LanguageTexts texts;
    CacheWindow window(std::move(sources), texts, QStringLiteral("file"), true);
    ASSERT_EQ(window.browserPicker()->count(), 3);
    EXPECT_EQ(window.profilePicker()->count(), 4);
    EXPECT_EQ(window.profilePicker()->toolTip(),
              window.profilePicker()->itemData(0, Qt::ToolTipRole));
    QSignalSpy finished(window.loader(), &CacheLoader::finished);
    const int rows[] = {5, 3, 2, 1, 2, 4, 1, 6};
    for (int source = 0; source < 8; ++source) {
        window.readSource(source);
        ASSERT_TRUE(finished.wait(20000));
        EXPECT_EQ(finished.takeFirst().at(1).toString(), QString());
        EXPECT_EQ(window.model()->rowCount(), rows[source]) << "source " << source;
    }
}

}  // namespace

}  // namespace harvix
