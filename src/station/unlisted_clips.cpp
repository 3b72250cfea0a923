#include "station/unlisted_clips.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <tuple>
#include <utility>

#include "files/atomic_file.h"
#include "files/clip_name.h"
#include "station/station.h"

namespace bm7::station {

namespace {

bool isLater(const struct timespec& a, const struct timespec& b) {
    return std::tie(a.tv_sec, a.tv_nsec) > std::tie(b.tv_sec, b.tv_nsec);
}

std::string dateTimeOf(const ClipNameStamp& stamp, bool utc) {
    if (!stamp.calendar) return "";
    std::tm fields = stamp.fields;
    fields.tm_isdst = -1;
    const std::time_t seconds = utc ? ::timegm(&fields) : std::mktime(&fields);
    return seconds == -1 ? "" : isoDateTime(static_cast<double>(seconds), utc);
}

TableRow unscoredRow(std::string dateTime, const std::string& clip) {
    const double none = std::nan("");
    return {std::move(dateTime), none, none, none, none, clip};
}

struct timespec lastRowTime(const std::string& folder, const TableFound& table) {
    struct stat info {};
    if (table.lastClip.empty() || ::stat((folder + "/" + table.lastClip).c_str(), &info) != 0) {
        return table.modified;
    }
    return info.st_mtim;
}

}  // namespace

std::vector<TableRow> rowsForUnlistedClips(const ClipNaming& naming, const TableFound& table) {
    if (!table.existed || naming.folder.empty()) return {};
    const struct timespec lastRow = lastRowTime(naming.folder, table);
    std::vector<std::pair<struct timespec, TableRow>> found;
    for (const std::string& name : namesIn(naming.folder)) {
        ClipNameStamp stamp;
        struct stat info {};
        if (!readClipName(name, naming.prefix, naming.extension, stamp) ||
            table.clips.contains(name) ||
            ::stat((naming.folder + "/" + name).c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
            !isLater(info.st_mtim, lastRow)) {
            continue;
        }
        found.emplace_back(info.st_mtim, unscoredRow(dateTimeOf(stamp, naming.utc), name));
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        return std::tie(a.first.tv_sec, a.first.tv_nsec, a.second.clip) <
               std::tie(b.first.tv_sec, b.first.tv_nsec, b.second.clip);
    });
    std::vector<TableRow> rows;
    for (auto& entry : found) rows.push_back(std::move(entry.second));
    return rows;
}

}  // namespace bm7::station
