#include "scan/wall_clock.h"

#include <date/date.h>

namespace bm7::scan {

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

}  // namespace

std::optional<std::int64_t> localSecondsOf(const WallClock& clock) {
    if (clock.hour < 0 || clock.hour > 23 || clock.minute < 0 || clock.minute > 59 ||
        clock.second < 0 || clock.second > 59 || clock.month < 1 || clock.month > 12 ||
        clock.day < 1) {
        return std::nullopt;
    }
    const date::year_month_day day{date::year{clock.year},
                                   date::month{static_cast<unsigned>(clock.month)},
                                   date::day{static_cast<unsigned>(clock.day)}};
    if (!day.ok()) return std::nullopt;
    const std::int64_t days = date::sys_days{day}.time_since_epoch().count();
    return days * kSecondsPerDay + clock.hour * 3600 + clock.minute * 60 + clock.second;
}

WallClock wallClockOf(std::int64_t localSeconds) {
    std::int64_t days = localSeconds / kSecondsPerDay;
    std::int64_t secondOfDay = localSeconds % kSecondsPerDay;
    if (secondOfDay < 0) {
        secondOfDay += kSecondsPerDay;
        --days;
    }
    const date::year_month_day day{date::sys_days{date::days{days}}};
    const int second = static_cast<int>(secondOfDay);
    return WallClock{static_cast<int>(day.year()),
                     static_cast<int>(unsigned(day.month())),
                     static_cast<int>(unsigned(day.day())),
                     second / 3600,
                     second / 60 % 60,
                     second % 60};
}

}  // namespace bm7::scan
