#include "engine/Browsers.h"

#include "platform/Path.h"
#include "platform/Platform.h"
#include "readers/FirefoxCacheReader.h"
#include "readers/MsiecfUrlCache.h"
#include "readers/UrlCacheReader.h"
#include "readers/cache2/FirefoxCache2Reader.h"
#include "readers/cache2/FirefoxDiscovery.h"
#include "readers/chromium/ChromiumCacheReader.h"

namespace harvix {

namespace {

// The reader of a Firefox cache folder that was found or named: a cache2
// folder gets the cache2 reader, a Cache folder with _CACHE_MAP_ the old one.
std::unique_ptr<CacheReader> firefoxReaderOf(const FirefoxCacheFolder& found) {
    if (found.format == FirefoxCacheFormat::Cache2) {
        return std::make_unique<FirefoxCache2Reader>(found.folder);
    }
    return std::make_unique<FirefoxCacheReader>(pathToUtf8(found.folder));
}

// Exactly the folder named: a folder without a cache of either format goes
// to the old reader, whose open reports the folder tried.
std::unique_ptr<CacheReader> makeFirefoxReaderAt(const std::string& folder) {
    const FirefoxCacheFolder found = classifyFirefoxFolder(pathFromUtf8(folder));
    if (found.format == FirefoxCacheFormat::None) {
        return std::make_unique<FirefoxCacheReader>(folder);
    }
    return firefoxReaderOf(found);
}

// The remembered folder while it holds a cache of either format; else (or
// with none remembered) the cache of the profile Firefox itself uses. When
// neither holds one, the remembered folder is the one reported.
std::unique_ptr<CacheReader> makeFirefoxReader(const std::string& location) {
    if (!location.empty()) {
        const FirefoxCacheFolder remembered = classifyFirefoxFolder(pathFromUtf8(location));
        if (remembered.format != FirefoxCacheFormat::None) {
            return firefoxReaderOf(remembered);
        }
    }
    FirefoxPlaces places = firefoxPlacesFromEnvironment(platformServices().homeFolder());
    places.cacheHome = platformServices().localAppDataFolder();
    const FirefoxCacheFolder found = findFirefoxCache(places);
    if (found.format == FirefoxCacheFormat::None) {
        return std::make_unique<FirefoxCacheReader>(location);
    }
    return firefoxReaderOf(found);
}

// An index.dat file or a folder that holds one; empty: the Wine prefix's.
std::unique_ptr<CacheReader> makeUrlCacheReader(const std::string& location) {
    return std::make_unique<UrlCacheReader>(
        std::make_unique<MsiecfUrlCache>(pathFromUtf8(location)));
}

// The Chromium family: one reader per member, by its word.
BrowserRow chromiumRow(const std::string& id, const std::string& displayName,
                       std::vector<std::string> processNames, const std::string& settingsKey,
                       std::vector<std::string> claims, std::vector<std::string> excludes = {}) {
    BrowserRow row;
    row.id = id;
    row.displayName = displayName;
    row.processNames = std::move(processNames);
    row.processClaims = std::move(claims);
    row.processExcludes = std::move(excludes);
    row.watchSettingsKey = settingsKey;
    row.makeReader = [id](const std::string& location) -> std::unique_ptr<CacheReader> {
        return std::make_unique<ChromiumCacheReader>(id, location);
    };
    return row;
}

std::vector<BrowserRow> makeTable() {
    std::vector<BrowserRow> rows;
    {
        BrowserRow row;
        row.id = "mozilla";
        row.aliases = {"firefox"};
        row.displayName = "Mozilla Firefox";
        // Firefox runs as firefox, firefox-esr or firefox-bin, and as
        // firefox.exe under Wine.
        row.processNames = {"firefox", "firefox-esr", "firefox-bin", "firefox.exe"};
        row.processClaims = {"/snap/firefox/", "org.mozilla.firefox"};
        row.watchSettingsKey = "Mozilla";
        row.icon = "button-comb-mozilla";
        row.hoverIcon = "button-comb-mozilla-hover";
        row.hasCacheFolderOption = true;
        row.makeReader = &makeFirefoxReader;
        row.makeReaderAt = &makeFirefoxReaderAt;
        rows.push_back(std::move(row));
    }
    {
        // Internet Explorer and Maxthon run under Wine and share one URL cache.
        BrowserRow row;
        row.id = "ie";
        row.displayName = "Microsoft Internet Explorer";
        row.processNames = {"iexplore.exe"};
        row.watchSettingsKey = "IE";
        row.icon = "button-comb-ie";
        row.hoverIcon = "button-comb-ie-hover";
        row.sharesCacheWith = {"maxthon"};
        row.makeReader = &makeUrlCacheReader;
        rows.push_back(std::move(row));
    }
    {
        BrowserRow row;
        row.id = "maxthon";
        row.displayName = "Maxthon";
        row.processNames = {"maxthon.exe"};
        row.watchSettingsKey = "Maxthon";
        row.icon = "button-comb-ie";
        row.hoverIcon = "button-comb-ie-hover";
        row.sharesCacheWith = {"ie"};
        row.makeReader = &makeUrlCacheReader;
        rows.push_back(std::move(row));
    }
    // Chromium and the browsers built on it; each has a cache of its own.
    // Fedora's Chromium runs as chromium-browser; Snap's is a binary named
    // chrome below /snap/chromium/, which is not Google Chrome.
    const std::vector<std::string> chromiumInstalls = {"/snap/chromium/", "org.chromium.Chromium"};
    rows.push_back(chromiumRow("chromium", "Chromium", {"chromium", "chromium-browser"},
                               "UseChromium", chromiumInstalls));
    rows.push_back(chromiumRow("chrome", "Google Chrome", {"chrome", "google-chrome"}, "UseChrome",
                               {"com.google.Chrome"}, chromiumInstalls));
    rows.push_back(
        chromiumRow("edge", "Microsoft Edge", {"msedge"}, "UseEdge", {"com.microsoft.Edge"}));
    rows.push_back(chromiumRow("brave", "Brave", {"brave"}, "UseBrave",
                               {"/snap/brave/", "com.brave.Browser"}));
    rows.push_back(chromiumRow("vivaldi", "Vivaldi", {"vivaldi-bin"}, "UseVivaldi",
                               {"/snap/vivaldi/", "com.vivaldi.Vivaldi"}));
    rows.push_back(
        chromiumRow("opera", "Opera", {"opera"}, "UseOpera", {"/snap/opera/", "com.opera.Opera"}));
    return rows;
}

}  // namespace

const std::vector<BrowserRow>& browserTable() {
    static const std::vector<BrowserRow> table = makeTable();
    return table;
}

int browserKindFromWord(const std::string& word) {
    const auto& table = browserTable();
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (table[i].id == word) {
            return static_cast<int>(i);
        }
        for (const std::string& alias : table[i].aliases) {
            if (alias == word) {
                return static_cast<int>(i);
            }
        }
    }
    return -1;
}

const BrowserRow* browserRow(int kind) {
    const auto& table = browserTable();
    return kind >= 0 && static_cast<std::size_t>(kind) < table.size()
               ? &table[static_cast<std::size_t>(kind)]
               : nullptr;
}

ProcessMatch processMatchOf(const BrowserRow& row) {
    return ProcessMatch{row.processNames, row.processClaims, row.processExcludes};
}

std::unique_ptr<CacheReader> makeBrowserReader(int kind, const std::string& location) {
    const BrowserRow* row = browserRow(kind);
    if (row == nullptr || !row->makeReader) {
        return nullptr;
    }
    return row->makeReader(location);
}

std::unique_ptr<CacheReader> makeBrowserReaderAt(int kind, const std::string& folder) {
    const BrowserRow* row = browserRow(kind);
    if (row == nullptr) {
        return nullptr;
    }
    return row->makeReaderAt ? row->makeReaderAt(folder) : makeBrowserReader(kind, folder);
}

std::string readerCacheFolder(const CacheReader& reader) {
    return reader.cacheLocation();
}

}  // namespace harvix
