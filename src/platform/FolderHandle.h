// A folder held open, and folders reached below it one name at a time.
//
// Saving a file at a path made from a URL must never land outside the
// folder it was meant for, whatever the URL holds and whatever stands on
// disk: every folder below the held one is made (mkdirat) and opened
// (openat with O_NOFOLLOW) by a single name relative to the handle of its
// parent, so neither "..", nor a separator, nor a symbolic link found or
// swapped in on the way can lead elsewhere.
#pragma once

#include <filesystem>
#include <string>

namespace harvix {

namespace fs = std::filesystem;

class FolderHandle {
public:
    FolderHandle() = default;
    ~FolderHandle();
    FolderHandle(FolderHandle&& other) noexcept;
    FolderHandle& operator=(FolderHandle&& other) noexcept;
    FolderHandle(const FolderHandle&) = delete;
    FolderHandle& operator=(const FolderHandle&) = delete;

    // Opens the existing folder `folder` (the user's own choice, so links
    // on its way are followed).
    static FolderHandle open(const fs::path& folder);

    explicit operator bool() const { return fd_ >= 0; }
    // The errno of the failed open.
    int error() const { return error_; }

    // The folder `name` inside this one, made when missing. `name` must be
    // one plain component (no '/', not "." or ".."; EINVAL otherwise).
    // ENOTDIR when the name is taken by something that is not a folder (a
    // file, or a link, which is never followed).
    FolderHandle child(const std::string& name) const;
    // True when something (a file, a folder, a link) stands under `name`.
    bool holds(const std::string& name) const;
    // A path that reaches this very folder while the handle is open,
    // however the folders above it are renamed or replaced meanwhile: for
    // creating and naming a file inside it (NewFile).
    fs::path heldPath() const;

private:
    explicit FolderHandle(int fd) : fd_(fd) {}
    static FolderHandle failed(int error);

    int fd_ = -1;
    int error_ = 0;
};

}  // namespace harvix
