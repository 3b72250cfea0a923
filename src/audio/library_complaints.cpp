#include "audio/library_complaints.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace bm7 {

namespace {

// How the lines the sound libraries print on their own begin.
constexpr std::string_view kComplaintStarts[] = {
    "Expression '",  // PortAudio's failed internal calls
    "PaAlsa",        // PortAudio's ALSA host
    "ALSA lib ",
    "Cannot connect to server",  // the JACK client, while PortAudio probes for it
    "jack server is not running",
    "JackShm",
};

void writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

void forwardLines(int from, int to) {
    std::string pending;
    char chunk[4096];
    for (;;) {
        const ssize_t count = read(from, chunk, sizeof chunk);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        pending.append(chunk, static_cast<std::size_t>(count));
        std::size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            if (!isLibraryComplaint(std::string_view(pending).substr(0, end))) {
                writeAll(to, pending.data(), end + 1);
            }
            pending.erase(0, end + 1);
        }
    }
    if (!pending.empty() && !isLibraryComplaint(pending))
        writeAll(to, pending.data(), pending.size());
    close(from);
}

}  // namespace

bool isLibraryComplaint(std::string_view line) {
    for (std::string_view start : kComplaintStarts) {
        if (line.substr(0, start.size()) == start) return true;
    }
    return false;
}

LibraryComplaintFilter::LibraryComplaintFilter() {
    if (std::getenv("BM7_AUDIO_DEBUG") != nullptr) return;
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return;
    std::fflush(stderr);
    realErrors_ = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    if (realErrors_ < 0 || dup2(ends[1], STDERR_FILENO) < 0) {
        if (realErrors_ >= 0) close(realErrors_);
        realErrors_ = -1;
        close(ends[0]);
        close(ends[1]);
        return;
    }
    pipeWrite_ = ends[1];
    forwarder_ = std::thread(forwardLines, ends[0], realErrors_);
}

LibraryComplaintFilter::~LibraryComplaintFilter() {
    if (realErrors_ < 0) return;
    std::fflush(stderr);
    dup2(realErrors_, STDERR_FILENO);
    close(pipeWrite_);
    forwarder_.join();
    close(realErrors_);
}

}  // namespace bm7
