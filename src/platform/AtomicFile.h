// Safe replacement of a file the program rewrites (settings, filter files,
// the autostart entry): the new content goes to a temporary file in the same
// folder, is flushed to the disk and then renamed over the old file. A crash
// or a full disk leaves either the old file or the new one, never a half.
#pragma once

#include <filesystem>
#include <string_view>

namespace harvix {

namespace fs = std::filesystem;

// Writes `content` to `path` as described above. Returns false (and leaves
// the old file untouched, errno set) when any step fails. A symbolic link is
// followed, so that the file it points at is replaced and the link kept; an
// existing file's permission bits are kept.
bool writeFileAtomically(const fs::path& path, std::string_view content);
// The same with the error as the result: 0, or the errno of the step that
// failed.
int writeFileAtomicallyError(const fs::path& path, std::string_view content);

// Test hook: when set, the write step fails as on a full disk after this many
// bytes (negative: never). Only tests set it.
void setAtomicWriteFailureForTesting(long long failAfterBytes);

}  // namespace harvix
