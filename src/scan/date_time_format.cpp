// The renderings of start_time.h: instants as ISO 8601 text and as clip-name stamps.
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "scan/start_time.h"
#include "scan/wall_clock.h"

namespace bm7::scan {

namespace {

// About three centuries: longer than any recording, and small enough that no arithmetic
// below can overflow.
constexpr double kLongestOffsetSeconds = 1e10;

std::optional<std::int64_t> instantMilliseconds(const RecordingStart& start, double offsetSeconds) {
    if (start.source == TimeSource::none || !(std::fabs(offsetSeconds) <= kLongestOffsetSeconds)) {
        return std::nullopt;
    }
    return start.unixMilliseconds + std::llround(offsetSeconds * 1000.0);
}

std::int64_t floorDivide(std::int64_t value, std::int64_t divisor) {
    const std::int64_t quotient = value / divisor;
    return quotient * divisor > value ? quotient - 1 : quotient;
}

bool printableYear(const WallClock& clock) {
    return clock.year >= 0 && clock.year <= 9999;
}

}  // namespace

std::string formatDateTime(const RecordingStart& start, double offsetSeconds,
                           const TimeZone& zone) {
    const auto instant = instantMilliseconds(start, offsetSeconds);
    if (!instant) return "";
    const int offsetMinutes =
        start.fixedOffset ? start.offsetMinutes : zone.offsetMinutesAt(floorDivide(*instant, 1000));
    const std::int64_t local = *instant + std::int64_t{offsetMinutes} * 60000;
    const std::int64_t localSeconds = floorDivide(local, 1000);
    const WallClock clock = wallClockOf(localSeconds);
    if (!printableYear(clock)) return "";
    char text[64];
    int length = std::snprintf(text, sizeof text, "%.4d-%.2d-%.2dT%.2d:%.2d:%.2d.%.3d", clock.year,
                               clock.month, clock.day, clock.hour, clock.minute, clock.second,
                               static_cast<int>(local - localSeconds * 1000));
    if (offsetMinutes == 0) {
        std::snprintf(text + length, sizeof text - static_cast<std::size_t>(length), "Z");
    } else {
        const int size = std::abs(offsetMinutes);
        std::snprintf(text + length, sizeof text - static_cast<std::size_t>(length), "%c%.2d:%.2d",
                      offsetMinutes < 0 ? '-' : '+', size / 60, size % 60);
    }
    return text;
}

std::string formatClipStamp(const RecordingStart& start, double offsetSeconds,
                            const TimeZone* localZone) {
    const auto instant = instantMilliseconds(start, offsetSeconds);
    if (!instant) return "";
    std::int64_t seconds = floorDivide(*instant, 1000);
    if (localZone != nullptr) seconds += std::int64_t{localZone->offsetMinutesAt(seconds)} * 60;
    const WallClock clock = wallClockOf(seconds);
    if (!printableYear(clock)) return "";
    char text[64];
    std::snprintf(text, sizeof text, "_%.4d-%.2d-%.2d_%.2d.%.2d.%.2d", clock.year, clock.month,
                  clock.day, clock.hour, clock.minute, clock.second);
    return text;
}

}  // namespace bm7::scan
