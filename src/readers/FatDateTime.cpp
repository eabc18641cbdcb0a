#include "readers/FatDateTime.h"

#include <array>

namespace harvix {

namespace {

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3u : 9u)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool isLeapYear(unsigned y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

}  // namespace

uint64_t fatDateTimeToFileTime(uint32_t fatDateTime) {
    if (fatDateTime == 0) {
        return 0;
    }
    const uint32_t date = fatDateTime & 0xFFFFu;
    const uint32_t time = fatDateTime >> 16;
    const unsigned year = 1980 + (date >> 9);
    const unsigned month = (date >> 5) & 0x0Fu;
    const unsigned day = date & 0x1Fu;
    const unsigned hour = time >> 11;
    const unsigned minute = (time >> 5) & 0x3Fu;
    const unsigned second = (time & 0x1Fu) * 2;
    static constexpr std::array<unsigned, 12> kDays{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59) {
        return 0;
    }
    const unsigned monthDays = kDays[month - 1] + (month == 2 && isLeapYear(year) ? 1u : 0u);
    if (day > monthDays) {
        return 0;
    }
    // Days from 1601-01-01 to 1970-01-01: 134774.
    const int64_t days = daysFromCivil(year, month, day) + 134774;
    const int64_t seconds = days * 86400 + hour * 3600 + minute * 60 + second;
    return static_cast<uint64_t>(seconds) * 10000000u;
}

}  // namespace harvix
