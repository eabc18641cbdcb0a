// What the fault tests share: small file systems that fill up or turn
// read-only on demand, and exact pictures of a folder (bytes and times) to
// show that nothing in it changed.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

namespace harvix {

namespace fs = std::filesystem;

// A tmpfs of a given size mounted on a folder, unmounted when the object
// goes. Mounting needs root (CAP_SYS_ADMIN), which CI has; elsewhere
// ok() is false and the test says why it skips. The mounts are made in a
// mount namespace of the test process's own when the kernel allows it, so
// that a crashed test leaves none behind.
class TmpfsMount {
public:
    TmpfsMount(const fs::path& where, std::size_t bytes);
    ~TmpfsMount();
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;

    bool ok() const { return mounted_; }
    // Why the mount failed, for the skip message.
    const std::string& failure() const { return failure_; }
    // The file system refuses (or takes again) every write from now on.
    bool setReadOnly(bool readOnly);

private:
    fs::path where_;
    std::size_t bytes_;
    bool mounted_ = false;
    std::string failure_;
};

// A USB stick or SD card: a file system of the FAT family in an image file
// on a loop device, mounted on a folder and unmounted (the image removed)
// when the object goes. exFAT is mounted through exfat-fuse, as desktops
// without the kernel's driver mount it; FAT through the kernel's vfat. It
// needs root, loop devices, mkfs.exfat or mkfs.vfat and FUSE (or vfat);
// elsewhere ok() is false and failure() says what is missing. The FUSE
// server is this process's child and dies with it.
class StickMount {
public:
    enum class Kind { ExfatFuse, Vfat };
    StickMount(const fs::path& where, Kind kind, std::size_t bytes = 32u << 20);
    ~StickMount();
    StickMount(const StickMount&) = delete;
    StickMount& operator=(const StickMount&) = delete;

    bool ok() const { return mounted_; }
    const std::string& failure() const { return failure_; }

private:
    bool attachLoop(const fs::path& image, std::string& device);

    fs::path where_;
    fs::path image_;
    pid_t server_ = -1;  // the FUSE server, when there is one
    int loop_ = -1;
    bool mounted_ = false;
    std::string failure_;
};

// Writes into `folder` until its file system is full; returns the bytes
// written.
std::uintmax_t fillDisk(const fs::path& folder, const std::string& name = "filler");

// One file as a test sees it: its bytes and everything a write would change.
struct FileState {
    std::string bytes;
    mode_t mode = 0;
    off_t size = 0;
    int64_t mtimeNs = 0;
    int64_t ctimeNs = 0;
    ino_t inode = 0;
    bool operator==(const FileState& other) const = default;
};

// Every file and folder below `folder`, by relative path (folders with empty
// bytes). Symbolic links are recorded, not followed.
std::map<std::string, FileState> snapshotFolder(const fs::path& folder);

// Sets the modification time of every file below `folder` to a fixed past
// moment, so that a write in the test's second would show.
void ageFiles(const fs::path& folder);

// Names in `folder` that a failed or half-done write would leave: the
// temporary files of the atomic writer and of the readers' copies.
std::size_t countTemporaryFiles(const fs::path& folder);

}  // namespace harvix
