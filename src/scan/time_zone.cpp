#include "scan/time_zone.h"

#include <date/tz.h>

#include <chrono>
#include <cmath>
#include <exception>

namespace bm7::scan {

bool TimeZone::find(const std::string& name, TimeZone& zone, std::string& problem) {
    if (name == "UTC") {
        zone = TimeZone{};
        return true;
    }
    try {
        TimeZone found;
        found.zone_ = date::locate_zone(name);
        found.name_ = name;
        // Loads the zone's rules now, so a damaged database fails here and not part-way
        // through a scan.
        found.offsetMinutesAt(0);
        zone = found;
        return true;
    } catch (const std::exception& error) {
        problem = "Unknown time zone \"" + name +
                  "\": expected an IANA name such as America/Chicago, or UTC (" + error.what() +
                  ")";
        return false;
    }
}

int TimeZone::offsetMinutesAt(std::int64_t unixSeconds) const {
    if (zone_ == nullptr) return 0;
    const date::sys_seconds instant{std::chrono::seconds{unixSeconds}};
    const auto offset = zone_->get_info(instant).offset.count();
    return static_cast<int>(std::lround(static_cast<double>(offset) / 60.0));
}

std::int64_t TimeZone::unixSecondsOfLocal(std::int64_t localSeconds) const {
    if (zone_ == nullptr) return localSeconds;
    const date::local_seconds reading{std::chrono::seconds{localSeconds}};
    // For a repeated reading `first` is the earlier instant; for a skipped one it is the
    // period before the change. Either way its offset is the one wanted.
    return localSeconds - zone_->get_info(reading).first.offset.count();
}

}  // namespace bm7::scan
