#include "readers/ReaderFactory.h"

#include "app/Settings.h"
#include "platform/Text.h"
#include "readers/ChromiumCacheReader.h"
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
        case 3:
        case 4:
        case 5:
        case 6:
        case 7:
        case 8: {  // the Chromium family
            static const char* const words[] = {"chromium", "chrome",  "edge",
                                                "brave",    "vivaldi", "opera"};
            return std::make_unique<ChromiumCacheReader>(words[browserKind - 3], cacheLocation);
        }
        default:
            return nullptr;
    }
}

}  // namespace harvix
