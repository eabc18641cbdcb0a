#include "app/Profile.h"

#include <fstream>
#include <iterator>

#include "platform/AtomicFile.h"
#include "platform/Text.h"

namespace {

constexpr std::size_t npos = std::string::npos;

// Profile files are small; anything past this is not one of ours and is not
// read whole into memory.
constexpr std::uintmax_t kMaxProfileBytes = 16u * 1024u * 1024u;

// The section name of a header line "[name]", or false when the line is none.
bool SectionName(std::string_view line, std::string_view* name) {
    const std::string_view trimmed = Trim(line);
    if (trimmed.size() < 2 || trimmed.front() != '[') {
        return false;
    }
    const std::size_t close = trimmed.find(']');
    if (close == std::string_view::npos) {
        return false;
    }
    *name = Trim(trimmed.substr(1, close - 1));
    return true;
}

// The key of a "key=value" line; false for lines without '='.
bool KeyName(std::string_view line, std::string_view* key) {
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
        return false;
    }
    *key = Trim(line.substr(0, eq));
    return true;
}

std::string CleanValue(std::string_view raw, std::size_t maxChars) {
    std::string_view value = Trim(raw);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return TruncateUtf8(value, maxChars);
}

}  // namespace

ProfileFile ProfileFile::Load(const fs::path& path) {
    ProfileFile profile;
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(path, ec);
    if (ec) {
        profile.unreadable_ = fs::exists(path, ec);
        return profile;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in || size > kMaxProfileBytes) {
        profile.unreadable_ = true;
        return profile;
    }
    const std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string text = DecodeTextFile(raw);
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

std::size_t ProfileFile::FindSection(std::string_view section) const {
    const std::string_view wanted = Trim(section);
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        std::string_view name;
        if (SectionName(lines_[i], &name) && EqualsNoCase(name, wanted)) {
            return i;
        }
    }
    return npos;
}

std::size_t ProfileFile::SectionEnd(std::size_t header) const {
    std::size_t i = header + 1;
    std::string_view name;
    while (i < lines_.size() && !SectionName(lines_[i], &name)) {
        ++i;
    }
    return i;
}

std::size_t ProfileFile::FindKey(std::size_t header, std::string_view key) const {
    const std::string_view wanted = Trim(key);
    const std::size_t end = SectionEnd(header);
    for (std::size_t i = header + 1; i < end; ++i) {
        std::string_view name;
        if (KeyName(lines_[i], &name) && EqualsNoCase(name, wanted)) {
            return i;
        }
    }
    return npos;
}

std::string ProfileFile::Get(std::string_view section, std::string_view key,
                             std::string_view fallback, std::size_t maxChars) const {
    const std::size_t header = FindSection(section);
    if (header == npos) {
        return std::string(fallback);
    }
    const std::size_t line = FindKey(header, key);
    if (line == npos) {
        return std::string(fallback);
    }
    const std::string& text = lines_[line];
    return CleanValue(std::string_view(text).substr(text.find('=') + 1), maxChars);
}

void ProfileFile::Set(std::string_view section, std::string_view key, std::string_view value) {
    std::string clean(value);
    for (char& ch : clean) {
        if (ch == '\r' || ch == '\n') {
            ch = ' ';
        }
    }
    const std::string line = std::string(Trim(key)) + "=" + clean;
    std::size_t header = FindSection(section);
    if (header == npos) {
        // A new section goes at the end, after a blank line when the file
        // already holds something.
        if (!lines_.empty() && !Trim(lines_.back()).empty()) {
            lines_.emplace_back();
        }
        lines_.push_back("[" + std::string(Trim(section)) + "]");
        lines_.push_back(line);
        return;
    }
    const std::size_t existing = FindKey(header, key);
    if (existing != npos) {
        lines_[existing] = line;
        return;
    }
    // Append after the section's last non-blank line, so that the blank line
    // that separates it from the next section stays where it is.
    std::size_t insertAt = SectionEnd(header);
    while (insertAt > header + 1 && Trim(lines_[insertAt - 1]).empty()) {
        --insertAt;
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), line);
}

void ProfileFile::RemoveSection(std::string_view section) {
    const std::size_t header = FindSection(section);
    if (header == npos) {
        return;
    }
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(header),
                 lines_.begin() + static_cast<std::ptrdiff_t>(SectionEnd(header)));
}

std::string ProfileFile::ToText() const {
    const char* eol = crlf_ ? "\r\n" : "\n";
    std::string text;
    for (const std::string& line : lines_) {
        text += line;
        text += eol;
    }
    return text;
}

void ProfileFile::ForEachLine(
    const std::function<void(std::string_view section)>& onSection,
    const std::function<void(std::string_view key, std::string value)>& onValue,
    std::size_t maxChars) const {
    for (const std::string& line : lines_) {
        std::string_view name;
        if (SectionName(line, &name)) {
            onSection(name);
        } else if (KeyName(line, &name)) {
            onValue(name, CleanValue(std::string_view(line).substr(line.find('=') + 1), maxChars));
        }
    }
}

bool ProfileFile::Save(const fs::path& path) const {
    return !unreadable_ && WriteFileAtomically(path, ToText());
}

std::string ReadProfileString(const fs::path& file, std::string_view section, std::string_view key,
                              std::string_view fallback, std::size_t maxChars) {
    return ProfileFile::Load(file).Get(section, key, fallback, maxChars);
}

bool WriteProfileString(const fs::path& file, std::string_view section, std::string_view key,
                        std::string_view value) {
    ProfileFile profile = ProfileFile::Load(file);
    profile.Set(section, key, value);
    return profile.Save(file);
}
