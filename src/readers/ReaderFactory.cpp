#include "readers/ReaderFactory.h"

#include "app/Settings.h"
#include "platform/Text.h"
#include "readers/FirefoxCacheReader.h"
#include "readers/MsiecfUrlCache.h"
#include "readers/UrlCacheReader.h"

namespace harvix {

std::unique_ptr<CacheReader> makeBrowserReader(int32_t browserKind,
                                               const std::string& cacheLocation) {
    switch (browserKind) {
        case 0: {  // Firefox
            auto reader = std::make_unique<FirefoxCacheReader>();
            reader->cacheFolder =
                cacheLocation.empty() ? theSettings().MozillaCachePath : cacheLocation;
            return reader;
        }
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
