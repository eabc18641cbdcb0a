#include "readers/ReaderFactory.h"

#include "app/Settings.h"
#include "platform/Text.h"
#include "readers/IECache.h"
#include "readers/MozillaCache.h"
#include "readers/UrlCacheMsiecf.h"

std::unique_ptr<CCacheBrowser> MakeReader(int32_t browserKind, const std::string& cacheLocation) {
    switch (browserKind) {
        case 0: {  // Firefox
            auto reader = std::make_unique<CMozillaCache>();
            reader->cacheFolder =
                cacheLocation.empty() ? TheSettings().MozillaCachePath : cacheLocation;
            return reader;
        }
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
