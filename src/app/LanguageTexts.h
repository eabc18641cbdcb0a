// The table of user-interface texts. It starts with built-in English texts;
// a language file (*.lng, section GENERAL) overrides the texts it provides.
// Texts are never reset before a load: keys missing from a file keep the text
// they had.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace harvix {

namespace fs = std::filesystem;

struct Settings;

// Every key with its built-in English text, in file order.
#define HARVIX_LANGUAGE_KEYS(X)                                                                    \
    X(Comments, "")                                                                                \
    X(TrayMenuAbout, "About")                                                                      \
    X(TrayMenuExit, "Exit")                                                                        \
    X(TrayMenuOptions, "Options")                                                                  \
    X(TrayMenuVisit, "Visit Our Site")                                                             \
    X(TrayMenuLastVersion, "Download the Last Version")                                            \
    X(TrayMenuHelp, "Help")                                                                        \
    X(TrayMenuFilters, "Filters")                                                                  \
    X(FilterListEnabled, "En.")                                                                    \
    X(FilterListContentType, "Content Type")                                                       \
    X(FilterListMinSize, "Min Size")                                                               \
    X(FilterListURL, "URL")                                                                        \
    X(FilterListMinWidth, "Min Width (pixels)")                                                    \
    X(FilterListMinHeight, "Min Height (pixels)")                                                  \
    X(FilterListDirectory, "Folder Path")                                                          \
    X(FilterListFileNameDummy, "Filename Dummy")                                                   \
    X(New, "New")                                                                                  \
    X(Open, "Open")                                                                                \
    X(Save, "Save")                                                                                \
    X(Add, "Add")                                                                                  \
    X(Delete, "Delete")                                                                            \
    X(Edit, "Edit")                                                                                \
    X(Up, "Up")                                                                                    \
    X(Down, "Down")                                                                                \
    X(Options, "Options")                                                                          \
    X(Help, "Help")                                                                                \
    X(OpenFolder, "Open Folder")                                                                   \
    X(CheckAll, "Check All")                                                                       \
    X(UncheckAll, "Uncheck All")                                                                   \
    X(OK, "OK")                                                                                    \
    X(Cancel, "Cancel")                                                                            \
    X(CombMozilla, "Capture and Save Files from Mozilla")                                          \
    X(CombIE, "Capture and Save Files from IE and Maxthon")                                        \
    X(BrowseDirectory, "Browse a suitable folder:")                                                \
    X(ErrorDirectory, "The folder path is wrong. Please, select a correct path.")                  \
    X(ErrorLoadDefaultFilter, "Can't load default filter.")                                        \
    X(ErrorMozillaCacheOpen,                                                                       \
      "Can't open Mozilla cache. Please, define the correct path in the Options dialog.")          \
    X(ErrorCreateFolder, "Can't create the folder")                                                \
    X(ErrorExtraInfo, "Extra information")                                                         \
    X(WarningAreYouSure, "Are you sure?")                                                          \
    X(WarningCloseBrowser, "has to be closed. Please, close the browser and try again.")           \
    X(WarningChanged, "The filter has been changed. Would you like to save the filter in a file?") \
    X(NewFilter, "New Filter")                                                                     \
    X(OptTitle, "Options")                                                                         \
    X(OptStartWithWindowsStartUp, "Start at login")                                                \
    X(ShowProgressBar, "Show Progress Bar")                                                        \
    X(OptLanguage, "Language")                                                                     \
    X(OptMain, "Main")                                                                             \
    X(OptBrowsers, "Browsers")                                                                     \
    X(OptFilters, "Filters")                                                                       \
    X(OptUseWithIE, "Use with Microsoft Internet Explorer")                                        \
    X(OptUseWithMaxthon, "Use with Maxthon")                                                       \
    X(OptUseWithMozilla, "Use with Mozilla Firefox")                                               \
    X(OptFindMozillaCache, "Find Cache")                                                           \
    X(OptMozillaCachePath, "Mozilla Cache Folder")                                                 \
    X(OptOneCopy, "One Copy")                                                                      \
    X(OptSkipDuplicates, "Skip Duplicates")                                                        \
    X(OptDefaultCombPath, "Default Folder to Save")                                                \
    X(OptDefaultFileNameDummy, "Default Filename Dummy")                                           \
    X(AboutTitle, "About")                                                                         \
    X(CombChromium, "Capture and Save Files from Chromium")                                        \
    X(CombChrome, "Capture and Save Files from Google Chrome")                                     \
    X(CombEdge, "Capture and Save Files from Microsoft Edge")                                      \
    X(CombBrave, "Capture and Save Files from Brave")                                              \
    X(CombVivaldi, "Capture and Save Files from Vivaldi")                                          \
    X(CombOpera, "Capture and Save Files from Opera")                                              \
    X(CombApps, "Capture and Save Files from Desktop Apps")                                        \
    X(CombOtherBrowsers, "Other Browsers")                                                         \
    X(OptUseWithChromium, "Use with Chromium")                                                     \
    X(OptUseWithChrome, "Use with Google Chrome")                                                  \
    X(OptUseWithEdge, "Use with Microsoft Edge")                                                   \
    X(OptUseWithBrave, "Use with Brave")                                                           \
    X(OptUseWithVivaldi, "Use with Vivaldi")                                                       \
    X(OptUseWithOpera, "Use with Opera")                                                           \
    X(OptUseWithApps, "Use with desktop apps (Discord, Slack, Visual Studio Code, ...)")           \
    X(BrowserNameMozilla, "Mozilla Firefox")                                                       \
    X(BrowserNameIE, "Microsoft Internet Explorer")                                                \
    X(BrowserNameMaxthon, "Maxthon")                                                               \
    X(BrowserNameChromium, "Chromium")                                                             \
    X(BrowserNameChrome, "Google Chrome")                                                          \
    X(BrowserNameEdge, "Microsoft Edge")                                                           \
    X(BrowserNameBrave, "Brave")                                                                   \
    X(BrowserNameVivaldi, "Vivaldi")                                                               \
    X(BrowserNameOpera, "Opera")                                                                   \
    X(BrowserNameApps, "Desktop apps")                                                             \
    X(ErrorChromiumCacheOpen,                                                                      \
      "Can't find the browser's cache. Has the browser been used by this user?")                   \
    X(ErrorAppsCacheOpen,                                                                          \
      "Can't find the cache of any desktop app (below ~/.config). Has such an app been used by "   \
      "this user?")                                                                                \
    X(ErrorIECacheOpen,                                                                            \
      "Can't open the cache of Internet Explorer and Maxthon (index.dat in the Wine prefix).")     \
    X(BrowseCache, "Browse Cache")                                                                 \
    X(BrowseBrowser, "Browser")                                                                    \
    X(BrowseProfile, "Profile")                                                                    \
    X(BrowseRead, "Read")                                                                          \
    X(BrowseSearch, "Search in URLs")                                                              \
    X(BrowseType, "Type")                                                                          \
    X(BrowseSize, "Size")                                                                          \
    X(BrowseTime, "Time")                                                                          \
    X(BrowseDataFile, "Data File")                                                                 \
    X(BrowseFileName, "File name")                                                                 \
    X(BrowseSaveSelected, "Save Selected...")                                                      \
    X(BrowseMakeFilterItem, "Make Filter Item")                                                    \
    X(BrowseEntries, "%1 entries")                                                                 \
    X(BrowseReading, "Reading the cache...")                                                       \
    X(BrowseCancelled, "Reading cancelled")                                                        \
    X(BrowseSaved, "%1 saved in %2")                                                               \
    X(BrowseDuplicates, "%1 duplicates skipped")                                                   \
    X(BrowseFailed, "%1 could not be saved")                                                       \
    X(BrowseNoCache, "No browser cache was found.")                                                \
    X(BrowseServiceWorkerCaches, "service-worker caches")                                          \
    X(BrowseTooLarge, "Too large for a preview")                                                   \
    X(BrowseUnreadable, "The stored data cannot be read")                                          \
    X(ProgressCount, "%1: %2 of %3")                                                               \
    X(ProgressCancelling, "Cancelling...")                                                         \
    X(NotifyCombed, "%1: comb finished")                                                           \
    X(NotifyCancelled, "%1: comb cancelled")                                                       \
    X(NotifyFailedTitle, "%1: comb failed")                                                        \
    X(NotifyKept, "Files kept: %1, in %2")                                                         \
    X(NotifyNoneKept, "No new files kept")                                                         \
    X(NotifyCancelledKept, "The files copied before the cancel are kept.")                         \
    X(NotifyDuplicates, "Duplicates skipped: %1")                                                  \
    X(NotifyTooSmall, "Pictures too small: %1")                                                    \
    X(NotifyFailed, "Could not be copied: %1")                                                     \
    X(NotifyClickToOpen, "Click to open %1")                                                       \
    X(BrowseSaving, "Saving: %1 of %2")                                                            \
    X(BrowseSaveCancelled, "Saving cancelled")                                                     \
    X(BrowseNoReader, "No reader for this cache.")                                                 \
    X(SaveAs, "Save As")                                                                           \
    X(ErrorShippedFilter,                                                                          \
      "The filter files that come with Harvix are never changed. Please, save the filter under "   \
      "another name.")                                                                             \
    X(ErrorSize,                                                                                   \
      "The size cannot be read. Write a number of bytes or a number with a unit (100k, 2 MB), at " \
      "most 2 GiB.")                                                                               \
    X(ErrorPixels, "Write a whole number of pixels (0 for no limit).")                             \
    X(ErrorDirectoryEmpty, "No folder is given.")                                                  \
    X(ErrorDirectoryRelative, "The folder must be a full path that begins with / or ~/.")          \
    X(ErrorDirectoryRoot, "The root folder itself cannot hold the saved files.")                   \
    X(ErrorDirectoryNotLocal,                                                                      \
      "The folder lies on a network, removable or optical disk; choose one on a local disk.")      \
    X(NoteTakenEarlier, "With One Copy, the earlier item %1 (%2) takes these entries first.")      \
    X(FilterListSiteTree, "Save at the URL's path (host/folders/file)")                            \
    X(BrowseStatus, "Status")                                                                      \
    X(BrowseResponseTime, "Response Time")                                                         \
    X(BrowseLastUsed, "Last Used")                                                                 \
    X(BrowseExpires, "Expires")                                                                    \
    X(BrowseExportWarc, "Export as Web Archive...")                                                \
    X(BrowseExporting, "Exporting: %1 entries")                                                    \
    X(BrowseExported, "%1 responses archived in %2")                                               \
    X(BrowseExportLeftOut, "%1 left out")                                                          \
    X(BrowseDecodedSize, "Decoded Size")

struct BrowserRow;

struct LanguageTexts {
#define HARVIX_DECLARE_TEXT(key, text) std::string key = text;
    HARVIX_LANGUAGE_KEYS(HARVIX_DECLARE_TEXT)
#undef HARVIX_DECLARE_TEXT

    // The key names in file order, and the member each one fills.
    struct Key {
        const char* name;
        std::string LanguageTexts::*text;
    };
    static const std::vector<Key>& Keys();

    // The text of the key named `name` (a browser row names its texts so);
    // empty for a name that is no key.
    const std::string& byKey(std::string_view name) const;
    // The name of `row`'s browser as the user reads it: its name text, else
    // the table's name.
    std::string browserName(const BrowserRow& row) const;
};

// Reads the file named by settings.Language into `texts`; keys the file does
// not provide (or provides empty) keep their text. Returns true.
bool loadLanguage(LanguageTexts& texts, const Settings& settings);

// The language's display name: GENERAL/Language of the file, empty when the
// file or the key is missing.
std::string getLanguageName(const fs::path& languageFile);

struct LanguageList {
    std::vector<std::pair<std::string, fs::path>> entries;  // (display name, full path)
    int current = -1;                                       // -1 when the list is empty
};

// The language files in settings.langsDir (every "*.lng" that is not a
// folder), sorted by file name. The current entry is the first
// whose path equals settings.Language exactly; when none does, the first
// entry becomes current and settings.Language is set to it.
LanguageList listLanguages(Settings& settings);

}  // namespace harvix
