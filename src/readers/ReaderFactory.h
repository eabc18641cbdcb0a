// Makes the cache reader for a browser kind, as a comb run does.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "readers/CacheReader.h"

namespace harvix {

// The reader for `browserKind` (0 Firefox, 1 Internet Explorer, 2 Maxthon;
// the last two share the system's URL cache): a Firefox reader whose cache folder is
// `cacheLocation` (empty: the remembered folder MozillaCachePath of the
// settings, which may itself be empty, so that Open finds the folder), or the
// URL-cache reader for kinds 1 and 2. Null for any other kind, or when the
// reader for the kind is not part of this build.
std::unique_ptr<CacheReader> makeBrowserReader(int32_t browserKind,
                                               const std::string& cacheLocation);

}  // namespace harvix
