// The lock a scan holds on its output folder for its whole run, so that two scans never
// write one folder's clips, journal and tables at once: shards of one scan share it, any
// other scan holds it alone, and a scan that cannot have it refuses at once rather than
// wait. Each holder writes "PID HOST" into the lock file so that a refused scan can name
// it; the last holder to end removes the file, and one left by a killed scan is reused.
#pragma once

#include <string>

namespace bm7::scan {

inline constexpr const char* kOutputLockName = "scan.lock";

class OutputLock {
public:
    enum class Mode { shared, exclusive };

    OutputLock() = default;
    ~OutputLock();
    OutputLock(const OutputLock&) = delete;
    OutputLock& operator=(const OutputLock&) = delete;

    // Takes the lock on `outputFolder`, which must exist. False when it cannot be had:
    // `problem` then names the folder and the processes holding it, or the system's reason.
    // On a file system that cannot lock, true without the lock and a warning in `problem`.
    bool acquire(const std::string& outputFolder, Mode mode, std::string& problem);

private:
    int descriptor_ = -1;
    std::string path_;
};

}  // namespace bm7::scan
