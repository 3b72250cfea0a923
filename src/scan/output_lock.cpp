#include "scan/output_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>

namespace bm7::scan {

namespace {

// A lock file removed by its last holder between our open and our lock is retried.
constexpr int kAttempts = 10;

std::string hostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return "?";
    return name;
}

// Whether `path` is still the file open on `descriptor`: a lock on a file already
// removed from the folder keeps out nobody.
bool namesFile(const std::string& path, int descriptor) {
    struct stat open {};
    struct stat named {};
    return ::fstat(descriptor, &open) == 0 && ::stat(path.c_str(), &named) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

// A process of this machine that has ended may have left its line behind when it was killed.
bool mayBeRunning(long pid, const std::string& host) {
    return host != hostName() || (pid > 0 && pid <= INT_MAX &&
                                  (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM));
}

// "process PID on HOST" for each holder the lock file names, comma separated.
std::string holdersNamedIn(int descriptor) {
    std::string text;
    char buffer[4096];
    for (off_t at = 0;;) {
        const ssize_t count = ::pread(descriptor, buffer, sizeof buffer, at);
        if (count <= 0) break;
        text.append(buffer, static_cast<std::size_t>(count));
        at += count;
    }
    std::istringstream lines(text);
    std::string holders;
    long pid = 0;
    std::string host;
    while (lines >> pid >> host) {
        if (!mayBeRunning(pid, host)) continue;
        holders +=
            (holders.empty() ? "" : ", ") + ("process " + std::to_string(pid) + " on " + host);
    }
    return holders;
}

std::string refusal(const std::string& outputFolder, int descriptor) {
    const std::string holders = holdersNamedIn(descriptor);
    return "output folder \"" + outputFolder + "\" is in use by another scan" +
           (holders.empty() ? std::string() : " (" + holders + ")");
}

void nameHolder(int descriptor, OutputLock::Mode mode) {
    if (mode == OutputLock::Mode::exclusive && ::ftruncate(descriptor, 0) != 0) return;
    const std::string line = std::to_string(::getpid()) + " " + hostName() + "\n";
    if (::write(descriptor, line.data(), line.size()) < 0) return;  // only a refused scan misses it
}

}  // namespace

OutputLock::~OutputLock() {
    if (descriptor_ < 0) return;
    // Only a holder left alone may remove the file; a shared lock fails this and keeps it.
    if (::flock(descriptor_, LOCK_EX | LOCK_NB) == 0 && namesFile(path_, descriptor_)) {
        ::unlink(path_.c_str());
    }
    ::close(descriptor_);
}

bool OutputLock::acquire(const std::string& outputFolder, Mode mode, std::string& problem) {
    const std::string path = (std::filesystem::path(outputFolder) / kOutputLockName).string();
    const int operation = (mode == Mode::shared ? LOCK_SH : LOCK_EX) | LOCK_NB;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const int descriptor = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (descriptor < 0) {
            problem = "cannot open \"" + path + "\": " + std::strerror(errno);
            return false;
        }
        if (::flock(descriptor, operation) != 0) {
            const int reason = errno;
            if (reason == EWOULDBLOCK) problem = refusal(outputFolder, descriptor);
            ::close(descriptor);
            if (reason == EWOULDBLOCK) return false;
            // Some cluster file systems lock nothing; a scan there runs as it did before locks.
            problem = "warning: cannot lock output folder \"" + outputFolder + "\" (" +
                      std::strerror(reason) + "); no other scan must write into it meanwhile";
            return true;
        }
        if (!namesFile(path, descriptor)) {
            ::close(descriptor);
            continue;
        }
        descriptor_ = descriptor;
        path_ = path;
        nameHolder(descriptor, mode);
        return true;
    }
    problem =
        "cannot lock output folder \"" + outputFolder + "\": its lock file keeps being removed";
    return false;
}

}  // namespace bm7::scan
