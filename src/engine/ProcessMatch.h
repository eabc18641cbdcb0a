// How one browser's processes are told from every other process of the
// process table the platform lists.
//
// A process is known by three names: its image name (`comm`, which the
// kernel cuts at 15 bytes, so "chromium-browser" runs as "chromium-browse"),
// the file name of its executable and that of its argv[0]. Mozilla's builds
// name their main thread "GeckoMain", so the image name alone may tell
// nothing; the executable still says "firefox".
//
// Packaged installs are told by markers. A marker that holds a '/' is a
// folder: it names the processes whose executable or argv[0] lies below it
// ("/snap/chromium/"). Any other marker is a Flatpak application id
// ("org.chromium.Chromium"). A browser row gives its match
// (BrowserRow::processMatch): its process names, the markers of its own
// installs, and those of the other rows' installs.
#pragma once

#include <string>
#include <vector>

#include "platform/Platform.h"

namespace harvix {

struct ProcessMatch {
    // The names it runs under; any one counts (compared in any case).
    std::vector<std::string> names;
    // Markers of its own installs: a process they name is the browser
    // whatever it is called (Snap Chromium runs a binary named "chrome").
    std::vector<std::string> claims;
    // Markers of other browsers' installs: a process they name is not this
    // browser even when it bears one of `names`.
    std::vector<std::string> excludes;

    // Only the names.
    static ProcessMatch byNames(const std::vector<std::string>& names);
    // True when `process` is one of this browser's.
    bool matches(const ProcessInfo& process) const;
};

}  // namespace harvix
