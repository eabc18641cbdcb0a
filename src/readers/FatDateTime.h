// The date and time of a URL cache index record as a Windows file time.
#pragma once

#include <cstdint>

namespace harvix {

// Turns the FAT date and time of an index record (date in the low half,
// time in the high half, both as the system's clock gave them, in UTC) into
// a Windows file time (100 ns units since 1601-01-01 UTC). 0, or a date or
// time that names no real moment, gives 0.
uint64_t fatDateTimeToFileTime(uint32_t fatDateTime);

}  // namespace harvix
