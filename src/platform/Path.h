// Paths and their text. Strings are UTF-8; paths are fs::path and pass
// through pathFromUtf8 / pathToUtf8 only, so a Windows build reads the same
// bytes as UTF-8 too.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace harvix {

namespace fs = std::filesystem;

fs::path pathFromUtf8(std::string_view text);
std::string pathToUtf8(const fs::path& path);

}  // namespace harvix
