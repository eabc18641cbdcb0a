// Opening the files of a Chromium cache folder for the parsers.
#pragma once

#include <filesystem>
#include <memory>

#include "readers/chromium/ByteSource.h"

namespace harvix::chromium {

// Opens a cache file for reading: no link is followed, nothing that is not a
// regular file is opened, nothing blocks. Null on failure.
std::unique_ptr<ByteSource> openCacheFile(const std::filesystem::path& path);

}  // namespace harvix::chromium
