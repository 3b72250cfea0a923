#include "station/detection_table.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "driver/command_line.h"
#include "files/atomic_file.h"
#include "files/csv.h"
#include "files/number_text.h"

namespace bm7::station {

namespace {

// Rows go out in writes of about this size, so that a disk that frees a little space
// takes some of the waiting rows rather than none.
constexpr std::size_t kBatchBytes = 64 * 1024;
// A clip name with a line break spans lines; no row spans more than this many.
constexpr int kMostLinesOfARow = 4;

std::string systemProblem(const std::string& path) {
    return path + ": " + std::strerror(errno);
}

const char* plural(std::size_t count) {
    return count == 1 ? "" : "s";
}

bool readAll(int fd, off_t size, std::string& text) {
    text.resize(static_cast<std::size_t>(size));
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t got =
            ::pread(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
        if (got <= 0) return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

bool writeAll(int fd, std::string_view text) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written >= 0 && written != static_cast<ssize_t>(text.size())) errno = ENOSPC;
    return written == static_cast<ssize_t>(text.size());
}

// `text` against `pattern`, where '#' stands for any digit.
bool matchesPattern(std::string_view text, std::string_view pattern) {
    if (text.size() != pattern.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (pattern[i] == '#' ? !digit : text[i] != pattern[i]) return false;
    }
    return true;
}

bool isDateTimeCell(std::string_view cell) {
    constexpr std::string_view kClock = "####-##-##T##:##:##.###";
    if (cell.empty()) return true;
    if (cell.size() < kClock.size() || !matchesPattern(cell.substr(0, kClock.size()), kClock)) {
        return false;
    }
    const std::string_view offset = cell.substr(kClock.size());
    return offset == "Z" || matchesPattern(offset, "+##:##") || matchesPattern(offset, "-##:##");
}

bool isDigits(std::string_view part) {
    return !part.empty() &&
           std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool isNumberCell(const std::string& cell) {
    std::string_view number = cell;
    if (number.empty()) return true;
    if (number.starts_with('-')) number.remove_prefix(1);
    const std::size_t point = number.find('.');
    if (point == number.npos) return isDigits(number);
    return isDigits(number.substr(0, point)) && isDigits(number.substr(point + 1));
}

// The fields of one CSV record; false when its quoting is broken.
bool splitRecord(std::string_view record, std::vector<std::string>& fields) {
    fields.assign(1, "");
    for (std::size_t i = 0; i < record.size(); ++i) {
        std::string& field = fields.back();
        if (record[i] == ',') {
            fields.emplace_back();
        } else if (record[i] != '"') {
            field += record[i];
        } else {
            const bool fieldStart = i == 0 || record[i - 1] == ',';
            if (!fieldStart) return false;
            for (++i;; ++i) {
                if (i == record.size()) return false;
                if (record[i] != '"') {
                    field += record[i];
                } else if (i + 1 < record.size() && record[i + 1] == '"') {
                    field += '"';
                    ++i;
                } else {
                    break;
                }
            }
            if (i + 1 < record.size() && record[i + 1] != ',') return false;
        }
    }
    return true;
}

bool quoteLeftOpen(std::string_view text) {
    return std::count(text.begin(), text.end(), '"') % 2 == 1;
}

// The length of the row at the front of `body`, line end included: one line, or up to
// kMostLinesOfARow lines when a quoted clip name holds line breaks and together they
// make a row.
std::size_t rowLength(std::string_view body) {
    std::size_t end = body.find('\n');
    const std::size_t oneLine = end + 1;
    std::string clip;
    for (int lines = 1;
         lines < kMostLinesOfARow && quoteLeftOpen(body.substr(0, end)) && end + 1 < body.size();
         ++lines) {
        end = body.find('\n', end + 1);
        if (isWellFormedRow(body.substr(0, end), clip)) return end + 1;
    }
    return oneLine;
}

// The rows of a table body (whole lines only), sorted into those that stay and those
// that go aside; `found` gets the clip cells of the rows that stay.
SortedRows sortRows(std::string_view body, TableFound& found) {
    SortedRows rows;
    std::string clip;
    while (!body.empty()) {
        const std::size_t length = rowLength(body);
        const std::string_view row = body.substr(0, length);
        if (isWellFormedRow(row.substr(0, length - 1), clip)) {
            rows.kept += row;
            found.clips.insert(clip);
            if (!clip.empty()) found.lastClip = clip;
        } else {
            rows.damaged += row;
            ++rows.damagedCount;
        }
        body.remove_prefix(length);
    }
    return rows;
}

bool appendSynced(const std::string& path, std::string_view text, std::string& problem) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    bool done = fd >= 0 && writeAll(fd, text) && ::fsync(fd) == 0;
    if (!done) problem = systemProblem(path);
    if (fd >= 0 && ::close(fd) != 0 && done) {
        problem = systemProblem(path);
        done = false;
    }
    return done;
}

}  // namespace

DetectionTable::~DetectionTable() {
    close();
}

bool DetectionTable::open(const std::string& path, std::FILE* warnings, std::string& problem) {
    close();
    path_ = path;
    warnings_ = warnings;
    found_ = {};
    struct stat info {};
    found_.existed = ::stat(path.c_str(), &info) == 0;
    found_.modified = info.st_mtim;
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    std::string text;
    if (fd_ < 0 || ::fstat(fd_, &info) != 0 || !readAll(fd_, info.st_size, text)) {
        problem = systemProblem(path);
        close();
        return false;
    }
    if (!repair(text, problem)) {
        close();
        return false;
    }
    return true;
}

// The header line stays whatever it holds; a table without one whole line starts over.
bool DetectionTable::repair(const std::string& text, std::string& problem) {
    const std::size_t whole = text.rfind('\n') + 1;
    if (whole == 0) {
        if ((!text.empty() && ::ftruncate(fd_, 0) != 0) ||
            !writeAll(fd_, std::string(kDetectionTableHeader) + "\n")) {
            problem = systemProblem(path_);
            return false;
        }
        return true;
    }
    const std::size_t headerEnd = text.find('\n') + 1;
    const SortedRows rows =
        sortRows(std::string_view(text).substr(headerEnd, whole - headerEnd), found_);
    if (rows.damagedCount != 0 && moveAside(text.substr(0, headerEnd) + rows.kept, rows)) {
        ::close(fd_);
        fd_ = ::open(path_.c_str(), O_RDWR | O_APPEND | O_CLOEXEC);
    } else if (whole != text.size() && ::ftruncate(fd_, static_cast<off_t>(whole)) != 0) {
        problem = systemProblem(path_);
        return false;
    }
    if (fd_ < 0) problem = systemProblem(path_);
    return fd_ >= 0;
}

// The malformed rows go to the side file before the table is replaced without them: a
// crash between the two leaves them twice, never nowhere. When either fails they stay.
bool DetectionTable::moveAside(const std::string& table, const SortedRows& rows) {
    const std::string sideFile = path_ + ".damaged";
    std::string problem;
    if (!appendSynced(sideFile, rows.damaged, problem) ||
        !writeFileAtomically(path_, table, problem)) {
        std::fprintf(warnings_,
                     "%s: warning: %zu malformed row%s of the detection table %s could not be "
                     "moved aside: %s\n",
                     kModelName, rows.damagedCount, plural(rows.damagedCount), path_.c_str(),
                     problem.c_str());
        return false;
    }
    std::fprintf(warnings_, "%s: moved %zu malformed row%s of the detection table %s to %s\n",
                 kModelName, rows.damagedCount, plural(rows.damagedCount), path_.c_str(),
                 sideFile.c_str());
    return true;
}

void DetectionTable::append(const TableRow& row) {
    const std::size_t before = waiting_.size();
    wait(formatTableRow(row));
    if (writeWaiting()) {
        if (before != 0) sayWaitingWritten(before);
    } else if (before == 0) {
        std::fprintf(warnings_,
                     "%s: warning: cannot append to the detection table %s: %s; its rows wait "
                     "in memory until it can be written, counted once an hour\n",
                     kModelName, path_.c_str(), lastFailure_.c_str());
    }
    std::fflush(warnings_);
}

void DetectionTable::reportWaiting() {
    const std::size_t before = waiting_.size();
    if (before == 0) return;
    if (writeWaiting()) {
        sayWaitingWritten(before);
    } else {
        std::fprintf(warnings_, "%s: warning: %zu row%s waiting for the detection table %s (%s)",
                     kModelName, before, plural(before), path_.c_str(), lastFailure_.c_str());
        sayRowsLost();
    }
    std::fflush(warnings_);
}

void DetectionTable::sayWaitingWritten(std::size_t rows) {
    std::fprintf(warnings_, "%s: the detection table %s has its %zu waiting row%s now", kModelName,
                 path_.c_str(), rows, plural(rows));
    sayRowsLost();
}

// Ends a warning line with the rows lost beyond those kept since it was last said.
void DetectionTable::sayRowsLost() {
    if (rowsLost_ != 0) {
        std::fprintf(warnings_, "; %zu more were lost beyond the %zu kept", rowsLost_,
                     kMostRowsWaiting);
    }
    std::fputc('\n', warnings_);
    rowsLost_ = 0;
}

void DetectionTable::close() {
    if (fd_ < 0) return;
    if (!waiting_.empty() && !writeWaiting()) {
        std::fprintf(
            warnings_,
            "%s: warning: these rows could not be appended to the detection table %s (%s):\n",
            kModelName, path_.c_str(), lastFailure_.c_str());
        for (const std::string& line : waiting_) std::fputs(line.c_str(), warnings_);
        std::fflush(warnings_);
    }
    waiting_.clear();
    ::close(fd_);
    fd_ = -1;
}

void DetectionTable::wait(std::string line) {
    if (waiting_.size() < kMostRowsWaiting) {
        waiting_.push_back(std::move(line));
    } else {
        ++rowsLost_;
    }
}

// Oldest first, in batches; stops at the first batch that finds no room.
bool DetectionTable::writeWaiting() {
    while (!waiting_.empty()) {
        std::size_t rows = 0;
        std::size_t bytes = 0;
        while (rows < waiting_.size() &&
               (rows == 0 || bytes + waiting_[rows].size() <= kBatchBytes)) {
            bytes += waiting_[rows++].size();
        }
        if (!writeBatch(rows)) return false;
        waiting_.erase(waiting_.begin(), waiting_.begin() + static_cast<std::ptrdiff_t>(rows));
    }
    return true;
}

// A table removed under the run (its folder deleted, then made again for a clip) would
// swallow every later row unseen: it is made again at its path, with its header.
bool DetectionTable::followPath() {
    struct stat open {};
    struct stat named {};
    if (fd_ >= 0 && ::fstat(fd_, &open) == 0 && ::stat(path_.c_str(), &named) == 0 &&
        open.st_dev == named.st_dev && open.st_ino == named.st_ino) {
        return true;
    }
    std::error_code ignored;  // the open below says what is wrong
    std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), ignored);
    const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    struct stat made {};
    if (fd < 0 || ::fstat(fd, &made) != 0 ||
        (made.st_size == 0 && !writeAll(fd, std::string(kDetectionTableHeader) + "\n"))) {
        lastFailure_ = std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return false;
    }
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
    std::fprintf(warnings_, "%s: warning: the detection table %s had vanished; made it again\n",
                 kModelName, path_.c_str());
    return true;
}

// The batch lands whole and synced, or the file is cut back to where it began.
bool DetectionTable::writeBatch(std::size_t rows) {
    std::string text;
    for (std::size_t i = 0; i < rows; ++i) text += waiting_[i];
    struct stat before {};
    if (!followPath()) return false;
    if (::fstat(fd_, &before) != 0) {
        lastFailure_ = std::strerror(errno);
        return false;
    }
    if (writeAll(fd_, text) && ::fdatasync(fd_) == 0) return true;
    lastFailure_ = std::strerror(errno);
    if (::ftruncate(fd_, before.st_size) != 0) {
        // The reason of the failed write is what counts; the next open drops a partial row.
    }
    return false;
}

// The live report opens each clip by this column, so it keeps its bytes.
constexpr std::size_t kClipColumn = 5;

std::string formatTableRow(const TableRow& row) {
    return csvLine({row.beginDateTime, fixedDecimals(row.startSeconds, 6),
                    fixedDecimals(row.durationSeconds, 6), fixedDecimals(row.songRatio, 4),
                    fixedDecimals(row.peakLevelDb, 2), row.clip},
                   {kClipColumn});
}

bool isWellFormedRow(std::string_view record, std::string& clip) {
    std::vector<std::string> fields;
    if (!splitRecord(record, fields) || fields.size() != 6 || !isDateTimeCell(fields[0]) ||
        !std::all_of(fields.begin() + 1, fields.begin() + 5, isNumberCell) ||
        fields[5].find('/') != std::string::npos) {
        return false;
    }
    clip = fields[5];
    return true;
}

}  // namespace bm7::station
