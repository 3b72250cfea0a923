// Calendar readings without a zone (what a clock on the wall shows) and their count of
// seconds from 1970-01-01 00:00:00 on the proleptic Gregorian calendar.
#pragma once

#include <cstdint>
#include <optional>

namespace bm7::scan {

struct WallClock {
    int year = 1970;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// None for a reading that no clock shows: month 13, February 30, hour 24, second 60.
std::optional<std::int64_t> localSecondsOf(const WallClock& clock);

WallClock wallClockOf(std::int64_t localSeconds);

}  // namespace bm7::scan
