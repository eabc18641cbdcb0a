// The process-wide settings record and the settings file Harvix.cfg.
//
// Section GENERAL holds the fourteen keys of the first versions, in the
// order of the fields below with the watch keys of the first browsers
// (Mozilla, IE, Maxthon) in their places, then the keys added since
// (CacheWindowColumns), then the watch key of every browser row added since
// (UseChromium, ...). Booleans are stored as 1/0; on
// reading, any value whose leading integer is not 0 is true ("2" is true,
// "yes" is false). An empty or missing value keeps the field's current value;
// a watch key missing from the file takes its row's default. The watch key of
// a row whose default follows the machine (on where the browser is installed
// or has a cache) is written only while it differs from that default, so
// that the default is asked anew at every start until the user chooses.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "engine/Browsers.h"

namespace harvix {

namespace fs = std::filesystem;

struct LanguageTexts;

struct Settings {
    // Stored keys, in file order (the watch keys stand in `watch`).
    std::string MozillaCachePath;
    std::string DefaultCombPath = "~/HX_FILES";
    std::string DefaultFileNameDummy = "file";
    std::string FiltersFileName;
    bool ShowNotifyProgressBar = true;
    bool NotifyProgressBarOnCenter = true;
    int32_t NotifyProgressTransparency = 100;
    bool OneCopy = true;
    bool SkipDuplicates = true;
    bool StartWithWindowsStartUp = true;
    std::string Language;  // full path of the language file; set by initSettings
    // The cache window's columns shown (their names, comma-separated); empty
    // for the columns shown at first.
    std::string CacheWindowColumns;
    // Each browser row's watching, by its settings key ("Mozilla",
    // "UseChromium", ...). A row without a value here has its default.
    std::map<std::string, bool> watch;

    // Computed at start-up, never stored.
    fs::path exePath;            // the running executable
    fs::path exeDir;             // its folder (the program folder)
    fs::path dataDir;            // where Langs/, Filters/ and help/ live
    fs::path cfgPath;            // the settings file
    fs::path defaultFilterPath;  // Filters/Default.flt
    // The user's filter files: Harvix/Filters in the configuration folder
    // ($XDG_CONFIG_HOME). The files under dataDir come with the program and
    // are never written; a set loaded from one is saved here.
    fs::path userFiltersDir;
    fs::path langsDir;  // Langs (the folder searched for language files)
    fs::path helpPath;  // help/index.html

    // Start-up: computes the paths, loads the file, applies the autostart
    // entry, writes every key back and loads the language file.
    void initSettings(LanguageTexts& texts);
    // Computes the paths of the running program (the first steps of initSettings).
    void computePaths();
    // Reads every stored key from cfgPath.
    void loadSettings();
    // Writes every stored key to cfgPath, then applies the autostart entry.
    // Always returns true: a file that cannot be written is not reported.
    bool saveSettings();
    // Adds or removes the autostart entry according to StartWithWindowsStartUp.
    void applyAutostart() const;
    // Whether `row`'s browser is watched, and switching it.
    bool watches(const BrowserRow& row) const;
    void setWatches(const BrowserRow& row, bool on);
    // The rows watched, in table order.
    std::vector<const BrowserRow*> watchedRows() const;
    // True for a file that comes with the program: one below dataDir
    // (links resolved, so that no other spelling of the path slips by).
    bool isShippedFile(const fs::path& path) const;
    // The user's default filter file, userFiltersDir/Default.flt.
    fs::path userDefaultFilterPath() const { return userFiltersDir / defaultFilterPath.filename(); }
    // Opacity of the progress window, 0..255 (the stored value modulo 256).
    int progressOpacity() const;
};

}  // namespace harvix
