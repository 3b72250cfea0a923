#include "files/clip_retention.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <utility>
#include <vector>

#include "driver/command_line.h"
#include "files/atomic_file.h"
#include "files/clip_save.h"
#include "files/clip_writers.h"
#include "files/text_param.h"

namespace bm7 {

namespace {

constexpr int kFormatCount = 8;

// Matches `pattern` at the start of `text`, '9' standing for any digit, and moves past it.
bool take(std::string_view& text, std::string_view pattern) {
    if (text.size() < pattern.size()) return false;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const bool digit = std::isdigit(static_cast<unsigned char>(text[i])) != 0;
        if (pattern[i] == '9' ? !digit : text[i] != pattern[i]) return false;
    }
    text.remove_prefix(pattern.size());
    return true;
}

void skipDigits(std::string_view& text) {
    while (!text.empty() && std::isdigit(static_cast<unsigned char>(text.front()))) {
        text.remove_prefix(1);
    }
}

// "_hhh.mm.ss" with three or more hour digits.
bool takeStreamStamp(std::string_view& text) {
    std::string_view rest = text;
    if (!take(rest, "_999")) return false;
    skipDigits(rest);
    if (!take(rest, ".99.99")) return false;
    text = rest;
    return true;
}

// "_NN" goes on with three or more digits once a hundred names of one stamp are taken.
bool isSuffixAndExtension(std::string_view text) {
    if (!take(text, "_99")) return false;
    skipDigits(text);
    for (int code = 1; code <= kFormatCount; ++code) {
        if (text == clipFormat(code)->extension) return true;
    }
    return false;
}

}  // namespace

bool isOwnClipName(std::string_view fileName, std::string_view prefix) {
    if (!fileName.starts_with(prefix)) return false;
    fileName.remove_prefix(prefix.size());
    if (isSuffixAndExtension(fileName)) return true;
    std::string_view calendar = fileName;
    if (take(calendar, "_9999-99-99_99.99.99") && isSuffixAndExtension(calendar)) return true;
    return takeStreamStamp(fileName) && isSuffixAndExtension(fileName);
}

namespace {

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
