// The HTTP response head that a browser stores beside a cached body: the
// status line and the header lines, as the server sent them. Firefox keeps it
// in the entry's "response-head" element (lines ended by CR LF), Chromium in
// its pickled response info (lines ended by NUL); both read through here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "readers/http/BodyDecoder.h"

namespace harvix {

// A Content-Range value, "bytes FIRST-LAST/TOTAL": the bytes FIRST to LAST
// (both counted) of a resource of TOTAL bytes, TOTAL unknown for "*".
struct ContentRange {
    uint64_t first = 0;
    uint64_t last = 0;
    std::optional<uint64_t> total;
};

struct ResponseHead {
    int status = 0;                                            // 0 when there is no status line
    std::vector<std::pair<std::string, std::string>> headers;  // in order, names as sent

    // The value of the first header of that name (case-insensitive).
    std::optional<std::string> header(std::string_view name) const;
    // Content-Type's value as sent; "" when there is none.
    std::string contentType() const;
    // Content-Length when it is one plain decimal number; nothing otherwise.
    std::optional<uint64_t> contentLength() const;
    // Content-Range when it is well formed (LAST not before FIRST, and
    // before TOTAL); nothing otherwise.
    std::optional<ContentRange> contentRange() const;
    // For a partial response (206), as browsers keep media fetched in
    // ranges: the size of the whole resource, from its Content-Range;
    // nothing for any other status or when the total is not told.
    std::optional<uint64_t> wholeSize() const;
    // The body's codings from every Content-Encoding line, in order;
    // "identity" entries are passed over. Identity when there are none, and
    // when any coding is unknown: browsers then show the stored bytes as
    // they are. Unsupported for more than ContentEncoding::kMaxCodings.
    ContentEncoding contentEncoding() const;
};

// Reads a status line ("HTTP/1.1 200 OK") then "Name: value" lines. Lines may
// end with "\r\n", "\n" or "\0"; an empty line ends the head. A line folded
// onto the next (starting with a blank) continues the previous value. Lines
// without a colon are left out. A first line that is not a status line is read
// as a header line and the status stays 0.
ResponseHead parseResponseHead(std::string_view raw);

}  // namespace harvix
