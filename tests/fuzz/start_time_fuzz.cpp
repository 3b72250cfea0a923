// Feeds arbitrary text to every start-time parser, as GUANO metadata, a recorder comment
// and a file name, in UTC and in a zone with daylight saving. Whatever a parser accepts
// must render, and the rendering must read back as the same instant.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "scan/start_time.h"

namespace {

using bm7::scan::RecordingStart;
using bm7::scan::TimeZone;

const TimeZone& newYork() {
    static const TimeZone zone = [] {
        TimeZone found;
        std::string problem;
        if (!TimeZone::find("America/New_York", found, problem)) {
            std::fprintf(stderr, "%s\n", problem.c_str());
            std::abort();
        }
        return found;
    }();
    return zone;
}

void checkRendering(const std::optional<RecordingStart>& start, const TimeZone& zone) {
    if (!start) return;
    const std::string text = bm7::scan::formatDateTime(*start, 0.0, zone);
    const auto again = bm7::scan::parseGuanoTimestamp("Timestamp: " + text, TimeZone{});
    if (!text.empty() && (!again || again->unixMilliseconds != start->unixMilliseconds)) {
        std::fprintf(stderr, "\"%s\" does not read back as %lld ms\n", text.c_str(),
                     static_cast<long long>(start->unixMilliseconds));
        std::abort();
    }
    // A day on, as the last detection of a 24-hour recording would be stamped.
    bm7::scan::formatDateTime(*start, 86399.9995, zone);
    bm7::scan::formatClipStamp(*start, 3600.25, nullptr);
    bm7::scan::formatClipStamp(*start, 3600.25, &zone);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    static const TimeZone utc;
    for (const TimeZone* zone : {&utc, &newYork()}) {
        checkRendering(bm7::scan::parseGuanoTimestamp(text, *zone), *zone);
        checkRendering(bm7::scan::parseFileNameTime(text, *zone), *zone);
        checkRendering(bm7::scan::parseRecorderComment(text), *zone);
    }
    return 0;
}
