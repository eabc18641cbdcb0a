// ErrorReport: the one exception type of the program's own code. It is a
// value: it says who failed (module), what failed (kind), on which file or
// folder, and the system's error number taken where the failure was decided.
// Building or throwing one shows nothing; the front ends decide how the user
// is told (app/ErrorText.h turns a report into the text of the error box).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace harvix {

class ErrorReport : public std::runtime_error {
public:
    // Who reports. The numbers are those of the program's earlier reports;
    // FilterCache is the comb and what saves or exports entries (filter/),
    // BodyCopy the copy of an entry's stored bytes (readers/BodyCopy),
    // CacheReader the reader that joins several stores into one cache
    // (readers/CombinedReader), the others the reader of one cache format.
    // A new reporter is appended: stored numbers never change.
    enum Module : int32_t {
        FilterCache = 1,
        MozillaCache = 2,
        IECache = 3,
        ChromiumCache = 4,
        BodyCopy = 5,
        CacheReader = 6,
    };
    // What failed.
    enum Kind : int32_t {
        FileOpen = 4,
        FileRead = 5,
        FileWrite = 6,
        FileCopy = 7,
        CreateFolder = 9,
        // A cache could not be opened (the folder or index tried is `path`).
        CacheOpen = 10,
        // A target folder lies at or below the cache folder (`secondPath`):
        // the cache is only ever read, so nothing is copied into it.
        TargetInCache = 11,
        // A file-name stem that cannot stand in a name ('/' or NUL).
        BadFileName = 12,
        // The stored body is encoded in a way this build cannot decode.
        Unsupported = 13,
    };

    // `systemError` is the errno of the failed call, 0 when no system call
    // failed (the report then carries no system text).
    ErrorReport(Module module, Kind kind, std::string path, std::string secondPath = {},
                int systemError = 0);

    Module module() const { return module_; }
    Kind kind() const { return kind_; }
    const std::string& path() const { return path_; }
    const std::string& secondPath() const { return secondPath_; }
    int systemError() const { return systemError_; }
    // The system's text for systemError(); empty when it is 0.
    std::string systemText() const;

private:
    Module module_;
    Kind kind_;
    std::string path_;
    std::string secondPath_;
    int systemError_;
};

}  // namespace harvix
