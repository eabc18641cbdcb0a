// The one way the program creates a copy in a target folder.
//
// A copy is written anonymously and receives its name only when it is
// complete, so a half-written file is never seen under a real name and a
// failed or abandoned copy leaves nothing behind. Giving the name never
// replaces a file: when another program (or another comb) took the name in
// the meantime, linkAs fails with EEXIST and the caller picks the next name.
//
// Where the file system offers anonymous files (O_TMPFILE) none is visible
// at all until it is linked; elsewhere the copy is written under a hidden
// temporary name made with O_EXCL, which receives its real name in the best
// way the file system offers, never over an existing file:
//   - a hard link, then the hidden name is removed (ext4, btrfs, XFS, ...);
//   - a rename that refuses an existing target (RENAME_NOREPLACE: the
//     kernel's FAT and exFAT drivers, which have no hard links);
//   - else (exFAT and FAT through FUSE, which have neither) the real name is
//     created with O_EXCL and the finished copy written into it once more;
//     a failed write removes it again. This costs a second write of every
//     copy on such a file system; a copy is measured and compared before
//     it is named, so it cannot be written under its real name at once.
// Temporary names still in use, and a real name while it is being written,
// can be removed from a signal handler (removeTemporariesNow).
#pragma once

#include <filesystem>
#include <string>

namespace harvix {

namespace fs = std::filesystem;

class NewFile {
public:
    NewFile() = default;
    // Discards the file unless it was linked.
    ~NewFile();
    NewFile(NewFile&& other) noexcept;
    NewFile& operator=(NewFile&& other) noexcept;
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    // A new, empty file in `folder`, open for reading and writing. On
    // failure the result is false and error() holds the errno.
    static NewFile create(const fs::path& folder);

    explicit operator bool() const { return fd_ >= 0; }
    // The open file; after linkAs it may be another descriptor of the same
    // content (the named copy).
    int fd() const { return fd_; }
    // The errno of the last failure of create or linkAs.
    int error() const { return error_; }
    const fs::path& folder() const { return folder_; }

    // Gives the complete file the name `name` in its folder. False when it
    // cannot, with error() (and errno) saying why: EEXIST when a file of
    // that name exists (it is left as it is). The file stays open (it can
    // still be read); once linked it is the caller's file and is no longer
    // discarded.
    bool linkAs(const std::string& name);
    // Drops an unlinked file and closes it.
    void discard();
    // Truncates the content written so far (a retry starts afresh).
    bool truncate();

    // For harvix-cli's handler of the signals that end it (SIGINT, SIGTERM,
    // SIGHUP): removes every temporary name still in use. Async-signal-safe.
    static void removeTemporariesNow();

    // The ways a file system may offer to name a finished copy, best first.
    enum class Naming { Anonymous, HardLink, RenameNoReplace, ExclusiveCopy };
    // Tests only: behave as on a file system whose best way is `best`.
    static void setBestNamingForTesting(Naming best);

private:
    bool nameByCopy(const std::string& target);

    int fd_ = -1;
    int error_ = 0;
    int slot_ = -1;  // signal-handler slot of the temporary name, or -1
    bool linked_ = false;
    fs::path folder_;
    std::string tempName_;  // the temporary name; empty for an anonymous file
};

}  // namespace harvix
