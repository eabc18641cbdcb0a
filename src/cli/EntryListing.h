// What "list" prints and how it narrows the listing: the three output formats
// (tab-separated lines, CSV, JSON) and the selection by content type, URL
// text and time, which matches as a filter item of a comb run does.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "filter/FilterSet.h"
#include "readers/CacheReader.h"

namespace harvix {

enum class ListFormat { Tsv, Csv, Json };

// "tsv", "csv" or "json"; nothing for any other word.
std::optional<ListFormat> listFormatFromWord(const std::string& word);

// A whole number of seconds, optionally signed; false for anything else.
bool parseWholeSeconds(const std::string& text, int64_t& value);

// The value of --since as seconds since 1970, given the time `now`: a whole
// number of seconds since 1970; a duration back from now, one or more
// numbers each with its unit s, m, h, d or w ("90s", "15m", "2h", "3d",
// "1h30m"); or a local date, "2026-12-01" (its midnight) or
// "2026-12-01T10:00" (a blank for the T, seconds and a closing Z for UTC
// allowed). Nothing for anything else, a day the calendar lacks included.
std::optional<int64_t> parseSince(const std::string& text, int64_t now);
// The words of --since for usage texts and the usage error.
extern const char* const kSinceForms;

// Which entries a listing shows: those a filter item with this content type
// and these URL parts would match, no earlier than `since` (as the comb's
// since time).
class EntrySelection {
public:
    EntrySelection();
    // A content-type name as the filter editor shows it ("png", "pictures",
    // "all"; any case) or its code; false when no type has this name.
    bool setType(const std::string& name);
    // URL parts as a filter item takes them: separated by commas, each found
    // anywhere in the URL.
    void setUrl(const std::string& text);
    void setSince(int64_t since) { since_ = since; }
    bool matches(const CacheEntry& entry) const;

private:
    FilterSet set_;  // gives the URL parts their separator
    FilterItem item_;
    int64_t since_ = 0;
};

// Writes the entries of a listing one at a time; finish() closes the output
// (the JSON array).
class ListWriter {
public:
    ListWriter(std::ostream& out, ListFormat format);
    // `decodedSize`: the size the saved file will have, where it is known
    // before the copy (a body stored as sent); nothing for an encoded one.
    // `head`: the entry's stored response head, for JSON's headers.
    void write(const CacheEntry& entry, std::optional<uint64_t> decodedSize,
               std::string_view head = {});
    void finish();
    // Whether write takes the stored head (JSON lists every header).
    bool wantsHead() const { return format_ == ListFormat::Json; }

private:
    std::ostream& out_;
    ListFormat format_;
    bool first_ = true;
};

// The time as ISO 8601 in UTC, "2011-03-13T07:06:40Z".
std::string isoTime(int64_t seconds);
// A CSV field per RFC 4180: quoted when it holds a comma, a quote, CR or LF,
// quotes doubled.
std::string csvField(const std::string& text);
// A JSON string literal; bytes that are not UTF-8 become U+FFFD.
std::string jsonString(const std::string& text);

}  // namespace harvix
