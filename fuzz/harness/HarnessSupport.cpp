#include "HarnessSupport.h"

#include <fstream>
#include <iterator>

#include "base/ContentType.h"
#include "base/Text.h"
#include "readers/CacheReader.h"

namespace harvix::fuzzing {

void check(bool condition, std::string_view rule) {
    if (!condition) {
        throw HarnessFailure(std::string(rule));
    }
}

void clearFolder(const fs::path& folder) {
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code removeError;
        fs::remove_all(it->path(), removeError);
    }
}

void writeBytes(const fs::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    check(static_cast<bool>(out), "cannot write the scratch file " + path.string());
}

std::string readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::map<std::string, std::string> snapshotOf(const fs::path& folder) {
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (it->is_regular_file(typeError)) {
            files[fs::relative(it->path(), folder, typeError).string()] = readBytes(it->path());
        } else if (!it->is_directory(typeError)) {
            files[fs::relative(it->path(), folder, typeError).string()] = "(not a file)";
        }
    }
    return files;
}

void checkEntryTexts(const CacheEntry& entry) {
    check(isValidUtf8(entry.url), "an entry's URL is not valid UTF-8");
    check(isValidUtf8(entry.contentTypeText), "an entry's content type is not valid UTF-8");
    check(isValidUtf8(entry.dataFile), "an entry's data file is not valid UTF-8");
    check(contentTypeInfo(entry.contentType) != nullptr && !isContentTypeGroup(entry.contentType),
          "an entry's content-type code is no type's");
}

}  // namespace harvix::fuzzing
