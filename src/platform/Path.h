// Paths and their text. Strings are UTF-8; paths are fs::path and pass
// through pathFromUtf8 / pathToUtf8 only, so a Windows build reads the same
// bytes as UTF-8 too.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace harvix {

namespace fs = std::filesystem;

fs::path pathFromUtf8(std::string_view text);
std::string pathToUtf8(const fs::path& path);

// A folder or a regular file itself; a link to one is neither. Cache folders
// are walked without following links, so that a link cannot lead a reader
// out of the cache.
bool isFolderNotLink(const fs::path& path);
bool isFileNotLink(const fs::path& path);

// A folder the user or the discovery names, resolved (it may itself be a
// link: a cache moved to another disk) and without a trailing separator;
// empty when it is no folder.
fs::path namedFolder(const fs::path& given);

// The folders directly below `folder`, links left out, in name order. The
// type comes from the folder's listing: a cache folder of many thousand
// files costs no look at each file. `failed` is set when the folder could
// not be listed, or not to its end.
std::vector<fs::path> subfoldersOf(const fs::path& folder, bool* failed = nullptr);

}  // namespace harvix
