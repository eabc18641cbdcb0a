#include "engine/Browsers.h"

#include "platform/Text.h"
#include "readers/FirefoxCacheReader.h"
#include "readers/MsiecfUrlCache.h"
#include "readers/UrlCacheReader.h"

namespace harvix {

namespace {

std::unique_ptr<CacheReader> makeFirefoxReader(const std::string& location) {
    return std::make_unique<FirefoxCacheReader>(location);
}

// An index.dat file or a folder that holds one; empty: the Wine prefix's.
std::unique_ptr<CacheReader> makeUrlCacheReader(const std::string& location) {
    return std::make_unique<UrlCacheReader>(
        std::make_unique<MsiecfUrlCache>(pathFromUtf8(location)));
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
        row.watchSettingsKey = "Mozilla";
        row.icon = "button-comb-mozilla";
        row.hoverIcon = "button-comb-mozilla-hover";
        row.hasCacheFolderOption = true;
        row.makeReader = &makeFirefoxReader;
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

std::unique_ptr<CacheReader> makeBrowserReader(int kind, const std::string& location) {
    const BrowserRow* row = browserRow(kind);
    if (row == nullptr || !row->makeReader) {
        return nullptr;
    }
    return row->makeReader(location);
}

std::string readerCacheFolder(const CacheReader& reader) {
    return reader.cacheLocation();
}

}  // namespace harvix
