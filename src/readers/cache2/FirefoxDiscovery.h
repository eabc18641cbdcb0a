// Finds the Firefox cache the way Firefox itself resolves its profile, and
// tells which of the two disk-cache formats a folder holds.
//
// profiles.ini lives in $XDG_CONFIG_HOME/mozilla/firefox/ (recent Firefox)
// or ~/.mozilla/firefox/ (older); Snap and Flatpak keep their own copies. The
// profile in use is the one the [Install...] section names as Default, else
// the one marked Default=1, else the first. A relative profile keeps its cache
// in the local folder $XDG_CACHE_HOME/mozilla/firefox/<Path>; an absolute
// profile keeps it in the profile folder itself. Inside the local folder,
// Firefox 32 and later write cache2/, earlier versions Cache/ (_CACHE_MAP_).
//
// Nothing here reads the environment: the caller hands in the home folder
// and the XDG folders (FirefoxPlaces).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace harvix {

namespace fs = std::filesystem;

enum class FirefoxCacheFormat {
    None,      // no cache here
    Cache2,    // folder = the cache2 folder (holding entries/)
    OldCache,  // folder = the Cache folder (holding _CACHE_MAP_)
};

struct FirefoxCacheFolder {
    FirefoxCacheFormat format = FirefoxCacheFormat::None;
    // The cache folder: the cache2 folder (or a folder of entry files), or
    // the Cache folder. With format None, the folder looked in.
    fs::path folder;
    // Cache2: the folder of the entry files, `folder`/entries or `folder`.
    fs::path entries;
    // The folder named or found, `folder` or a folder above it. It may be a
    // symbolic link itself (a cache moved to another disk); nothing between
    // it and the entry files may (resolveCacheFolder).
    fs::path base;
};

// The folders discovery starts from, as the caller takes them from the
// environment; empty members are left out.
struct FirefoxPlaces {
    fs::path home;        // the home folder
    fs::path configHome;  // $XDG_CONFIG_HOME, default ~/.config
    fs::path cacheHome;   // $XDG_CACHE_HOME, default ~/.cache
};

// What a folder given by the user (or found) holds: a local profile folder,
// a cache2 folder (by any name), its entries/ folder, a folder of entry
// files, or an old Cache folder. A local folder holding both formats counts
// as cache2, the one Firefox writes now; a profile's Cache folder that is
// gone while cache2 stands beside it (a folder remembered before Firefox 32)
// gives that cache2. Links are followed here; opening refuses those below
// `base`.
FirefoxCacheFolder classifyFirefoxFolder(const fs::path& folder);

// The folder `below` (`base` or a folder below it) with `base` resolved:
// `base` may be a symbolic link, but every folder after it must be a real
// folder, so that a link planted inside a profile or a cache (cache2 ->
// elsewhere, entries -> elsewhere) never leads the reading out of it.
// Throws ErrorReport (MozillaCache, CacheOpen, path `folder`, second path
// the folder that failed): ENOENT when it is missing, ELOOP when it is a
// link, ENOTDIR when it is no folder.
fs::path resolveCacheFolder(const fs::path& base, const fs::path& below, const fs::path& folder);

// One profile of profiles.ini.
struct FirefoxProfile {
    std::string name;
    fs::path path;  // as written (relative or absolute)
    bool relative = true;
};

// The profile in use from the text of profiles.ini, or nothing when it names none.
std::optional<FirefoxProfile> defaultProfileOf(std::string_view profilesIni);

// The local folders worth looking at, best first: the profile in use of each
// profiles.ini found (desktop, older desktop, Snap, Flatpak), then every
// profile folder below the cache bases in byte order of the names (the rule
// without profiles.ini).
std::vector<fs::path> firefoxLocalFolders(const FirefoxPlaces& places);

// The first of firefoxLocalFolders that holds a cache; format None when none
// does, with the folder of the profile in use (the first looked at, if any).
FirefoxCacheFolder findFirefoxCache(const FirefoxPlaces& places);

// ---- Every profile (the cache window offers each) ----

// One place Firefox keeps profiles: the folder of profiles.ini and the base
// of the local folders of its relative profiles.
struct FirefoxInstall {
    fs::path iniFolder;
    fs::path cacheBase;
};

// Desktop ($XDG_CONFIG_HOME/mozilla/firefox), older desktop
// (~/.mozilla/firefox), Snap and Flatpak, in the order discovery tries them.
std::vector<FirefoxInstall> firefoxInstalls(const FirefoxPlaces& places);

// Every profile of the text of profiles.ini with a path, in the order of
// the sections' numbers.
std::vector<FirefoxProfile> profilesOf(std::string_view profilesIni);

// A profile whose cache is found.
struct FirefoxProfileCache {
    std::string name;  // Name= of profiles.ini, else the profile folder's name
    FirefoxCacheFolder cache;
};

// Every profile that holds a cache, of every profiles.ini found: the profile
// in use of each first (in the order of firefoxInstalls), then the others in
// the order of their files and sections. Where no profiles.ini names a
// profile, every profile folder below the cache bases that holds a cache, in
// byte order of the names. Each cache folder once; a cache reached through a
// link inside the profile is not offered.
std::vector<FirefoxProfileCache> firefoxProfileCaches(const FirefoxPlaces& places);

// A profile's own folder (where its settings and site data lie), as
// profiles.ini places it.
struct FirefoxProfileFolder {
    std::string name;  // Name= of profiles.ini, else the folder's name
    fs::path folder;
};

// Every profile folder of every profiles.ini found, whether it holds a
// cache or not: the profile in use of each first, in the order of
// firefoxInstalls, then the others in the order of their sections.
std::vector<FirefoxProfileFolder> firefoxProfileFolders(const FirefoxPlaces& places);

}  // namespace harvix
