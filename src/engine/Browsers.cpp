#include "engine/Browsers.h"

#include <algorithm>
#include <system_error>

#include "engine/DesktopApps.h"
#include "platform/Path.h"
#include "readers/CombinedReader.h"
#include "readers/FirefoxCacheReader.h"
#include "readers/MsiecfUrlCache.h"
#include "readers/UrlCacheReader.h"
#include "readers/cache2/FirefoxCache2Reader.h"
#include "readers/cache2/FirefoxDiscovery.h"
#include "readers/chromium/CacheStorageReader.h"
#include "readers/chromium/ChromiumCache.h"
#include "readers/chromium/ChromiumCacheReader.h"
#include "readers/domcache/DomCacheReader.h"

namespace harvix {

namespace {

// The folders Firefox discovery starts from, as the platform has them.
FirefoxPlaces firefoxPlaces(IPlatform& platform) {
    FirefoxPlaces places;
    places.home = platform.homeFolder();
    places.configHome = platform.configFolder();
    places.cacheHome = platform.localAppDataFolder();
    return places;
}

// The reader of a Firefox cache folder that was found or named: a Cache
// folder with _CACHE_MAP_ gets the old reader, a cache2 folder the cache2
// reader, which also reports a folder without a cache (the one looked in).
std::unique_ptr<CacheReader> firefoxReaderOf(const FirefoxCacheFolder& found) {
    if (found.format == FirefoxCacheFormat::OldCache) {
        return std::make_unique<FirefoxCacheReader>(pathToUtf8(found.folder),
                                                    pathToUtf8(found.base));
    }
    return std::make_unique<FirefoxCache2Reader>(found);
}

// The service-worker caches of the profile whose local folder `local` is;
// null when it has none.
std::unique_ptr<CacheReader> firefoxStoreOf(IPlatform& platform, const fs::path& local) {
    const fs::path profile = firefoxProfileOfLocalFolder(firefoxPlaces(platform), local);
    return profile.empty() ? nullptr : std::make_unique<DomCacheReader>(pathToUtf8(profile));
}

// The local folder of a cache folder found or named.
fs::path localFolderOf(const FirefoxCacheFolder& found) {
    const std::string name = pathToUtf8(found.folder.filename());
    return (name == "cache2" || name == "Cache") ? found.folder.parent_path() : found.folder;
}

// Exactly the folder named: its HTTP cache, its service-worker caches, or
// both where one folder holds both (a profile that keeps its cache inside).
std::unique_ptr<CacheReader> makeFirefoxReaderAt(IPlatform& /*platform*/,
                                                 const std::string& folder) {
    const FirefoxCacheFolder http = classifyFirefoxFolder(pathFromUtf8(folder));
    const bool hasStore = !domCacheStoreOf(pathFromUtf8(folder)).empty();
    if (http.format == FirefoxCacheFormat::None && hasStore) {
        return std::make_unique<DomCacheReader>(folder);
    }
    std::vector<std::unique_ptr<CacheReader>> stores;
    if (hasStore) {
        stores.push_back(std::make_unique<DomCacheReader>(folder));
    }
    return combineStores(firefoxReaderOf(http), std::move(stores));
}

// The remembered folder while it holds a cache of either format; else (or
// with none remembered) the cache of the profile Firefox itself uses. When
// neither holds one, the remembered folder is the one reported, else the
// folder of the profile in use.
// The service-worker caches of that profile are read with it.
std::unique_ptr<CacheReader> makeFirefoxReader(IPlatform& platform, const std::string& location) {
    const FirefoxCacheFolder remembered = classifyFirefoxFolder(pathFromUtf8(location));
    const FirefoxCacheFolder found = remembered.format != FirefoxCacheFormat::None
                                         ? remembered
                                         : findFirefoxCache(firefoxPlaces(platform));
    const FirefoxCacheFolder& used =
        found.format == FirefoxCacheFormat::None && !location.empty() ? remembered : found;
    std::vector<std::unique_ptr<CacheReader>> stores;
    stores.push_back(firefoxStoreOf(platform, localFolderOf(found)));
    return combineStores(firefoxReaderOf(used), std::move(stores));
}

// The name of the profile a remembered Firefox cache folder belongs to:
// the folder above cache2/ or Cache/, else the folder itself.
std::string profileOfFolder(const fs::path& folder) {
    const std::string name = pathToUtf8(folder.filename());
    const bool cacheFolder = name == "cache2" || name == "Cache";
    return pathToUtf8(
        (cacheFolder && folder.has_parent_path() ? folder.parent_path() : folder).filename());
}

// Every profile of every profiles.ini (desktop, older desktop, Snap,
// Flatpak) that holds a cache, the profile in use first, with its
// service-worker caches; then the service-worker caches of profiles without
// an HTTP cache; and the folder the options remember when it holds a cache
// no profile gave.
std::vector<CacheProfile> findFirefoxProfiles(IPlatform& platform, const std::string& remembered) {
    std::vector<CacheProfile> found;
    const FirefoxPlaces places = firefoxPlaces(platform);
    for (const FirefoxProfileCache& profile : firefoxProfileCaches(places)) {
        found.push_back({profile.name, profile.cache.folder});
        const fs::path own = firefoxProfileOfLocalFolder(places, localFolderOf(profile.cache));
        if (!own.empty()) {
            found.push_back({profile.name, domCacheStoreOf(own), true});
        }
    }
    // A profile with service-worker caches but no HTTP cache (cleared, or
    // kept elsewhere) is offered its store alone, as `list firefox` reads it.
    for (const FirefoxProfileFolder& profile : firefoxProfileFolders(places)) {
        const fs::path store = domCacheStoreOf(profile.folder);
        const bool offered = std::any_of(found.begin(), found.end(), [&](const CacheProfile& p) {
            return p.serviceWorkerCaches && p.folder == store;
        });
        if (!store.empty() && !offered) {
            found.push_back({profile.name, store, true});
        }
    }
    if (!remembered.empty()) {
        const FirefoxCacheFolder folder = classifyFirefoxFolder(pathFromUtf8(remembered));
        const bool offered = std::any_of(found.begin(), found.end(), [&](const CacheProfile& p) {
            return p.folder == folder.folder;
        });
        if (folder.format != FirefoxCacheFormat::None && !offered) {
            found.push_back({profileOfFolder(folder.folder), folder.folder});
        }
    }
    return found;
}

// The profile roots of a Chromium-family row (its configuration folders,
// where the service-worker caches lie): the cache roots' names below the
// configuration folder, the Snap's and the Flatpaks' own.
std::vector<fs::path> chromiumProfileRoots(const CachePlaces& places, IPlatform& platform) {
    std::vector<fs::path> found;
    const fs::path home = platform.homeFolder();
    for (const std::string& root : places.cacheRoots) {
        found.push_back(platform.configFolder() / root);
        if (!places.snapName.empty()) {
            found.push_back(home / "snap" / places.snapName / "common" / root);
        }
        for (const std::string& app : places.flatpakIds) {
            found.push_back(home / ".var" / "app" / app / "config" / root);
        }
    }
    return found;
}

// Every profile's HTTP cache and service-worker caches below the places of
// a Chromium-family row.
std::vector<CacheProfile> findChromiumProfiles(const CachePlaces& places, IPlatform& platform) {
    std::vector<CacheProfile> found;
    for (const fs::path& root : places.folders(platform)) {
        for (const chromium::CacheFolder& cache : chromium::findCacheFolders(root)) {
            const fs::path below = cache.folder.lexically_relative(cache.browserRoot);
            found.push_back({below.empty() || *below.begin() == ".." ? std::string()
                                                                     : pathToUtf8(*below.begin()),
                             cache.folder});
        }
    }
    for (const fs::path& root : chromiumProfileRoots(places, platform)) {
        for (const chromium::CacheFolder& store : findCacheStorages(root)) {
            const fs::path below = store.folder.lexically_relative(store.browserRoot);
            found.push_back({below.empty() || *below.begin() == ".." ? std::string()
                                                                     : pathToUtf8(*below.begin()),
                             store.folder, true});
        }
    }
    return found;
}

// The HTTP cache and the service-worker caches of a Chromium-family row; a
// service-worker store named alone is read alone.
std::unique_ptr<CacheReader> makeChromiumReader(const std::string& id, const CachePlaces& places,
                                                IPlatform& platform, const std::string& location) {
    if (!location.empty() && isCacheStorageFolder(pathFromUtf8(location))) {
        return std::make_unique<CacheStorageReader>(location);
    }
    std::vector<std::unique_ptr<CacheReader>> stores;
    stores.push_back(std::make_unique<CacheStorageReader>(
        location,
        location.empty() ? chromiumProfileRoots(places, platform) : std::vector<fs::path>{}));
    return combineStores(
        std::make_unique<ChromiumCacheReader>(
            id, location, location.empty() ? places.folders(platform) : std::vector<fs::path>{}),
        std::move(stores));
}

// An index.dat file or a folder that holds one; empty: the Wine prefix's.
std::unique_ptr<CacheReader> makeUrlCacheReader(IPlatform& platform, const std::string& location) {
    return std::make_unique<UrlCacheReader>(std::make_unique<MsiecfUrlCache>(
        pathFromUtf8(location), WineUser{platform.winePrefix(), platform.userName()}));
}

// The Chromium family: each member has a cache of its own, in the places
// of its row.
BrowserRow chromiumRow(const std::string& id, const std::string& displayName,
                       const std::string& textName, std::vector<std::string> processNames,
                       std::vector<std::string> programs, CachePlaces places) {
    BrowserRow row;
    row.id = id;
    row.displayName = displayName;
    row.nameTextKey = "BrowserName" + textName;
    row.combTextKey = "Comb" + textName;
    row.watchTextKey = "OptUseWith" + textName;
    row.cacheOpenErrorKey = "ErrorChromiumCacheOpen";
    row.family = "chromium";
    row.processNames = std::move(processNames);
    row.programs = std::move(programs);
    row.places = std::move(places);
    row.watchSettingsKey = "Use" + textName;
    row.watchDefault = WatchDefault::WhenPresent;
    row.makeReader = [id, places = row.places](IPlatform& platform, const std::string& location) {
        return makeChromiumReader(id, places, platform, location);
    };
    row.findProfiles = [places = row.places](IPlatform& platform, const std::string&) {
        return findChromiumProfiles(places, platform);
    };
    return row;
}

// What the browsers' own rows read, which the apps row leaves to them: the
// first folder of each cache root (a browser run with its profile below
// ~/.config keeps its cache there) and the browsers' Flatpak ids.
AppExclusions browserFolders() {
    AppExclusions excluded;
    for (const BrowserRow& row : browserTable()) {
        for (const std::string& root : row.places.cacheRoots) {
            excluded.folders.push_back(root.substr(0, root.find('/')));
        }
        excluded.flatpakIds.insert(excluded.flatpakIds.end(), row.places.flatpakIds.begin(),
                                   row.places.flatpakIds.end());
    }
    return excluded;
}

std::vector<AppCache> appCaches(IPlatform& platform) {
    return findAppCaches(platform.configFolder(), platform.homeFolder(), browserFolders());
}

// Desktop apps built on Chromium: every app's cache below the user's
// configuration folders, each its own root, read as the browser's. Not
// watched until the user switches it on: most such apps stay open in the
// tray for the whole session, so that a comb on close would rarely come,
// and the processes are only those of the known apps.
BrowserRow desktopAppsRow() {
    BrowserRow row;
    row.id = "apps";
    row.displayName = "Desktop apps";
    row.nameTextKey = "BrowserNameApps";
    row.combTextKey = "CombApps";
    row.watchTextKey = "OptUseWithApps";
    row.cacheOpenErrorKey = "ErrorAppsCacheOpen";
    for (const KnownApp& app : knownApps()) {
        row.processNames.emplace_back(app.processName);
    }
    row.watchSettingsKey = "UseApps";
    row.watchDefault = WatchDefault::Off;
    row.makeReader = [](IPlatform& platform,
                        const std::string& location) -> std::unique_ptr<CacheReader> {
        std::vector<fs::path> folders;
        if (location.empty()) {
            for (const AppCache& app : appCaches(platform)) {
                folders.push_back(app.folder);
            }
        }
        return std::make_unique<ChromiumCacheReader>("apps", location, std::move(folders));
    };
    row.findProfiles = [](IPlatform& platform, const std::string&) {
        std::vector<CacheProfile> found;
        for (AppCache& app : appCaches(platform)) {
            found.push_back({std::move(app.name), std::move(app.folder)});
        }
        return found;
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
        row.nameTextKey = "BrowserNameMozilla";
        row.combTextKey = "CombMozilla";
        row.watchTextKey = "OptUseWithMozilla";
        row.cacheOpenErrorKey = "ErrorMozillaCacheOpen";
        // Firefox runs as firefox, firefox-esr or firefox-bin (firefox.exe
        // under Wine); Mozilla's own and the Snap builds name the main
        // thread GeckoMain, which is what comm then says.
        row.processNames = {"firefox", "firefox-esr", "firefox-bin", "firefox.exe"};
        row.programs = {"firefox", "firefox-esr"};
        row.places = {{"mozilla/firefox"}, "firefox", {"org.mozilla.firefox"}};
        row.watchSettingsKey = "Mozilla";
        row.watchDefault = WatchDefault::On;
        row.watchKeyFirst = true;
        row.icon = "button-comb-mozilla";
        row.hoverIcon = "button-comb-mozilla-hover";
        row.hasCacheFolderOption = true;
        row.makeReader = &makeFirefoxReader;
        row.makeReaderAt = &makeFirefoxReaderAt;
        row.findProfiles = &findFirefoxProfiles;
        rows.push_back(std::move(row));
    }
    {
        // Internet Explorer and Maxthon run under Wine and share one URL cache.
        BrowserRow row;
        row.id = "ie";
        row.displayName = "Microsoft Internet Explorer";
        row.nameTextKey = "BrowserNameIE";
        row.combTextKey = "CombIE";
        row.watchTextKey = "OptUseWithIE";
        row.cacheOpenErrorKey = "ErrorIECacheOpen";
        row.processNames = {"iexplore.exe"};
        row.watchSettingsKey = "IE";
        row.watchDefault = WatchDefault::On;
        row.watchKeyFirst = true;
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
        row.nameTextKey = "BrowserNameMaxthon";
        row.combTextKey = "CombIE";
        row.watchTextKey = "OptUseWithMaxthon";
        row.cacheOpenErrorKey = "ErrorIECacheOpen";
        row.processNames = {"maxthon.exe"};
        row.watchSettingsKey = "Maxthon";
        row.watchDefault = WatchDefault::On;
        row.watchKeyFirst = true;
        // One cache, one comb button: Internet Explorer's.
        row.icon = "button-comb-ie";
        row.hoverIcon = "button-comb-ie-hover";
        row.sharesCacheWith = {"ie"};
        row.makeReader = &makeUrlCacheReader;
        rows.push_back(std::move(row));
    }
    // Chromium and the browsers built on it. Fedora's chromium-browser
    // shows as "chromium-browse" in comm (cut at 15 bytes).
    rows.push_back(chromiumRow(
        "chromium", "Chromium", "Chromium", {"chromium", "chromium-browser", "chromium-browse"},
        {"chromium", "chromium-browser"}, {{"chromium"}, "chromium", {"org.chromium.Chromium"}}));
    rows.push_back(chromiumRow(
        "chrome", "Google Chrome", "Chrome", {"chrome", "google-chrome"},
        {"google-chrome", "google-chrome-stable", "google-chrome-beta", "google-chrome-unstable"},
        {{"google-chrome", "google-chrome-beta", "google-chrome-unstable"},
         "",
         {"com.google.Chrome"}}));
    rows.push_back(chromiumRow(
        "edge", "Microsoft Edge", "Edge", {"msedge"},
        {"microsoft-edge", "microsoft-edge-stable", "microsoft-edge-beta", "microsoft-edge-dev"},
        {{"microsoft-edge", "microsoft-edge-beta", "microsoft-edge-dev"},
         "",
         {"com.microsoft.Edge"}}));
    rows.push_back(chromiumRow("brave", "Brave", "Brave", {"brave"}, {"brave-browser", "brave"},
                               {{"BraveSoftware/Brave-Browser"}, "brave", {"com.brave.Browser"}}));
    rows.push_back(chromiumRow("vivaldi", "Vivaldi", "Vivaldi", {"vivaldi-bin"},
                               {"vivaldi", "vivaldi-stable"},
                               {{"vivaldi"}, "", {"com.vivaldi.Vivaldi"}}));
    rows.push_back(chromiumRow("opera", "Opera", "Opera", {"opera"}, {"opera"},
                               {{"opera"}, "opera", {"com.opera.Opera"}}));
    rows.push_back(desktopAppsRow());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        rows[i].index = i;
    }
    return rows;
}

}  // namespace

std::vector<fs::path> CachePlaces::folders(IPlatform& platform) const {
    const fs::path cacheHome = platform.localAppDataFolder();
    const fs::path home = platform.homeFolder();
    std::vector<fs::path> found;
    for (const std::string& root : cacheRoots) {
        found.push_back(cacheHome / root);
    }
    if (!snapName.empty()) {
        for (const std::string& root : cacheRoots) {
            found.push_back(home / "snap" / snapName / "common" / ".cache" / root);
        }
    }
    for (const std::string& app : flatpakIds) {
        for (const std::string& root : cacheRoots) {
            found.push_back(home / ".var" / "app" / app / "cache" / root);
        }
    }
    return found;
}

std::vector<std::string> CachePlaces::installMarkers() const {
    std::vector<std::string> markers;
    if (!snapName.empty()) {
        markers.push_back("/snap/" + snapName + "/");
    }
    markers.insert(markers.end(), flatpakIds.begin(), flatpakIds.end());
    return markers;
}

std::vector<std::string> BrowserRow::words() const {
    std::vector<std::string> all{id};
    all.insert(all.end(), aliases.begin(), aliases.end());
    return all;
}

std::unique_ptr<CacheReader> BrowserRow::reader(IPlatform& platform,
                                                const std::string& location) const {
    return makeReader ? makeReader(platform, location) : nullptr;
}

std::unique_ptr<CacheReader> BrowserRow::readerAt(IPlatform& platform,
                                                  const std::string& folder) const {
    return makeReaderAt ? makeReaderAt(platform, folder) : reader(platform, folder);
}

ProcessMatch BrowserRow::processMatch() const {
    ProcessMatch match = ProcessMatch::byNames(processNames);
    match.claims = places.installMarkers();
    for (const BrowserRow& other : browserTable()) {
        if (&other == this) {
            continue;
        }
        for (std::string& marker : other.places.installMarkers()) {
            if (std::find(match.claims.begin(), match.claims.end(), marker) == match.claims.end()) {
                match.excludes.push_back(std::move(marker));
            }
        }
    }
    return match;
}

bool BrowserRow::isPresent(IPlatform& platform) const {
    for (const std::string& program : programs) {
        if (platform.isProgramInstalled(program)) {
            return true;
        }
    }
    for (const fs::path& folder : places.folders(platform)) {
        std::error_code ec;
        if (fs::is_directory(folder, ec)) {
            return true;
        }
    }
    return false;
}

std::vector<const BrowserRow*> BrowserRow::cacheSharers() const {
    std::vector<const BrowserRow*> rows;
    for (const std::string& word : sharesCacheWith) {
        if (const BrowserRow* row = browserByWord(word)) {
            rows.push_back(row);
        }
    }
    return rows;
}

const std::vector<BrowserRow>& browserTable() {
    static const std::vector<BrowserRow> table = makeTable();
    return table;
}

const BrowserRow* browserByWord(const std::string& word) {
    for (const BrowserRow& row : browserTable()) {
        const std::vector<std::string> words = row.words();
        if (std::find(words.begin(), words.end(), word) != words.end()) {
            return &row;
        }
    }
    return nullptr;
}

const BrowserRow* browserByWatchKey(const std::string& key) {
    for (const BrowserRow& row : browserTable()) {
        if (row.watchSettingsKey == key) {
            return &row;
        }
    }
    return nullptr;
}

}  // namespace harvix
