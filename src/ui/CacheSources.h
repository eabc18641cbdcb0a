// The caches the cache window offers: one per browser (and profile) whose
// cache is found on this machine, each with the way to make its reader.
#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <vector>

namespace harvix {

class CacheReader;

struct CacheSource {
    QString browser;  // display name
    QString profile;  // empty where the browser has no profiles
    std::function<std::unique_ptr<CacheReader>()> makeReader;
};

// Every browser cache found now.
std::vector<CacheSource> findCacheSources();

}  // namespace harvix
