#include "engine/DesktopApps.h"

#include <algorithm>
#include <system_error>

#include "base/Text.h"
#include "platform/Path.h"
#include "readers/chromium/ChromiumCache.h"

namespace harvix {

namespace {

bool listed(const std::vector<std::string>& names, const std::string& name) {
    return std::any_of(names.begin(), names.end(),
                       [&name](const std::string& n) { return equalsNoCase(n, name); });
}

// The HTTP cache of an app folder: Cache/Cache_Data, else Cache. Only these
// two are taken as an app's cache, never the app folder itself, which may
// hold anything.
bool appCacheOf(const fs::path& app, fs::path& cache) {
    for (const fs::path& candidate : {app / "Cache" / "Cache_Data", app / "Cache"}) {
        if (isFolderNotLink(candidate)) {
            std::error_code error;
            const fs::path exact = fs::weakly_canonical(candidate, error);
            const std::vector<chromium::CacheFolder> found = chromium::findCacheFolders(candidate);
            if (!error && found.size() == 1 && found.front().folder == exact) {
                cache = exact;
                return true;
            }
        }
    }
    return false;
}

void findBelow(const fs::path& configHome, const std::string& suffix,
               const std::vector<std::string>& excluded, std::vector<AppCache>& out) {
    fs::path cache;
    for (const fs::path& app : subfoldersOf(configHome)) {
        const std::string name = pathToUtf8(app.filename());
        if (listed(excluded, name)) {
            continue;
        }
        if (appCacheOf(app, cache)) {
            out.push_back({appDisplayName(name) + suffix, cache});
            continue;
        }
        // A vendor's folder of apps (~/.config/Microsoft/Microsoft Teams).
        for (const fs::path& inner : subfoldersOf(app)) {
            if (appCacheOf(inner, cache)) {
                out.push_back({appDisplayName(pathToUtf8(inner.filename())) + suffix, cache});
            }
        }
    }
}

}  // namespace

std::string appDisplayName(const std::string& folder) {
    for (const KnownApp& app : knownApps()) {
        if (equalsNoCase(app.folder, folder)) {
            return std::string(app.displayName);
        }
    }
    return folder;
}

std::vector<AppCache> findAppCaches(const fs::path& configHome, const fs::path& home,
                                    const AppExclusions& excluded) {
    std::vector<AppCache> found;
    if (!configHome.empty()) {
        findBelow(configHome, "", excluded.folders, found);
    }
    if (!home.empty()) {
        for (const fs::path& flatpak : subfoldersOf(home / ".var" / "app")) {
            if (!listed(excluded.flatpakIds, pathToUtf8(flatpak.filename()))) {
                findBelow(flatpak / "config", " (Flatpak)", excluded.folders, found);
            }
        }
    }
    return found;
}

}  // namespace harvix
