#include "scan/journal.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "files/atomic_file.h"

namespace bm7::scan {

namespace {

namespace fs = std::filesystem;

constexpr std::time_t kStaleTemporarySeconds = 24 * 60 * 60;

void removeStaleTemporaryFiles(const std::string& folder) {
    const std::time_t now = std::time(nullptr);
    std::error_code error;
    for (fs::directory_iterator entry(folder, error); !error && entry != fs::directory_iterator();
         entry.increment(error)) {
        if (!isTemporaryFileName(entry->path().filename().string())) continue;
        struct stat info {};
        if (::lstat(entry->path().c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            now - info.st_mtime > kStaleTemporarySeconds) {
            ::unlink(entry->path().c_str());
        }
    }
}

}  // namespace

bool keyOf(const std::string& path, const std::string& options, RecordingKey& key,
           std::string& problem) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        problem = path + ": " + std::strerror(errno);
        return false;
    }
    key.path = path;
    key.size = static_cast<std::uintmax_t>(info.st_size);
    key.modifiedNanoseconds =
        static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    key.options = options;
    return true;
}

std::string journalEntryName(const std::string& path) {
    return fnv1a64Hex(path) + ".entry";
}

bool Journal::open(const std::string& outputFolder, std::string& problem) {
    folder_.clear();
    const std::string folder =
        (fs::path(outputFolder.empty() ? "." : outputFolder) / kJournalFolderName).string();
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) {
        problem = folder + ": " + error.message();
        return false;
    }
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        problem = folder + ": " + std::strerror(errno);
        return false;
    }
    removeStaleTemporaryFiles(folder);
    folder_ = folder;
    return true;
}

std::optional<FileResult> Journal::find(const RecordingKey& key) const {
    if (folder_.empty()) return std::nullopt;
    std::ifstream in(entryPath(key.path), std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return readJournalEntry(text.str(), key);
}

bool Journal::record(const RecordingKey& key, const FileResult& result, std::string& problem) {
    if (folder_.empty()) {
        problem = "the resume journal was not opened";
        return false;
    }
    return writeFileAtomically(entryPath(key.path), journalEntryText(key, result), problem);
}

void Journal::forget(const RecordingKey& key) {
    if (folder_.empty()) return;
    ::unlink(entryPath(key.path).c_str());
}

std::string Journal::entryPath(const std::string& recordingPath) const {
    return (fs::path(folder_) / journalEntryName(recordingPath)).string();
}

}  // namespace bm7::scan
