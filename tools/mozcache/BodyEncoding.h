// Encodes bodies the way servers send them, for cache entries stored with a
// Content-Encoding and for the tests of the decoder.
#pragma once

#include <string>

namespace harvix::mozcache {

// `coding`: "gzip", "deflate" (zlib wrapper), "raw-deflate" (no wrapper, as
// some servers send it), "br", "zstd", "identity", or snappy's framing as
// stores keep bodies in it: "snappy-framed" (with the CRC-32C's final
// inversion, a padding chunk, incompressible chunks stored plain) or
// "snappy-framed-firefox" (every chunk compressed, no final inversion).
// Throws WriteError for any other name or when the library fails.
std::string encodeBody(const std::string& coding, const std::string& body);

// The Content-Encoding value a coding is sent under ("raw-deflate" → "deflate").
std::string contentEncodingValue(const std::string& coding);

}  // namespace harvix::mozcache
