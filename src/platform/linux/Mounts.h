// Whether a folder lies on a local, fixed drive (not a network share, an
// optical disc or a removable device), as the platform answers
// isLocalFixedFolder.
#pragma once

#include <filesystem>

namespace harvix {

namespace fs = std::filesystem;

// `path` is absolute; a part that does not exist yet is judged by the
// nearest existing folder above it.
bool isLocalFixedPath(fs::path path);

}  // namespace harvix
