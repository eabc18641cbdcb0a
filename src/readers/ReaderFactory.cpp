#include "readers/ReaderFactory.h"

#include "app/Settings.h"
#include "platform/Platform.h"
#include "platform/Text.h"
#include "readers/IECache.h"
#include "readers/MozillaCache.h"
#include "readers/UrlCacheMsiecf.h"
#include "readers/cache2/FirefoxCache2Reader.h"
#include "readers/cache2/FirefoxDiscovery.h"

namespace {

// Firefox: the folder given (or remembered) when it holds a cache of either
// format, else the cache of the profile Firefox uses. A cache2 folder gets
// the cache2 reader, a Cache folder with _CACHE_MAP_ the old one.
std::unique_ptr<CCacheBrowser> MakeFirefoxReader(const std::string& cacheLocation) {
    const std::string given =
        cacheLocation.empty() ? TheSettings().MozillaCachePath : cacheLocation;
    harvix::FirefoxCacheFolder found;
    if (!given.empty()) {
        found = harvix::classifyFirefoxFolder(PathFromUtf8(given));
    }
    if (found.format == harvix::FirefoxCacheFormat::None && cacheLocation.empty()) {
        harvix::FirefoxPlaces places =
            harvix::firefoxPlacesFromEnvironment(Platform().HomeFolder());
        places.cacheHome = Platform().LocalAppDataFolder();
        found = harvix::findFirefoxCache(places);
    }
    if (found.format == harvix::FirefoxCacheFormat::Cache2) {
        return std::make_unique<FirefoxCache2Reader>(found.folder);
    }
    auto reader = std::make_unique<CMozillaCache>();
    if (found.format == harvix::FirefoxCacheFormat::OldCache) {
        reader->cacheFolder = PathToUtf8(found.folder);
    } else {
        // Nothing found: the old reader reports the folder it tried.
        reader->cacheFolder = given;
    }
    return reader;
}

}  // namespace

std::unique_ptr<CCacheBrowser> MakeReader(int32_t browserKind, const std::string& cacheLocation) {
    switch (browserKind) {
        case 0:  // Firefox: both disk-cache formats
            return MakeFirefoxReader(cacheLocation);
        case 1:    // Internet Explorer
        case 2: {  // Maxthon: the same URL cache
            // An index.dat file or a folder that holds one; empty: the Wine prefix's.
            return std::make_unique<CIECache>(
                std::make_unique<CMsiecfUrlCache>(PathFromUtf8(cacheLocation)));
        }
        default:
            return nullptr;
    }
}
