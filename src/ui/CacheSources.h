// The caches the cache window offers: one per browser of the browser table
// (and per profile, where a browser has several) whose cache is found on
// this machine, each with the way to make its reader.
#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <vector>

namespace harvix {

class CacheReader;
struct Settings;

struct CacheSource {
    QString browser;  // display name
    QString profile;  // the profile or cache folder; empty where there is none to tell
    std::function<std::unique_ptr<CacheReader>()> makeReader;
};

// Every browser cache that opens now. Browsers that share one cache (Internet
// Explorer and Maxthon) are one source. A browser whose cache folder the
// options name (`settings`) is looked for there first.
std::vector<CacheSource> findCacheSources(const Settings& settings);

}  // namespace harvix
