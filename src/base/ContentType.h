// Content-type codes: 0 ("all", nothing recognised) to 18, with their short
// names (the extension of saved files and the text of the type columns) and
// the key-word rule that turns a Content-Type text into a code.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace harvix {

// Number of codes: 0..18.
inline constexpr int32_t kContentTypeCount = 19;

// The code of a Content-Type text: the first key word found as a
// case-sensitive substring decides. 8-bit form, as the Firefox cache holds
// the lower-cased header value.
int32_t contentTypeFromText(std::string_view text);
// The same rule over wide text (UTF-8 in this program): the URL-cache
// reader's stored header text and the filter editor's list text.
int32_t contentTypeFromWideText(std::string_view utf8);
int32_t contentTypeFromText(std::u16string_view text);

// The short name of a code; any code outside 1..18 gives "all".
std::string contentTypeName(int32_t code);

}  // namespace harvix
