// The zone in which recorders name their files: UTC or an IANA zone from the system's
// time-zone database. A TimeZone is immutable once found, so scan threads share one
// freely; UTC needs no database at all.
#pragma once

#include <cstdint>
#include <string>

namespace date {
class time_zone;
}

namespace bm7::scan {

class TimeZone {
public:
    TimeZone() = default;  // UTC

    // `name` is "UTC" or an IANA name such as "America/Chicago". On failure `zone` is
    // unchanged and `problem` says why.
    static bool find(const std::string& name, TimeZone& zone, std::string& problem);

    const std::string& name() const { return name_; }
    bool isUtc() const { return zone_ == nullptr; }

    // The zone's offset from UTC at an instant, rounded to whole minutes (the finest an
    // ISO 8601 offset can say).
    int offsetMinutesAt(std::int64_t unixSeconds) const;

    // The instant a wall-clock reading of this zone names. A reading in the hour repeated
    // when clocks go back means its first occurrence; a reading in the hour skipped when
    // they go forward is read with the offset in force before the change, as a clock that
    // had not been put forward yet would show it.
    std::int64_t unixSecondsOfLocal(std::int64_t localSeconds) const;

private:
    const date::time_zone* zone_ = nullptr;
    std::string name_ = "UTC";
};

}  // namespace bm7::scan
