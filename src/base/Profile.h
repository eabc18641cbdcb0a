// Profile (INI) files: the settings file, filter files and language files.
//
// Semantics the program relies on:
//  - section and key names match without regard to (ASCII) case;
//  - the first section of a name and the first key of a name in it win;
//  - a value is the text after the first '=' of its line, with surrounding
//    blanks and one pair of enclosing quotes removed, cut to 2,598 characters;
//  - a missing file, section or key reads as the given default;
//  - a write replaces an existing value in place and keeps every other line,
//    appends a missing key at the end of its section, a missing section at
//    the end of the file, and creates a missing file.
// Files are read as UTF-16 (with a mark), UTF-8 or Windows-1252 and written
// as UTF-8 without a mark, always through a temporary file and a rename.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace harvix {

namespace fs = std::filesystem;

inline constexpr std::size_t kProfileValueLimit = 2598;

class ProfileFile {
public:
    ProfileFile() = default;

    // Reads `path`; a missing or unreadable file gives an empty profile.
    static ProfileFile load(const fs::path& path);
    // Why the last load found nothing to read ("" when it read the file).
    const std::string& failure() const { return failure_; }

    // Value of `key` in `section`, or `fallback` when either is missing.
    std::string get(std::string_view section, std::string_view key, std::string_view fallback = {},
                    std::size_t maxChars = kProfileValueLimit) const;

    // Sets `key` in `section` (in memory). Line breaks in the value, which
    // would break the line layout, are replaced by blanks.
    void set(std::string_view section, std::string_view key, std::string_view value);

    // Removes every line of `key` in the first section named `section`.
    void removeKey(std::string_view section, std::string_view key);

    // Removes every line of the first section named `section`, header included.
    void removeSection(std::string_view section);

    // Writes the profile to `path` through a temporary file and a rename.
    // Refuses (false) when this profile came from a file that exists but
    // could not be read.
    bool save(const fs::path& path) const;

    // The text that Save writes.
    std::string toText() const;

    // Visits every line once, in file order: `onSection` with the name of
    // each section header, `onValue` with the key and the value (cleaned and
    // cut as Get does) of each key line. For readers of many sections, where
    // one Get per value would search the file from its start each time. The
    // caller applies the first-section and first-key rules itself.
    void forEachLine(const std::function<void(std::string_view section)>& onSection,
                     const std::function<void(std::string_view key, std::string value)>& onValue,
                     std::size_t maxChars = kProfileValueLimit) const;

private:
    // Index of the header line of the first section `section`, or npos.
    std::size_t findSection(std::string_view section) const;
    // Index of the first line after the section that starts at `header`.
    std::size_t sectionEnd(std::size_t header) const;
    // Index of the line holding `key` within the section, or npos.
    std::size_t findKey(std::size_t header, std::string_view key) const;

    std::vector<std::string> lines_;
    bool crlf_ = false;
    // The file exists but could not be read (no permission, far too large):
    // saving over it would lose what it holds, so Save refuses.
    bool unreadable_ = false;
    std::string failure_;
};

// One-shot forms, for a single value.
std::string readProfileString(const fs::path& file, std::string_view section, std::string_view key,
                              std::string_view fallback = {},
                              std::size_t maxChars = kProfileValueLimit);
bool writeProfileString(const fs::path& file, std::string_view section, std::string_view key,
                        std::string_view value);

}  // namespace harvix
