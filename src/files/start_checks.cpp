#include "files/start_checks.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "driver/command_line.h"
#include "files/atomic_file.h"
#include "files/stop_file.h"

namespace bm7 {

namespace {

std::string cannotWrite(const char* what, const std::string& path, int error) {
    std::string message = "Cannot write in ";
    message.append(what).append(" \"").append(path).append("\": ").append(std::strerror(error));
    return message;
}

// The process that made a temporary name ".NAME.<pid>-<n>.part", or 0.
pid_t writerOf(const std::string& fileName) {
    const std::string stem = fileName.substr(0, fileName.size() - std::strlen(".part"));
    const std::size_t dot = stem.rfind('.');
    if (dot == std::string::npos) return 0;
    char* end = nullptr;
    const long pid = std::strtol(stem.c_str() + dot + 1, &end, 10);
    return *end == '-' && pid > 0 ? static_cast<pid_t>(pid) : 0;
}

bool isRunning(pid_t pid) {
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

}  // namespace

std::string checkFolderWritable(const std::string& folder, const char* purpose) {
    AtomicFile probe;
    std::string problem;
    if (!probe.open(folder + "/write-test", problem)) {
        return cannotWrite(purpose, folder, probe.error());
    }
    probe.abandon();
    return "";
}

std::string checkLogWritable(const std::string& logFile) {
    std::string problem = checkFolderWritable(folderOf(logFile), "log directory");
    if (!problem.empty()) return problem;
    const int fd = ::open(logFile.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? "" : cannotWrite("log file", logFile, errno);
    ::close(fd);
    return "";
}

int removeStaleTemporaryFiles(const std::string& folder) {
    int removed = 0;
    for (const std::string& name : namesIn(folder)) {
        if (!isTemporaryFileName(name)) continue;
        const pid_t writer = writerOf(name);
        if (writer == 0 || isRunning(writer)) continue;
        if (::unlink((folder + "/" + name).c_str()) == 0) ++removed;
    }
    return removed;
}

std::string prepareRunFiles(const FileSettings& settings, std::FILE* warnings) {
    // An empty name turns that output or probe off, as the archive scan's runs do.
    const bool clips = !settings.clipDirectory.empty();
    const bool log = !settings.logFile.empty();
    std::string problem;
    if (clips) problem = createClipDirectory(settings.clipDirectory);
    if (problem.empty() && log) problem = createLogDirectory(settings.logFile);
    if (problem.empty() && clips)
        problem = checkFolderWritable(settings.clipDirectory, "clip directory");
    if (problem.empty() && log) problem = checkLogWritable(settings.logFile);
    if (problem.empty() && !settings.stopFile.empty())
        problem = clearStopFile(settings.stopFile, warnings);
    if (!problem.empty() || !clips) return problem;
    if (const int stale = removeStaleTemporaryFiles(settings.clipDirectory)) {
        std::fprintf(warnings, "%s: removed %d unfinished file%s of an earlier run from %s\n",
                     kModelName, stale, stale == 1 ? "" : "s", settings.clipDirectory.c_str());
    }
    return "";
}

}  // namespace bm7
