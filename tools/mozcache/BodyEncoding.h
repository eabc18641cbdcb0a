// Encodes bodies the way servers send them, for cache entries stored with a
// Content-Encoding and for the tests of the decoder.
#pragma once

#include <string>

namespace harvix::mozcache {

// `coding`: "gzip", "deflate" (zlib wrapper), "raw-deflate" (no wrapper, as
// some servers send it), "br", "zstd", or "identity". Throws WriteError for
// any other name or when the library fails.
std::string EncodeBody(const std::string& coding, const std::string& body);

// The Content-Encoding value a coding is sent under ("raw-deflate" → "deflate").
std::string ContentEncodingValue(const std::string& coding);

}  // namespace harvix::mozcache
