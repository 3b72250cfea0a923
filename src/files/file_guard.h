// The guard of one run over the files it keeps. It refuses clips while the clip
// folder's file system is short of space, makes a clip folder that vanished under the run
// again, keeps level-log lines that could not be written until they can be, says so on
// the warning stream at most once an hour, and holds the second line of a failure message
// for the error status. One per model: the Clip & Save and To Log File blocks reach it
// through their first pointer work slot and run as plain blocks without it. Used from
// the model's thread only. A guard without a warning stream says nothing, for a run
// without a level log whose program reports refused clips itself (lastRefusal).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "driver/block.h"
#include "files/clip_retention.h"

namespace bm7 {

struct FreeSpace {
    bool known = false;
    std::uint64_t available = 0;  // bytes an unprivileged writer may still use
    std::uint64_t total = 0;
};

// The free space of the file system that holds `folder`; unknown when it cannot be read.
FreeSpace freeSpaceOf(const std::string& folder);

// "512 bytes", "64.0 MB", "1.5 GB": sizes in units of 1024, as --min-free reads them.
std::string sizeText(std::uint64_t bytes);

// Whether a failed write's errno means a full disk or an exhausted quota: the file is
// given up, the run goes on.
bool isSpaceError(int error);

class FileGuard {
public:
    // Clips need more than the larger of `minFreeBytes` and `minFreePercent` % of the
    // file system free. `warnings` may be null.
    FileGuard(std::uint64_t minFreeBytes, double minFreePercent, std::FILE* warnings);

    // Whether a clip may be written in `folder` now; a refusal is counted.
    bool roomForClip(const std::string& folder);
    // A clip whose write failed with `error`, a space error; counted like a refusal.
    void clipRefused(const std::string& folder, int error);
    // The clip `name` was saved in `folder`: after refusals, says that saving goes on
    // again, and tells the retention, when there is one, that this process wrote it.
    void clipSaved(const std::string& folder, const std::string& name);
    void ageSavedClipsIn(ClipRetention* retention) { retention_ = retention; }
    // Why the last clip was refused ("out/clips is full (No space left on device)"), or
    // empty when none was.
    const std::string& lastRefusal() const { return lastRefusal_; }

    // Makes a clip folder that was removed under the run again, with a warning; false
    // when `folder` exists or cannot be made, which leaves the clip's failure as it was.
    bool remakeVanishedFolder(const std::string& folder);

    // Level-log lines that could not be written, oldest first, to be written before the next.
    const std::string& keptLogLines() const { return keptLogLines_; }
    void keepLogLine(const std::string& line, const std::string& logFile,
                     const std::string& reason);
    void keptLogLinesWritten(const std::string& logFile);

    // The fixed `message`, a newline and `detail`, held here for the error status; the
    // plain message when there is no detail. Valid until the next call.
    const char* failure(const char* message, const std::string& detail);

    // Once an hour, and at the end of the run: how many clips found no room since the
    // last word about it.
    void reportRefusals();

    std::FILE* warnings() const { return warnings_; }
    std::uint64_t limitFor(const FreeSpace& space) const;

    // Milliseconds a clip writer waits before its rename; only tests set it.
    int pauseBeforeRename = 0;

private:
    void refuse(const std::string& folder, const std::string& why);

    std::uint64_t minFreeBytes_;
    double minFreePercent_;
    std::FILE* warnings_;
    long refusedSinceReport_ = 0;
    bool refusing_ = false;
    std::string lastFolder_;
    std::string lastRefusal_;
    ClipRetention* retention_ = nullptr;
    std::string keptLogLines_;
    int keptLineCount_ = 0;
    char message_[2048] = {};
};

// The guard placed in a block's first pointer work slot, or null.
FileGuard* fileGuardOf(const BlockRecord& block);
void placeFileGuard(BlockRecord& block, FileGuard* guard);

}  // namespace bm7
