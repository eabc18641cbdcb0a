// Which mount holds a folder, and whether it lies on a local, fixed drive:
// read from /proc/self/mountinfo and the block devices' removable flags.
#include "platform/linux/Mounts.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include "platform/Path.h"

namespace harvix {

namespace {

std::string readSmallFile(const fs::path& path, std::size_t limit = 4096) {
    std::ifstream in(path, std::ios::binary);
    std::string data(limit, '\0');
    in.read(data.data(), static_cast<std::streamsize>(limit));
    data.resize(static_cast<std::size_t>(in.gcount()));
    return data;
}

// One line of /proc/self/mountinfo: the mount point and the file-system type.
struct MountEntry {
    std::string mountPoint;
    std::string fsType;
    std::string source;
};

// Undoes the octal escapes (\040 for a blank) of mountinfo fields.
std::string unescapeMountField(std::string_view field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string_view oct = field.substr(i + 1, 3);
            if (oct.size() == 3 && oct.find_first_not_of("01234567") == std::string_view::npos) {
                out.push_back(static_cast<char>(std::stoi(std::string(oct), nullptr, 8)));
                i += 3;
                continue;
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

// The mount that holds `path` (an existing, canonical path): the entry with
// the longest mount point that is a prefix of it; later mounts win ties.
bool findMount(const fs::path& path, MountEntry* result) {
    std::ifstream in("/proc/self/mountinfo");
    const std::string target = pathToUtf8(path);
    std::size_t bestLength = 0;
    bool found = false;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string id, parent, devno, root, mountPoint;
        fields >> id >> parent >> devno >> root >> mountPoint;
        std::string field;
        while (fields >> field && field != "-") {
        }
        std::string fsType, source;
        fields >> fsType >> source;
        mountPoint = unescapeMountField(mountPoint);
        const bool prefix = target == mountPoint || mountPoint == "/" ||
                            (target.size() > mountPoint.size() &&
                             target.compare(0, mountPoint.size(), mountPoint) == 0 &&
                             target[mountPoint.size()] == '/');
        if (prefix && mountPoint.size() >= bestLength) {
            bestLength = mountPoint.size();
            *result = MountEntry{mountPoint, fsType, unescapeMountField(source)};
            found = true;
        }
    }
    return found;
}

bool isNetworkFsType(std::string_view type) {
    static constexpr std::string_view kNetwork[] = {"nfs",
                                                    "nfs4",
                                                    "cifs",
                                                    "smb3",
                                                    "smbfs",
                                                    "ncpfs",
                                                    "afs",
                                                    "coda",
                                                    "ceph",
                                                    "glusterfs",
                                                    "9p",
                                                    "davfs",
                                                    "lustre",
                                                    "ocfs2",
                                                    "gfs2",
                                                    "fuse.sshfs",
                                                    "sshfs",
                                                    "fuse.rclone",
                                                    "fuse.s3fs",
                                                    "fuse.gvfsd-fuse",
                                                    "fuse.davfs",
                                                    "fuse.glusterfs",
                                                    "fuse.ceph-fuse",
                                                    "fuse.smbnetfs",
                                                    "fuse.curlftpfs"};
    for (const std::string_view known : kNetwork) {
        if (type == known) {
            return true;
        }
    }
    return false;
}

bool isOpticalFsType(std::string_view type) {
    return type == "iso9660" || type == "udf";
}

// The kernel's removable flag of the block device `dev`, or of the disk that
// holds it when `dev` is a partition.
bool isRemovableDevice(dev_t dev) {
    if (major(dev) == 0) {
        return false;  // not backed by a block device (tmpfs, overlay, ...)
    }
    const fs::path sysDev = fs::path("/sys/dev/block") /
                            (std::to_string(major(dev)) + ":" + std::to_string(minor(dev)));
    std::error_code ec;
    const fs::path real = fs::canonical(sysDev, ec);
    if (ec) {
        return false;
    }
    for (const fs::path& candidate : {real / "removable", real.parent_path() / "removable"}) {
        const std::string flag = readSmallFile(candidate, 8);
        if (!flag.empty()) {
            return flag[0] == '1';
        }
    }
    return false;
}

}  // namespace

bool isLocalFixedPath(fs::path path) {
    std::error_code ec;
    path = path.lexically_normal();
    while (!fs::exists(path, ec)) {
        if (!path.has_relative_path()) {
            return false;
        }
        path = path.parent_path();
    }
    path = fs::canonical(path, ec);
    if (ec) {
        return false;
    }
    MountEntry mount;
    if (findMount(path, &mount)) {
        if (isNetworkFsType(mount.fsType) || isOpticalFsType(mount.fsType)) {
            return false;
        }
        if (mount.source.find("//") == 0 || mount.source.find(":/") != std::string::npos) {
            return false;  // host:/export or //server/share: a network source
        }
    }
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        return false;
    }
    return !isRemovableDevice(st.st_dev);
}

}  // namespace harvix
