#include "readers/ReaderFactory.h"

#include "app/Settings.h"
#include "readers/MozillaCache.h"

std::unique_ptr<CCacheBrowser> MakeReader(int32_t browserKind, const std::string& cacheLocation) {
    switch (browserKind) {
        case 0: {  // Firefox
            auto reader = std::make_unique<CMozillaCache>();
            reader->cacheFolder =
                cacheLocation.empty() ? TheSettings().MozillaCachePath : cacheLocation;
            return reader;
        }
        default:
            return nullptr;
    }
}
