#include "files/file_guard.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "driver/command_line.h"

namespace bm7 {

FreeSpace freeSpaceOf(const std::string& folder) {
    struct statvfs fs {};
    if (::statvfs(folder.c_str(), &fs) != 0) return {};
    const std::uint64_t unit = fs.f_frsize != 0 ? fs.f_frsize : fs.f_bsize;
    return {true, std::uint64_t{fs.f_bavail} * unit, std::uint64_t{fs.f_blocks} * unit};
}

std::string sizeText(std::uint64_t bytes) {
    if (bytes < 1024) return std::to_string(bytes) + " bytes";
    const char* units[] = {"kB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes) / 1024.0;
    int unit = 0;
    while (value >= 1024.0 && unit < 3) {
        value /= 1024.0;
        ++unit;
    }
    char text[48];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

bool isSpaceError(int error) {
    return error == ENOSPC || error == EDQUOT;
}

FileGuard::FileGuard(std::uint64_t minFreeBytes, double minFreePercent, std::FILE* warnings)
    : minFreeBytes_(minFreeBytes), minFreePercent_(minFreePercent), warnings_(warnings) {}

std::uint64_t FileGuard::limitFor(const FreeSpace& space) const {
    const auto share =
        static_cast<std::uint64_t>(static_cast<double>(space.total) * minFreePercent_ / 100.0);
    return std::max(minFreeBytes_, share);
}

bool FileGuard::roomForClip(const std::string& folder) {
    const FreeSpace space = freeSpaceOf(folder);
    // A file system that cannot be asked is left to the write to find out.
    if (!space.known || space.available >= limitFor(space)) return true;
    refuse(folder, "only " + sizeText(space.available) + " free in " + folder + " (the limit is " +
                       sizeText(limitFor(space)) + ")");
    return false;
}

void FileGuard::clipRefused(const std::string& folder, int error) {
    refuse(folder, folder + " is full (" + std::strerror(error) + ")");
}

void FileGuard::clipSaved(const std::string& folder, const std::string& name) {
    if (retention_ != nullptr) retention_->noteOwnClip(name);
    if (!refusing_) return;
    refusing_ = false;
    if (warnings_ == nullptr) return;
    std::fprintf(warnings_, "%s: %s free in %s: saving clips again\n", kModelName,
                 sizeText(freeSpaceOf(folder).available).c_str(), folder.c_str());
    reportRefusals();
}

bool FileGuard::remakeVanishedFolder(const std::string& folder) {
    std::error_code error;
    if (std::filesystem::exists(folder, error) || error) return false;
    if (!std::filesystem::create_directories(folder, error)) return false;
    if (warnings_ == nullptr) return true;
    std::fprintf(warnings_, "%s: warning: the clip folder %s had vanished; made it again\n",
                 kModelName, folder.c_str());
    std::fflush(warnings_);
    return true;
}

void FileGuard::refuse(const std::string& folder, const std::string& why) {
    ++refusedSinceReport_;
    lastFolder_ = folder;
    lastRefusal_ = why;
    if (refusing_) return;
    // The first refusal is said at once; later ones are counted into the hourly line.
    refusing_ = true;
    if (warnings_ == nullptr) return;
    std::fprintf(warnings_,
                 "%s: warning: %s: clips are not saved until space returns; detection goes on\n",
                 kModelName, why.c_str());
    std::fflush(warnings_);
}

void FileGuard::reportRefusals() {
    if (refusedSinceReport_ == 0) return;
    if (warnings_ == nullptr) {
        refusedSinceReport_ = 0;
        return;
    }
    std::fprintf(warnings_, "%s: warning: %ld clip%s not saved for lack of space; %s free in %s\n",
                 kModelName, refusedSinceReport_, refusedSinceReport_ == 1 ? " was" : "s were",
                 sizeText(freeSpaceOf(lastFolder_).available).c_str(), lastFolder_.c_str());
    std::fflush(warnings_);
    refusedSinceReport_ = 0;
}

void FileGuard::keepLogLine(const std::string& line, const std::string& logFile,
                            const std::string& reason) {
    keptLogLines_ += line;
    ++keptLineCount_;
    if (warnings_ == nullptr) return;
    std::fprintf(warnings_,
                 "%s: warning: cannot append to the level log %s: %s; %d line%s kept to be "
                 "written at the next hour\n",
                 kModelName, logFile.c_str(), reason.c_str(), keptLineCount_,
                 keptLineCount_ == 1 ? "" : "s");
    std::fflush(warnings_);
}

void FileGuard::keptLogLinesWritten(const std::string& logFile) {
    if (keptLineCount_ == 0) return;
    if (warnings_ != nullptr) {
        std::fprintf(warnings_, "%s: the level log %s has its %d kept line%s now\n", kModelName,
                     logFile.c_str(), keptLineCount_, keptLineCount_ == 1 ? "" : "s");
        std::fflush(warnings_);
    }
    keptLogLines_.clear();
    keptLineCount_ = 0;
}

const char* FileGuard::failure(const char* message, const std::string& detail) {
    if (detail.empty()) return message;
    std::snprintf(message_, sizeof message_, "%s\n%s", message, detail.c_str());
    return message_;
}

FileGuard* fileGuardOf(const BlockRecord& block) {
    if (block.pointerWorkCount < 1 || block.pointerWork == nullptr) return nullptr;
    return static_cast<FileGuard*>(block.pointerWork[0]);
}

void placeFileGuard(BlockRecord& block, FileGuard* guard) {
    block.pointerWork[0] = guard;
}

}  // namespace bm7
