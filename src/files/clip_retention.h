// Retention of clips: a station that runs for months may keep only the last N days. It
// deletes only files whose names Clip & Save makes, never anything a user put beside
// them, and a step of the system clock never makes young clips look old: the clips of
// the running process are aged by a monotonic clock, and an hourly check across a step
// is skipped.
#pragma once

#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>
#include <unordered_map>

#include "driver/block.h"

namespace bm7 {

// Whether `fileName` is exactly a clip name: `prefix`, the stamp of any stamp mode (or
// none), a suffix of two or more digits and the extension of one of the clip formats.
bool isOwnClipName(std::string_view fileName, std::string_view prefix);

// The clocks retention asks: the wall clock that dates files, which may be set or
// stepped, and a monotonic clock, which no setting of the time moves.
class RetentionClocks {
public:
    virtual ~RetentionClocks() = default;
    virtual std::time_t wallSeconds() const = 0;
    virtual double monotonicSeconds() const = 0;
};

// The system's clocks.
const RetentionClocks& systemClocks();

class ClipRetention {
public:
    // Keeps clips for `days` days; says on `out` what it removed and on `warnings` when
    // it skips a check. The clocks must outlive it.
    ClipRetention(int days, const RetentionClocks& clocks, std::FILE* out, std::FILE* warnings);

    // A clip this process has just saved at `path`.
    void noteOwnClip(const std::string& path);

    // Deletes the clips in `folder` named with `prefix` that are older than the limit,
    // oldest first: a clip of this process by the monotonic time since it was saved,
    // any other by its modification time. Returns how many were deleted.
    int removeOldClips(const std::string& folder, const std::string& prefix);

    // The hourly check: removes old clips and says how many. When the wall clock has
    // moved more than an hour away from the monotonic clock since the last check, it
    // removes nothing and says so once.
    void hourlyCheck(const std::string& folder, const std::string& prefix);
    // The same for the folder and prefix of a Clip & Save block.
    void hourlyCheck(const BlockRecord& clipSave);

private:
    bool clockStepped();
    bool isOld(const std::string& path, std::time_t modified, std::time_t wallNow,
               double monotonicNow) const;

    int days_;
    const RetentionClocks& clocks_;
    std::FILE* out_;
    std::FILE* warnings_;
    std::time_t lastWall_;
    double lastMonotonic_;
    std::unordered_map<std::string, double> savedAt_;  // monotonic seconds, by path
};

}  // namespace bm7
