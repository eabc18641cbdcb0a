// ErrorReport: the one exception type of the program's own code. Building a
// report is also the moment the user is told: the two failures that stop a
// comb run (the Firefox cache cannot be opened, a target folder cannot be
// created) show an error box through the notifier before the constructor
// returns; every other report is silent and only travels to its handler.
#pragma once

#include <cstdint>
#include <string>

namespace harvix {

class ErrorReport {
public:
    // Who reports.
    enum Module : int32_t { FilterCache = 1, MozillaCache = 2, IECache = 3 };
    // What failed.
    enum Kind : int32_t {
        FileOpen = 4,
        FileRead = 5,
        FileWrite = 6,
        FileCopy = 7,
        CreateFolder = 9
    };

    // Builds the report; for the two run-stopping cases it reads the last
    // system error of this thread and shows the box, waiting for the user.
    // `path` is the file or folder concerned, `secondPath` the copy target.
    ErrorReport(int32_t module, int32_t kind, const std::string& path,
                const std::string& secondPath = {});
    // A failure in copying one entry. Silent whatever the kind: a target
    // that cannot be created is a FileOpen of the reader's module too, but
    // only the open of the cache itself stops a run and shows the box.
    struct CopyStep {};
    ErrorReport(CopyStep, int32_t module, int32_t kind, const std::string& path,
                const std::string& secondPath = {});
    virtual ~ErrorReport() = default;
    ErrorReport(const ErrorReport&) = default;
    ErrorReport& operator=(const ErrorReport&) = default;

    // True for the reports that show a box.
    static bool showsBox(int32_t module, int32_t kind);

    // The box text: the module's label, " \n", the body by kind, then
    // "\nДоп. инфо: \n" and the system's text when there is one. Empty for
    // reports that show no box.
    static std::string boxText(int32_t module, int32_t kind, const std::string& path,
                               const std::string& systemText);
};

}  // namespace harvix
