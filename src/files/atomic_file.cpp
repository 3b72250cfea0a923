#include "files/atomic_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace bm7 {

namespace {

constexpr std::string_view kTemporaryEnding = ".part";
// A 32768-sample clip of 16-bit samples with its header.
constexpr std::size_t kWriteBufferBytes = 64 * 1024 + 512;

std::atomic<unsigned> temporaryCount{0};

// The rename is only durable once the folder's entry is on disk too.
void syncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// Only a file system that lacks the flag gets the hard link, which never replaces either.
bool renameWithoutReplacing(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) return false;
    if (::link(from.c_str(), to.c_str()) != 0) return false;
    ::unlink(from.c_str());
    return true;
}

bool renameTo(const std::string& from, const std::string& to, FinalName finalName) {
    return finalName == FinalName::mustBeNew ? renameWithoutReplacing(from, to)
                                             : std::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace

std::string folderOf(const std::string& path) {
    const std::string folder = std::filesystem::path(path).parent_path().string();
    return folder.empty() ? "." : folder;
}

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    std::filesystem::directory_iterator entry(folder, error);
    for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
        names.push_back(entry->path().filename().string());
    }
    return names;
}

std::string temporaryPathFor(const std::string& finalPath) {
    const std::filesystem::path target(finalPath);
    const std::string unique =
        std::to_string(::getpid()) + "-" + std::to_string(temporaryCount.fetch_add(1));
    return (target.parent_path() /
            ("." + target.filename().string() + "." + unique + std::string(kTemporaryEnding)))
        .string();
}

bool isTemporaryFileName(std::string_view fileName) {
    return fileName.size() > 1 + kTemporaryEnding.size() && fileName.front() == '.' &&
           fileName.ends_with(kTemporaryEnding);
}

AtomicFile::~AtomicFile() {
    abandon();
}

bool AtomicFile::open(const std::string& finalPath, std::string& problem) {
    abandon();
    error_ = 0;
    renameFailed_ = false;
    finalPath_ = finalPath;
    temporaryPath_ = temporaryPathFor(finalPath);
    const int fd = ::open(temporaryPath_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return fail(temporaryPath_, problem);
    stream_ = ::fdopen(fd, "wb");
    if (stream_ == nullptr) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return fail(temporaryPath_, problem);
    }
    // A clip goes out in one or two writes instead of one per 4 KiB; a failure to set the
    // size only keeps the default.
    std::setvbuf(stream_, nullptr, _IOFBF, kWriteBufferBytes);
    return true;
}

bool AtomicFile::commit(std::string& problem, bool written, FinalName finalName) {
    if (stream_ == nullptr) {
        problem = finalPath_ + ": not open";
        return false;
    }
    // Keep the errno of a write the caller saw fail; it says more than the close.
    const int callerError = written ? 0 : errno;
    errno = 0;
    const bool stored = written && std::fflush(stream_) == 0 && ::fsync(::fileno(stream_)) == 0;
    const int writeError = written ? errno : callerError;
    const bool closed = std::fclose(stream_) == 0;
    stream_ = nullptr;
    if (!stored || !closed) {
        errno = writeError != 0 ? writeError : (errno != 0 ? errno : EIO);
        return fail(finalPath_, problem);
    }
    if (!renameTo(temporaryPath_, finalPath_, finalName)) {
        fail(finalPath_, problem);
        renameFailed_ = true;
        return false;
    }
    temporaryPath_.clear();
    syncFolder(folderOf(finalPath_));
    return true;
}

void AtomicFile::abandon() {
    if (stream_ != nullptr) {
        std::fclose(stream_);
        stream_ = nullptr;
    }
    if (!temporaryPath_.empty()) {
        ::unlink(temporaryPath_.c_str());
        temporaryPath_.clear();
    }
}

bool AtomicFile::fail(const std::string& path, std::string& problem) {
    error_ = errno;
    problem = path + ": " + std::strerror(error_);
    abandon();
    return false;
}

bool writeFileAtomically(const std::string& path, std::string_view contents, std::string& problem) {
    AtomicFile file;
    if (!file.open(path, problem)) return false;
    const bool written =
        contents.empty() || std::fwrite(contents.data(), contents.size(), 1, file.stream()) == 1;
    return file.commit(problem, written);
}

}  // namespace bm7
