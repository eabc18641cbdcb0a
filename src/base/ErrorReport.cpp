#include "base/ErrorReport.h"

#include <cstring>

namespace harvix {

namespace {

std::string describe(ErrorReport::Module module, ErrorReport::Kind kind, const std::string& path) {
    const char* who = module == ErrorReport::FilterCache     ? "filter"
                      : module == ErrorReport::MozillaCache  ? "Firefox cache"
                      : module == ErrorReport::ChromiumCache ? "Chromium cache"
                      : module == ErrorReport::BodyCopy      ? "body copy"
                      : module == ErrorReport::CacheReader   ? "cache reader"
                                                             : "URL cache";
    return std::string(who) + " error " + std::to_string(static_cast<int>(kind)) + ": " + path;
}

}  // namespace

ErrorReport::ErrorReport(Module module, Kind kind, std::string path, std::string secondPath,
                         int systemError)
    : std::runtime_error(describe(module, kind, path)),
      module_(module),
      kind_(kind),
      path_(std::move(path)),
      secondPath_(std::move(secondPath)),
      systemError_(systemError) {}

std::string ErrorReport::systemText() const {
    if (systemError_ == 0) {
        return {};
    }
    char buffer[256];
    // The GNU strerror_r returns its text, which need not be in `buffer`.
    const char* text = strerror_r(systemError_, buffer, sizeof buffer);
    return text != nullptr ? std::string(text) : std::string();
}

}  // namespace harvix
