// The browsers the program knows, as data: one row per browser. Everything
// that names a browser iterates this table: the coordinator and the monitors,
// the settings file's watch keys and their defaults, the options dialog's
// "Use with ..." boxes, the comb commands and their buttons, the tray menu,
// the error texts, and harvix-cli's browser words, help and completion. A
// new browser is a new row (docs/architecture.md).
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/ProcessMatch.h"
#include "platform/Platform.h"
#include "readers/CacheReader.h"

namespace harvix {

namespace fs = std::filesystem;

// How a row's watching is switched on when the settings file holds no value
// for it.
enum class WatchDefault {
    On,           // the browsers the program first served
    WhenPresent,  // on when the browser is installed or has a cache here
    Off,          // off until the user switches it on
};

// Where a browser keeps its caches below the user's folders, per install:
// folder names below the cache home, and the Snap and Flatpak packages that
// keep their own copies of them.
struct CachePlaces {
    std::vector<std::string> cacheRoots;  // below $XDG_CACHE_HOME
    std::string snapName;                 // ~/snap/<name>/common/.cache/<root>
    std::vector<std::string> flatpakIds;  // ~/.var/app/<id>/cache/<root>

    // Every folder these name on `platform`, whether it exists or not.
    std::vector<fs::path> folders(IPlatform& platform) const;
    // What marks the processes of these installs (ProcessMatch): the Snap's
    // folder ("/snap/<name>/") and the Flatpak ids.
    std::vector<std::string> installMarkers() const;
};

// One cache of a browser on this machine: a profile's cache folder, or a
// store of the profile's own beside it.
struct CacheProfile {
    std::string name;  // the profile's name; empty where there is none to tell
    fs::path folder;
    // True for the caches the profile's pages fill themselves (the Cache
    // API of service workers) rather than the browser's HTTP cache.
    bool serviceWorkerCaches = false;
};

struct BrowserRow {
    // Its place in the table (the monitors and the watch flags are kept in
    // table order).
    std::size_t index = 0;
    // The word harvix-cli takes ("mozilla"), and further words it accepts.
    std::string id;
    std::vector<std::string> aliases;
    // The name the user reads ("Mozilla Firefox"); the language texts of
    // that name, its comb command, its "Use with ..." box and its open
    // failure are named by these keys (LanguageTexts::byKey).
    std::string displayName;
    std::string nameTextKey;
    std::string combTextKey;
    std::string watchTextKey;
    std::string cacheOpenErrorKey;
    // File names it runs under, lower case: a process counts when its
    // comm, the file name of its executable or of its argv[0] is one of
    // them, or when it runs from one of the Snap or Flatpak installs of
    // `places` (processMatch).
    std::vector<std::string> processNames;
    // The programs that start it (found on the search path), and where its
    // caches live: whether it is present on this machine.
    std::vector<std::string> programs;
    CachePlaces places;
    // The settings key whose value turns its watching on (stored name), and
    // the value when the settings file holds none.
    std::string watchSettingsKey;
    WatchDefault watchDefault = WatchDefault::WhenPresent;
    // Written among the settings file's first keys (the browsers of the
    // first versions); the keys of later rows follow the general ones.
    bool watchKeyFirst = false;
    // Icons of its comb button (normal, hover) in the program's resources;
    // empty for a row whose comb command sits in the "other browsers" menu.
    std::string icon;
    std::string hoverIcon;
    // The family whose cache format and places it shares ("chromium": the
    // browsers built on Chromium); empty for a row of its own kind.
    std::string family;
    // Rows (by id) that read the same cache: all must be closed for a comb.
    std::vector<std::string> sharesCacheWith;
    // True when the user can name the cache folder in the options (the
    // folder a run discovers is then handed back to be remembered).
    bool hasCacheFolderOption = false;
    // The reader of its cache. `location`: a cache folder (or index file)
    // from the options; empty lets the reader find the cache. A row with a
    // cache folder option finds the cache itself when the remembered
    // folder no longer holds one.
    std::function<std::unique_ptr<CacheReader>(IPlatform& platform, const std::string& location)>
        makeReader;
    // The reader of exactly the folder the user names now (harvix-cli
    // --cache), which must hold the cache; unset where makeReader is that.
    std::function<std::unique_ptr<CacheReader>(IPlatform& platform, const std::string& folder)>
        makeReaderAt;
    // Every cache of the browser found on this machine, one per profile (for
    // a row with a cache folder option, the remembered folder too when no
    // profile gave it); unset where the reader finds its one cache itself.
    std::function<std::vector<CacheProfile>(IPlatform& platform, const std::string& remembered)>
        findProfiles;

    // Every word harvix-cli takes for it.
    std::vector<std::string> words() const;
    // The reader of its cache (makeReader), and of exactly `folder`.
    std::unique_ptr<CacheReader> reader(IPlatform& platform, const std::string& location) const;
    std::unique_ptr<CacheReader> readerAt(IPlatform& platform, const std::string& folder) const;
    // How its processes are known: its process names, the markers of its
    // own installs, and those of every other row's installs, whose
    // processes are never its own (Snap Chromium runs a binary named
    // "chrome", which is not Google Chrome).
    ProcessMatch processMatch() const;
    // Installed (one of its programs found) or holding a cache folder here.
    bool isPresent(IPlatform& platform) const;
    // The rows of `sharesCacheWith`.
    std::vector<const BrowserRow*> cacheSharers() const;
};

// The table, in the order the front ends show the browsers.
const std::vector<BrowserRow>& browserTable();

// The row whose id or alias is `word`; null when none.
const BrowserRow* browserByWord(const std::string& word);

// The row whose watch settings key is `key`; null when none.
const BrowserRow* browserByWatchKey(const std::string& key);

}  // namespace harvix
