#include "ui/CacheSources.h"

#include "app/Settings.h"
#include "readers/FirefoxCacheReader.h"
#include "readers/ReaderFactory.h"

namespace harvix {

std::vector<CacheSource> findCacheSources() {
    std::vector<CacheSource> sources;
    std::string firefox = theSettings().MozillaCachePath;
    if (firefox.empty()) {
        firefox = FirefoxCacheReader::findCacheFolder();
    }
    if (!firefox.empty()) {
        sources.push_back({QStringLiteral("Firefox"), QString::fromStdString(firefox),
                           [firefox] { return makeBrowserReader(0, firefox); }});
    }
    // Internet Explorer and Maxthon share the URL cache of the Wine prefix.
    if (auto probe = makeBrowserReader(1, {}); probe != nullptr && probe->tryOpen()) {
        probe->close();
        sources.push_back({QStringLiteral("Internet Explorer, Maxthon"), QString(),
                           [] { return makeBrowserReader(1, {}); }});
    }
    return sources;
}

}  // namespace harvix
