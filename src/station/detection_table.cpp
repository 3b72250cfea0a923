#include "station/detection_table.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "files/csv.h"
#include "files/number_text.h"

namespace bm7::station {

namespace {

std::string systemProblem(const std::string& path) { return path + ": " + std::strerror(errno); }

// Length of the file up to and including its last newline.
bool lengthOfWholeLines(int fd, off_t size, off_t& whole) {
    char block[4096];
    for (off_t end = size; end > 0;) {
        const off_t start = end > static_cast<off_t>(sizeof block) ? end - sizeof block : 0;
        const ssize_t got = ::pread(fd, block, static_cast<std::size_t>(end - start), start);
        if (got != end - start) return false;
        for (off_t i = got; i > 0; --i) {
            if (block[i - 1] == '\n') {
                whole = start + i;
                return true;
            }
        }
        end = start;
    }
    whole = 0;
    return true;
}

}  // namespace

DetectionTable::~DetectionTable() { close(); }

bool DetectionTable::open(const std::string& path, std::string& problem) {
    close();
    path_ = path;
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        problem = systemProblem(path);
        return false;
    }
    struct stat info {};
    off_t whole = 0;
    if (::fstat(fd_, &info) != 0 || !lengthOfWholeLines(fd_, info.st_size, whole) ||
        (whole != info.st_size && ::ftruncate(fd_, whole) != 0)) {
        problem = systemProblem(path);
        close();
        return false;
    }
    if (whole == 0) return writeWhole(std::string(kDetectionTableHeader) + "\n", problem);
    return true;
}

bool DetectionTable::append(const TableRow& row, std::string& problem) {
    return writeWhole(formatTableRow(row), problem);
}

void DetectionTable::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

// One write per line: with O_APPEND it lands whole at the end, or fails whole.
bool DetectionTable::writeWhole(const std::string& text, std::string& problem) {
    if (fd_ < 0) {
        problem = path_ + ": not open";
        return false;
    }
    const ssize_t written = ::write(fd_, text.data(), text.size());
    if (written != static_cast<ssize_t>(text.size())) {
        if (written >= 0) errno = ENOSPC;
        problem = systemProblem(path_);
        return false;
    }
    if (::fdatasync(fd_) != 0) {
        problem = systemProblem(path_);
        return false;
    }
    return true;
}

// The live report opens each clip by this column, so it keeps its bytes.
constexpr std::size_t kClipColumn = 5;

std::string formatTableRow(const TableRow& row) {
    return csvLine({row.beginDateTime, fixedDecimals(row.startSeconds, 6),
                    fixedDecimals(row.durationSeconds, 6), fixedDecimals(row.songRatio, 4),
                    fixedDecimals(row.peakLevelDb, 2), row.clip},
                   {kClipColumn});
}

}  // namespace bm7::station
