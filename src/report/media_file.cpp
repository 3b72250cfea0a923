#include "report/media_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "files/atomic_file.h"

namespace bm7::report {

namespace {

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

bool failed(const std::string& path, std::string& problem) {
    problem = path + ": " + std::strerror(errno);
    return false;
}

}  // namespace

bool writeMediaFile(const std::string& path, std::string_view bytes, std::string& problem) {
    const std::string temporary = temporaryPathFor(path);
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return failed(temporary, problem);
    const bool written = writeAll(fd, bytes);
    const int writeError = errno;
    // A failed write is often only seen at the close, as on a full disk.
    if (::close(fd) != 0 || !written || std::rename(temporary.c_str(), path.c_str()) != 0) {
        if (!written) errno = writeError;
        failed(path, problem);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool syncMediaFolder(const std::string& folder, std::string& problem) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return failed(folder, problem);
    const bool synced = ::syncfs(fd) == 0;
    const int error = errno;
    ::close(fd);
    errno = error;
    return synced || failed(folder, problem);
}

}  // namespace bm7::report
