// The browsers the program knows, as data: one row per browser. The comb
// coordinator, the browser monitors, harvix-cli's browser words and the
// front ends' buttons and options build themselves from this table, so
// adding a browser (or a cache format of one) is adding or extending a row.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/BrowserMonitor.h"
#include "readers/CacheReader.h"

namespace harvix {

struct BrowserRow {
    // The word harvix-cli takes ("mozilla"), and further words it accepts.
    std::string id;
    std::vector<std::string> aliases;
    // The name the user reads ("Mozilla Firefox").
    std::string displayName;
    // Image names it runs under, lower case; any counts as the browser
    // running (as image name, executable or argv[0]; see ProcessMatch).
    std::vector<std::string> processNames;
    // Markers of its packaged installs (Snap folders, Flatpak ids) that
    // claim a process whatever its name, and markers of another browser's
    // installs that a process bearing one of its names must not carry.
    std::vector<std::string> processClaims;
    std::vector<std::string> processExcludes;
    // The settings key whose value turns its watching on (stored name).
    std::string watchSettingsKey;
    // Icons of its comb button (normal, hover) in the program's resources.
    std::string icon;
    std::string hoverIcon;
    // Rows (by id) that read the same cache: all must be closed for a comb.
    std::vector<std::string> sharesCacheWith;
    // True when the user can name the cache folder in the options (the
    // folder a run discovers is then handed back to be remembered).
    bool hasCacheFolderOption = false;
    // The reader of its cache. `location`: a cache folder (or index file)
    // from the options; empty lets the reader find the cache. A row with a
    // cache folder option finds the cache itself when the remembered
    // folder no longer holds one.
    std::function<std::unique_ptr<CacheReader>(const std::string& location)> makeReader;
    // The reader of exactly the folder the user names now (harvix-cli
    // --cache), which must hold the cache; unset where makeReader is that.
    std::function<std::unique_ptr<CacheReader>(const std::string& folder)> makeReaderAt;
};

// The table, in the order the front ends show the browsers; a browser's
// kind is its index here.
const std::vector<BrowserRow>& browserTable();

// The index of the row whose id or alias is `word`; -1 when none.
int browserKindFromWord(const std::string& word);

// The row of `kind`; null outside the table.
const BrowserRow* browserRow(int kind);

// How the row's processes are known (its names and markers).
ProcessMatch processMatchOf(const BrowserRow& row);

// The reader of `kind`'s cache (see BrowserRow::makeReader); null for a kind
// outside the table.
std::unique_ptr<CacheReader> makeBrowserReader(int kind, const std::string& location);
// The reader of exactly `folder` (see BrowserRow::makeReaderAt).
std::unique_ptr<CacheReader> makeBrowserReaderAt(int kind, const std::string& folder);

// The Firefox cache folder a reader found or was given ("" for other readers).
std::string readerCacheFolder(const CacheReader& reader);

}  // namespace harvix
