#include "readers/ReaderFactory.h"

#include "app/Settings.h"
#include "platform/Platform.h"
#include "platform/Text.h"
#include "readers/FirefoxCacheReader.h"
#include "readers/MsiecfUrlCache.h"
#include "readers/UrlCacheReader.h"
#include "readers/cache2/FirefoxCache2Bridge.h"
#include "readers/cache2/FirefoxDiscovery.h"

namespace harvix {

namespace {

// Firefox: the folder given (or remembered) when it holds a cache of either
// format, else the cache of the profile Firefox uses. A cache2 folder gets
// the cache2 reader, a Cache folder with _CACHE_MAP_ the old one.
std::unique_ptr<CacheReader> MakeFirefoxReader(const std::string& cacheLocation) {
    const std::string given =
        cacheLocation.empty() ? theSettings().MozillaCachePath : cacheLocation;
    FirefoxCacheFolder found;
    if (!given.empty()) {
        found = classifyFirefoxFolder(pathFromUtf8(given));
    }
    if (found.format == FirefoxCacheFormat::None && cacheLocation.empty()) {
        FirefoxPlaces places = firefoxPlacesFromEnvironment(platformServices().homeFolder());
        places.cacheHome = platformServices().localAppDataFolder();
        found = findFirefoxCache(places);
    }
    if (found.format == FirefoxCacheFormat::Cache2) {
        return std::make_unique<FirefoxCache2Bridge>(found.folder);
    }
    auto reader = std::make_unique<FirefoxCacheReader>();
    if (found.format == FirefoxCacheFormat::OldCache) {
        reader->cacheFolder = pathToUtf8(found.folder);
    } else {
        // Nothing found: the old reader reports the folder it tried.
        reader->cacheFolder = given;
    }
    return reader;
}

}  // namespace

std::unique_ptr<CacheReader> makeBrowserReader(int32_t browserKind,
                                               const std::string& cacheLocation) {
    switch (browserKind) {
        case 0:  // Firefox: both disk-cache formats
            return MakeFirefoxReader(cacheLocation);
        case 1:    // Internet Explorer
        case 2: {  // Maxthon: the same URL cache
            // An index.dat file or a folder that holds one; empty: the Wine prefix's.
            return std::make_unique<UrlCacheReader>(
                std::make_unique<MsiecfUrlCache>(pathFromUtf8(cacheLocation)));
        }
        default:
            return nullptr;
    }
}

}  // namespace harvix
