#include "base/Profile.h"

#include <cerrno>
#include <cstring>

#include "platform/FileHandle.h"

#include <fstream>
#include <iterator>

#include "base/Text.h"
#include "platform/AtomicFile.h"

namespace harvix {

namespace {

constexpr std::size_t npos = std::string::npos;

// Profile files are small; anything past this is not one of ours and is not
// read whole into memory.
constexpr std::uintmax_t kMaxProfileBytes = 16u * 1024u * 1024u;

// The section name of a header line "[name]", or false when the line is none.
bool sectionName(std::string_view line, std::string_view* name) {
    const std::string_view trimmed = trim(line);
    if (trimmed.size() < 2 || trimmed.front() != '[') {
        return false;
    }
    const std::size_t close = trimmed.find(']');
    if (close == std::string_view::npos) {
        return false;
    }
    *name = trim(trimmed.substr(1, close - 1));
    return true;
}

// The key of a "key=value" line; false for lines without '='.
bool keyName(std::string_view line, std::string_view* key) {
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
        return false;
    }
    *key = trim(line.substr(0, eq));
    return true;
}

std::string cleanValue(std::string_view raw, std::size_t maxChars) {
    std::string_view value = trim(raw);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return truncateUtf8(value, maxChars);
}

}  // namespace

ProfileFile ProfileFile::load(const fs::path& path) {
    ProfileFile profile;
    // Never a FIFO or a device: such a "file" is refused without blocking.
    // A profile file may be a link the user made (settings kept elsewhere):
    // the link is followed to its file, which must be a regular file.
    std::error_code ec;
    const fs::path target = fs::is_symlink(path, ec) ? fs::canonical(path, ec) : path;
    const FileHandle file = FileHandle::openForReading(ec ? path : target);
    if (!file) {
        profile.unreadable_ = file.error() != ENOENT;
        profile.failure_ = file.error() == EINVAL ? std::string("not a regular file")
                                                  : std::string(std::strerror(file.error()));
        return profile;
    }
    const uint64_t size = file.size();
    if (size > kMaxProfileBytes) {
        profile.unreadable_ = true;
        profile.failure_ = "too large (" + std::to_string(size) + " bytes, at most " +
                           std::to_string(kMaxProfileBytes) + ")";
        return profile;
    }
    std::string raw(static_cast<std::size_t>(size), '\0');
    int error = 0;
    const std::size_t got = file.readAt(0, raw.data(), raw.size(), error);
    if (got == 0 && error != 0 && !raw.empty()) {
        profile.unreadable_ = true;
        profile.failure_ = std::strerror(error);
        return profile;
    }
    raw.resize(got);
    const std::string text = decodeTextFile(raw);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
            profile.crlf_ = true;
        }
        profile.lines_.push_back(std::move(line));
        start = end + 1;
    }
    return profile;
}

std::size_t ProfileFile::findSection(std::string_view section) const {
    const std::string_view wanted = trim(section);
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        std::string_view name;
        if (sectionName(lines_[i], &name) && equalsNoCase(name, wanted)) {
            return i;
        }
    }
    return npos;
}

std::size_t ProfileFile::sectionEnd(std::size_t header) const {
    std::size_t i = header + 1;
    std::string_view name;
    while (i < lines_.size() && !sectionName(lines_[i], &name)) {
        ++i;
    }
    return i;
}

std::size_t ProfileFile::findKey(std::size_t header, std::string_view key) const {
    const std::string_view wanted = trim(key);
    const std::size_t end = sectionEnd(header);
    for (std::size_t i = header + 1; i < end; ++i) {
        std::string_view name;
        if (keyName(lines_[i], &name) && equalsNoCase(name, wanted)) {
            return i;
        }
    }
    return npos;
}

std::string ProfileFile::get(std::string_view section, std::string_view key,
                             std::string_view fallback, std::size_t maxChars) const {
    const std::size_t header = findSection(section);
    if (header == npos) {
        return std::string(fallback);
    }
    const std::size_t line = findKey(header, key);
    if (line == npos) {
        return std::string(fallback);
    }
    const std::string& text = lines_[line];
    return cleanValue(std::string_view(text).substr(text.find('=') + 1), maxChars);
}

void ProfileFile::set(std::string_view section, std::string_view key, std::string_view value) {
    std::string clean(value);
    for (char& ch : clean) {
        if (ch == '\r' || ch == '\n') {
            ch = ' ';
        }
    }
    const std::string line = std::string(trim(key)) + "=" + clean;
    std::size_t header = findSection(section);
    if (header == npos) {
        // A new section goes at the end, after a blank line when the file
        // already holds something.
        if (!lines_.empty() && !trim(lines_.back()).empty()) {
            lines_.emplace_back();
        }
        lines_.push_back("[" + std::string(trim(section)) + "]");
        lines_.push_back(line);
        return;
    }
    const std::size_t existing = findKey(header, key);
    if (existing != npos) {
        lines_[existing] = line;
        return;
    }
    // Append after the section's last non-blank line, so that the blank line
    // that separates it from the next section stays where it is.
    std::size_t insertAt = sectionEnd(header);
    while (insertAt > header + 1 && trim(lines_[insertAt - 1]).empty()) {
        --insertAt;
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), line);
}

void ProfileFile::removeKey(std::string_view section, std::string_view key) {
    const std::size_t header = findSection(section);
    if (header == npos) {
        return;
    }
    for (std::size_t line = findKey(header, key); line != npos; line = findKey(header, key)) {
        lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(line));
    }
}

void ProfileFile::removeSection(std::string_view section) {
    const std::size_t header = findSection(section);
    if (header == npos) {
        return;
    }
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(header),
                 lines_.begin() + static_cast<std::ptrdiff_t>(sectionEnd(header)));
}

std::string ProfileFile::toText() const {
    const char* eol = crlf_ ? "\r\n" : "\n";
    std::string text;
    for (const std::string& line : lines_) {
        text += line;
        text += eol;
    }
    return text;
}

void ProfileFile::forEachLine(
    const std::function<void(std::string_view section)>& onSection,
    const std::function<void(std::string_view key, std::string value)>& onValue,
    std::size_t maxChars) const {
    for (const std::string& line : lines_) {
        std::string_view name;
        if (sectionName(line, &name)) {
            onSection(name);
        } else if (keyName(line, &name)) {
            onValue(name, cleanValue(std::string_view(line).substr(line.find('=') + 1), maxChars));
        }
    }
}

bool ProfileFile::save(const fs::path& path) const {
    return !unreadable_ && writeFileAtomically(path, toText());
}

std::string readProfileString(const fs::path& file, std::string_view section, std::string_view key,
                              std::string_view fallback, std::size_t maxChars) {
    return ProfileFile::load(file).get(section, key, fallback, maxChars);
}

bool writeProfileString(const fs::path& file, std::string_view section, std::string_view key,
                        std::string_view value) {
    ProfileFile profile = ProfileFile::load(file);
    profile.set(section, key, value);
    return profile.save(file);
}

}  // namespace harvix
