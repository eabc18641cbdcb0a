// The metadata item of a Firefox cache record.
//
// An item is a header of nine big-endian 32-bit numbers, the cache key (an
// 8-bit text ending in a zero byte) and a list of named values, name and
// value alternating, each ending in a zero byte; one value is the HTTP
// response head. The map walk reads the item's whole blocks and hands them
// here.
#pragma once

#include <cstddef>

#include "readers/FirefoxCacheReader.h"

namespace harvix {

// Offset of the key inside a metadata item (just after the nine numbers).

// Fills `entry` from the `length` bytes of one metadata item: the header
// numbers, the URL from a key that begins with "HTTP:", the time and the size
// from the header, and the Server, Accept-Ranges, Etag and Content-Type values
// of every response head found after the key. Never reads outside the given
// bytes and never fails; what it cannot recognise stays empty or zero. The
// bytes are changed: the response head is split into lines in place.
void readCacheMetadata(unsigned char* item, std::size_t length, FirefoxCacheEntry& entry);

// The first response head after the key of the `length` bytes of one
// metadata item, as stored (lines ended by CR LF); "" when there is none.
std::string responseHeadOfItem(const unsigned char* item, std::size_t length);

}  // namespace harvix
