// The site's own folder tree: a saved file placed at its URL's path below a
// folder, "<folder>/<host>[_<port>]/<path>" (127.0.0.1_8080/img/a.png), as
// archivists keep a site.
//
// The URL is text from the cache, which anyone who served a page could
// shape. Its place is therefore made of plain names only, each fit for the
// file systems a target folder may lie on (no separators, no NUL or control
// characters, none of the characters FAT refuses, no trailing dot or
// blank, valid UTF-8, at most 255 bytes), and the folders are made and
// entered one name at a time below a held handle (platform/FolderHandle.h),
// so that no URL and nothing on disk can place a file outside the folder.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FolderHandle.h"
#include "platform/NewFile.h"

namespace harvix {

// Where a URL goes below the tree's folder: the folders, outermost first
// (the host, with "_<port>" for a port other than the scheme's own, then
// the path's folders), and the file's name. The path is read as a browser
// reads it: percent escapes decoded, "\" a separator, "." and ".." resolved
// (never above the host), empty segments dropped; a path ending in "/"
// names "index.html". The query stays readable after an "@" before the
// extension ("list@page=2.html"); the fragment is dropped. A name longer
// than kMaxSiteNameBytes keeps its start, a short hash of the whole and its
// extension.
struct SitePlace {
    std::vector<std::string> folders;
    std::string file;
};
SitePlace sitePlace(std::string_view url);

// Longest name the place is made of, in bytes: room under the file
// systems' 255 for the "_<n>" of a next free name.
inline constexpr std::size_t kMaxSiteNameBytes = 200;

// The folder of one place, made and held open.
struct SiteFolder {
    FolderHandle handle;
    std::string path;  // as shown: the tree's folder and the names taken
    int error = 0;     // why it could not be made (handle empty then)
};

// Makes and enters the folders of `place` below `tree` (which exists). A
// name taken by a file (or a link) is never replaced nor followed: the
// first of "<name>_1", "<name>_2", ... that is a folder or can be made is
// taken instead, so that "a" and "a/b.png" both keep their files.
SiteFolder openSiteFolder(const std::string& tree, const SitePlace& place);

// Names the complete `file` (created in folder.handle.heldPath()) `name`,
// or, when that is taken, "<stem>_1.<ext>", "<stem>_2.<ext>", ... : never
// over an existing file. The new file's path; "" with `failure` set (a
// reason a comb counts failures under) when it could not be named.
std::string nameInSiteFolder(NewFile& file, const SiteFolder& folder, const std::string& name,
                             std::string& failure);

// True when a regular file `name` of `folder` holds the same `size` bytes
// as the open file `fd` (a copy saved before).
bool siteFolderHoldsCopy(const SiteFolder& folder, const std::string& name, int fd, uint64_t size);

}  // namespace harvix
