// Copies the resource of one cache2 entry into an open file: exactly the
// body's stored bytes, decoded when they were sent with a Content-Encoding.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "readers/http/BodyDecoder.h"

namespace harvix::cache2 {

namespace fs = std::filesystem;

// Decoded resources stop at this size unless the caller gives another bound.
inline constexpr uint64_t kDecodedBodyLimit = uint64_t{1} << 30;

// Opens `fileName` in `entriesFolder` (a regular file, no link followed,
// never blocking), checks that it holds `length` bytes, and writes them to
// `outFd`: as they are for Identity, through the decoder otherwise. Returns
// 0, or the error of the failure: the file is shorter (ENODATA), a read or
// write fails, the body does not decode whole (EILSEQ), the decoded size
// passes `decodedLimit` (EFBIG), the coding is unsupported (ENOTSUP).
int copyEntryBody(const fs::path& entriesFolder, const std::string& fileName, uint64_t length,
                  ContentEncoding encoding, int outFd, uint64_t decodedLimit = kDecodedBodyLimit);

}  // namespace harvix::cache2
