// Desktop apps built on Chromium (chat, mail, music, editors): each keeps
// the same simple cache as the browser, in its own folder below the user's
// configuration folder, `~/.config/<App>/Cache/Cache_Data` (older ones
// `~/.config/<App>/Cache`), or in a Flatpak's own copy of it,
// `~/.var/app/<id>/config/<App>/...`. The "apps" row of the browser table
// reads them all, each folder its own root.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

namespace harvix {

namespace fs = std::filesystem;

// An app the program knows by name: the folder it keeps below the
// configuration folder (compared without regard to case), the name the user
// reads, and the file name its main process runs under (lower case).
struct KnownApp {
    std::string_view folder;
    std::string_view displayName;
    std::string_view processName;
};

// The known apps (a table of data, DesktopApps.cpp).
const std::vector<KnownApp>& knownApps();

// The name the user reads for an app's folder name: the known app's, else
// the folder's own.
std::string appDisplayName(const std::string& folder);

// One app's HTTP cache found on this machine.
struct AppCache {
    std::string name;  // the app's display name; "(Flatpak)" added for a Flatpak's copy
    fs::path folder;   // its Cache_Data (or Cache) folder
};

// What the browsers' own rows already read, which the apps are never taken
// from: folder names below the configuration folder and Flatpak ids.
struct AppExclusions {
    std::vector<std::string> folders;
    std::vector<std::string> flatpakIds;
};

// Every app cache below the configuration folder `configHome` and the
// Flatpak configuration folders below `home`: a folder `<App>` whose
// `Cache/Cache_Data` or `Cache` holds a cache, or one folder further down
// (`<Vendor>/<App>/Cache`). In name order, the desktop's first; links are
// not followed below the folders named.
std::vector<AppCache> findAppCaches(const fs::path& configHome, const fs::path& home,
                                    const AppExclusions& excluded);

}  // namespace harvix
