// How an error report reads to the user: the text of the error box the tray
// program shows, and the line harvix-cli prints. Front-end code: it knows the
// language texts, which the core does not.
#pragma once

#include <string>

#include "app/LanguageTexts.h"
#include "base/ErrorReport.h"
#include "engine/Browsers.h"

namespace harvix {

// True for the reports the user sees as a box: a cache that cannot be
// opened (whichever browser's), and a target folder that cannot be made (or
// lies in the cache, or a stem that cannot stand in a file name). Copy
// failures are counted, not shown one by one.
bool showsErrorBox(const ErrorReport& report);

// The box text: the module's label, " \n", the body by kind (from `texts`;
// for a cache that cannot be opened, the text `browser` names, else
// Firefox's), then "\n", the language's label for extra information
// (ErrorExtraInfo), ": \n" and the system's text when there is one. Empty
// for reports that show no box.
std::string errorBoxText(const ErrorReport& report, const LanguageTexts& texts,
                         const BrowserRow* browser = nullptr);

// What the tray's notice says of a cache that could not be opened and had
// no box: the text `browser` names (as errorBoxText), the folder or file
// tried and the system's text.
std::string cacheOpenText(const ErrorReport& report, const LanguageTexts& texts,
                          const BrowserRow* browser);

// One line for standard error, without the box's label: what failed, on
// which file, and why.
std::string errorLine(const ErrorReport& report);

}  // namespace harvix
