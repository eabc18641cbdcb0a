#include "filter/SiteTree.h"

#include <cerrno>
#include <cstdio>

#include "base/Text.h"
#include "filter/CombPass.h"
#include "filter/FileDigest.h"
#include "platform/FileHandle.h"
#include "platform/Path.h"

namespace harvix {

namespace {

int hexValue(char ch) {
    if (ch >= '0' && ch <= '9') {
        return ch - '0';
    }
    if (ch >= 'a' && ch <= 'f') {
        return ch - 'a' + 10;
    }
    if (ch >= 'A' && ch <= 'F') {
        return ch - 'A' + 10;
    }
    return -1;
}

std::string percentDecoded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() + 0 && hexValue(text[i + 1]) >= 0 &&
            hexValue(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

void appendEscaped(std::string& out, unsigned char byte) {
    char escaped[4];
    std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
    out += escaped;
}

// `text` fit to stand in one name on any file system a folder may lie on:
// separators, NUL, control characters and the characters FAT refuses
// become %XX, as do the bytes of text that is not valid UTF-8, and a
// trailing dot or blank (which FAT drops).
std::string safeText(std::string_view text) {
    const bool utf8 = isValidUtf8(text);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const bool last = i + 1 == text.size();
        if (byte < 0x20 || byte == 0x7F || (byte >= 0x80 && !utf8) ||
            std::string_view("/\\:*?\"<>|").find(static_cast<char>(byte)) !=
                std::string_view::npos ||
            (last && (byte == '.' || byte == ' '))) {
            appendEscaped(out, byte);
        } else {
            out.push_back(static_cast<char>(byte));
        }
    }
    return out;
}

// Where a name's extension starts (its last dot before 1 to 10 letters or
// digits), or npos.
std::size_t extensionStart(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || name.size() - dot - 1 > 10 ||
        dot + 1 == name.size()) {
        return std::string_view::npos;
    }
    for (std::size_t i = dot + 1; i < name.size(); ++i) {
        const char ch = name[i];
        if (!((ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z'))) {
            return std::string_view::npos;
        }
    }
    return dot;
}

// A name of at most kMaxSiteNameBytes: a longer one keeps its start (whole
// characters), "~", eight hex digits of a hash of the whole name, and its
// extension, so that long names that share their start stay apart.
std::string shortened(const std::string& name) {
    if (name.size() <= kMaxSiteNameBytes) {
        return name;
    }
    uint32_t hash = 2166136261u;  // FNV-1a
    for (const char ch : name) {
        hash = (hash ^ static_cast<unsigned char>(ch)) * 16777619u;
    }
    const std::size_t ext = extensionStart(name);
    const std::string extension = ext == std::string::npos ? "" : name.substr(ext);
    std::size_t keep = kMaxSiteNameBytes - 9 - extension.size();
    while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) {
        --keep;  // never inside a character
    }
    char tail[10];
    std::snprintf(tail, sizeof tail, "~%08x", hash);
    return name.substr(0, keep) + tail + extension;
}

// "<stem>_<n><ext>" for the n-th free name after `name`.
std::string numberedName(const std::string& name, uint32_t n) {
    const std::size_t ext = extensionStart(name);
    if (ext == std::string::npos) {
        return name + "_" + std::to_string(n);
    }
    return name.substr(0, ext) + "_" + std::to_string(n) + name.substr(ext);
}

}  // namespace

SitePlace sitePlace(std::string_view url) {
    SitePlace place;
    // Scheme, then the authority up to the first "/", "\", "?" or "#".
    std::string scheme;
    const std::size_t colon = url.find("://");
    if (colon != std::string_view::npos) {
        scheme = toLowerAscii(url.substr(0, colon));
        url.remove_prefix(colon + 3);
    }
    const std::size_t authorityEnd = url.find_first_of("/\\?#");
    std::string_view authority = url.substr(0, authorityEnd);
    url.remove_prefix(authorityEnd == std::string_view::npos ? url.size() : authorityEnd);
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
        authority.remove_prefix(at + 1);  // no user name or password in a folder name
    }
    std::string_view host = authority;
    std::string_view port;
    const std::size_t bracket = authority.rfind(']');
    const std::size_t portColon = authority.rfind(':');
    if (portColon != std::string_view::npos &&
        (bracket == std::string_view::npos || portColon > bracket)) {
        host = authority.substr(0, portColon);
        port = authority.substr(portColon + 1);
    }
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    std::string hostName = safeText(percentDecoded(toLowerAscii(host)));
    if (hostName.empty() || hostName == "." || hostName == "..") {
        hostName = "_" + hostName;
    }
    const bool defaultPort =
        port.empty() || (scheme == "http" && port == "80") || (scheme == "https" && port == "443");
    if (!defaultPort) {
        hostName += "_" + safeText(percentDecoded(port));
    }
    place.folders.push_back(shortened(hostName));

    // The path, its query and its fragment.
    if (const std::size_t hash = url.find('#'); hash != std::string_view::npos) {
        url = url.substr(0, hash);
    }
    std::string_view query;
    if (const std::size_t question = url.find('?'); question != std::string_view::npos) {
        query = url.substr(question + 1);
        url = url.substr(0, question);
    }
    std::vector<std::string> segments;
    bool endsInFolder = true;
    while (!url.empty()) {
        const std::size_t end = url.find_first_of("/\\");
        const std::string segment = percentDecoded(url.substr(0, end));
        url.remove_prefix(end == std::string_view::npos ? url.size() : end + 1);
        endsInFolder = end != std::string_view::npos;
        if (segment == "..") {
            if (!segments.empty()) {
                segments.pop_back();
            }
        } else if (!segment.empty() && segment != ".") {
            segments.push_back(segment);
        }
        if (segment.empty() || segment == "." || segment == "..") {
            endsInFolder = true;  // "a/." and "a/.." name a folder as "a/" does
        }
    }
    std::string file = "index.html";
    if (!endsInFolder && !segments.empty()) {
        file = safeText(segments.back());
        segments.pop_back();
    }
    for (const std::string& segment : segments) {
        place.folders.push_back(shortened(safeText(segment)));
    }
    if (!query.empty()) {
        const std::string kept = "@" + safeText(percentDecoded(query));
        const std::size_t ext = extensionStart(file);
        file =
            ext == std::string::npos ? file + kept : file.substr(0, ext) + kept + file.substr(ext);
        if (file.back() == '.' || file.back() == ' ') {
            file = safeText(file);
        }
    }
    place.file = shortened(file);
    return place;
}

SiteFolder openSiteFolder(const std::string& tree, const SitePlace& place) {
    SiteFolder folder;
    folder.handle = FolderHandle::open(pathFromUtf8(tree));
    folder.path = tree;
    if (!folder.handle) {
        folder.error = folder.handle.error();
        return folder;
    }
    for (const std::string& name : place.folders) {
        FolderHandle next;
        std::string taken = name;
        for (uint32_t n = 1; n <= 1000; ++n) {
            next = folder.handle.child(taken);
            if (next || next.error() != ENOTDIR) {
                break;
            }
            taken = name + "_" + std::to_string(n);  // a file of that name keeps it
        }
        if (!next) {
            folder.error = next.error();
            folder.handle = FolderHandle();
            return folder;
        }
        folder.handle = std::move(next);
        folder.path = pathToUtf8(pathFromUtf8(folder.path) / pathFromUtf8(taken));
    }
    return folder;
}

std::string nameInSiteFolder(NewFile& file, const SiteFolder& folder, const std::string& name,
                             std::string& failure) {
    for (uint32_t n = 0; n <= 100000; ++n) {
        const std::string candidate = n == 0 ? name : numberedName(name, n);
        if (folder.handle.holds(candidate)) {
            continue;
        }
        if (file.linkAs(candidate)) {
            return pathToUtf8(pathFromUtf8(folder.path) / pathFromUtf8(candidate));
        }
        if (file.error() != EEXIST) {
            failure =
                copyFailureReason(ErrorReport(ErrorReport::FilterCache, ErrorReport::FileWrite,
                                              folder.path + "/" + candidate, {}, file.error()));
            return {};
        }
    }
    failure = "no free file name is left";
    return {};
}

bool siteFolderHoldsCopy(const SiteFolder& folder, const std::string& name, int fd, uint64_t size) {
    const FileHandle existing =
        FileHandle::openForReading(folder.handle.heldPath() / pathFromUtf8(name));
    return existing && existing.size() == size && sameBytes(fd, existing.fd(), size);
}

}  // namespace harvix
