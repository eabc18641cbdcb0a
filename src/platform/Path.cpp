#include "platform/Path.h"

#include <algorithm>
#include <system_error>

namespace harvix {

fs::path pathFromUtf8(std::string_view text) {
    return fs::path(std::u8string(reinterpret_cast<const char8_t*>(text.data()), text.size()));
}

std::string pathToUtf8(const fs::path& path) {
    const std::u8string u8 = path.u8string();
    return std::string(reinterpret_cast<const char*>(u8.data()), u8.size());
}

bool isFolderNotLink(const fs::path& path) {
    std::error_code error;
    return fs::is_directory(fs::symlink_status(path, error));
}

bool isFileNotLink(const fs::path& path) {
    std::error_code error;
    return fs::is_regular_file(fs::symlink_status(path, error));
}

fs::path namedFolder(const fs::path& given) {
    std::error_code error;
    fs::path folder = fs::weakly_canonical(given, error);
    if (error || !isFolderNotLink(folder)) {
        return {};
    }
    return folder.has_filename() ? folder : folder.parent_path();
}

std::vector<fs::path> subfoldersOf(const fs::path& folder, bool* failed) {
    std::vector<fs::path> found;
    std::error_code error;
    fs::directory_iterator it(folder, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        // is_symlink and is_directory answer from the listing's entry type
        // and look at the file only where the file system gives none.
        std::error_code typeError;
        if (!it->is_symlink(typeError) && it->is_directory(typeError)) {
            found.push_back(it->path());
        }
    }
    if (failed != nullptr) {
        *failed = static_cast<bool>(error);
    }
    std::sort(found.begin(), found.end());
    return found;
}

}  // namespace harvix
