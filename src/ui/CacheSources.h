// The caches the cache window offers: one per profile whose cache is found
// on this machine (Firefox's profiles, each profile of a browser of the
// Chromium family), one for a browser without profiles (the URL cache of
// Internet Explorer and Maxthon), each with the way to make its reader.
#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <vector>

namespace harvix {

class CacheReader;
class LanguageTexts;
struct Settings;

struct CacheSource {
    QString browser;  // display name
    QString profile;  // the profile's name; empty where there is none to tell
    std::function<std::unique_ptr<CacheReader>()> makeReader;
    QString folder;  // the folder read, as the user reads it; empty when unknown
    // The store, where it is not the browser's HTTP cache ("service-worker
    // caches"); empty for the HTTP cache.
    QString store = QString();

    // "Browser — profile", or the browser alone; "(store)" after it.
    QString label() const;
};

// Every browser cache found now, in the order of the browser table. Firefox:
// every profile of every profiles.ini (desktop, older desktop, Snap,
// Flatpak) that holds a cache, the profile in use first, and the folder the
// options remember (`settings`) when it holds a cache no profile gave. The
// Chromium family: every profile below each cache root of the browser. A
// profile's service-worker caches are a source of their own, named by
// `texts`. Browsers that share one cache (Internet Explorer and Maxthon)
// are one source. The home and cache folders come from the platform services.
std::vector<CacheSource> findCacheSources(const Settings& settings, const LanguageTexts& texts);

}  // namespace harvix
