#include "files/clip_retention.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "driver/command_line.h"
#include "files/atomic_file.h"
#include "files/clip_name.h"
#include "files/clip_save.h"
#include "files/clip_writers.h"
#include "files/text_param.h"

namespace bm7 {

namespace {

constexpr int kFormatCount = 8;
constexpr double kStepTolerance = 3600.0;

class SystemClocks final : public RetentionClocks {
public:
    std::time_t wallSeconds() const override { return std::time(nullptr); }
    // Counts the time a suspended machine slept too, which ages its clips as the wall
    // clock would; no setting of the time moves it.
    double monotonicSeconds() const override {
        timespec now{};
        ::clock_gettime(CLOCK_BOOTTIME, &now);
        return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
    }
};

}  // namespace

bool isOwnClipName(std::string_view fileName, std::string_view prefix) {
    ClipNameStamp stamp;
    for (int code = 1; code <= kFormatCount; ++code) {
        if (readClipName(fileName, prefix, clipFormat(code)->extension, stamp)) return true;
    }
    return false;
}

const RetentionClocks& systemClocks() {
    static const SystemClocks clocks;
    return clocks;
}

ClipRetention::ClipRetention(int days, const RetentionClocks& clocks, std::FILE* out,
                             std::FILE* warnings)
    : days_(days),
      clocks_(clocks),
      out_(out),
      warnings_(warnings),
      lastWall_(clocks.wallSeconds()),
      lastMonotonic_(clocks.monotonicSeconds()) {}

void ClipRetention::noteOwnClip(const std::string& path) {
    savedAt_[path] = clocks_.monotonicSeconds();
}

int ClipRetention::removeOldClips(const std::string& folder, const std::string& prefix) {
    const double limit = static_cast<double>(days_) * 86400.0;
    const std::time_t wallNow = clocks_.wallSeconds();
    const double monotonicNow = clocks_.monotonicSeconds();
    // Own clips are placed on the wall clock by their age, so that all sort together.
    std::vector<std::pair<double, std::string>> old;
    for (const std::string& name : namesIn(folder)) {
        if (!isOwnClipName(name, prefix)) continue;
        std::string path = folder + "/" + name;
        struct stat status {};
        if (::lstat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) continue;
        const auto own = savedAt_.find(path);
        const double age = own != savedAt_.end() ? monotonicNow - own->second
                                                 : static_cast<double>(wallNow - status.st_mtime);
        if (age > limit) old.emplace_back(static_cast<double>(wallNow) - age, std::move(path));
    }
    std::sort(old.begin(), old.end());
    int removed = 0;
    for (const auto& clip : old) {
        if (::unlink(clip.second.c_str()) == 0) ++removed;
    }
    std::erase_if(savedAt_, [&](const auto& clip) { return monotonicNow - clip.second > limit; });
    return removed;
}

bool ClipRetention::clockStepped() {
    const std::time_t wallNow = clocks_.wallSeconds();
    const double monotonicNow = clocks_.monotonicSeconds();
    const double step = static_cast<double>(wallNow - lastWall_) - (monotonicNow - lastMonotonic_);
    lastWall_ = wallNow;
    lastMonotonic_ = monotonicNow;
    if (std::fabs(step) <= kStepTolerance) return false;
    std::fprintf(warnings_,
                 "%s: warning: the system clock stepped %s by %.1f hours since the last hourly "
                 "check; no clips are removed this hour\n",
                 kModelName, step > 0.0 ? "forward" : "back", std::fabs(step) / 3600.0);
    std::fflush(warnings_);
    return true;
}

void ClipRetention::hourlyCheck(const std::string& folder, const std::string& prefix) {
    if (clockStepped()) return;
    const int removed = removeOldClips(folder, prefix);
    if (removed == 0) return;
    std::fprintf(out_, "Removed %d clip%s older than %d day%s from %s\n", removed,
                 removed == 1 ? "" : "s", days_, days_ == 1 ? "" : "s", folder.c_str());
    std::fflush(out_);
}

void ClipRetention::hourlyCheck(const BlockRecord& clipSave) {
    TextBuffer folder;
    TextBuffer prefix;
    hourlyCheck(readTextParam(clipSave, kClipDirectory, folder),
                readTextParam(clipSave, kClipPrefix, prefix));
}

}  // namespace bm7
