#include "driver/stop_signals.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace bm7 {

namespace {

constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Process-wide by nature: a signal handler has no other place to leave its news.
std::atomic<int> firstStopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the handler needs a lock-free flag");
int wakeRead = -1;
int wakeWrite = -1;
// The error stream as it was at installation: a filter may own descriptor 2 later, and
// its thread will not pass a line on once the handler has ended the process.
int messageDescriptor = STDERR_FILENO;
// Set by a watcher being destroyed, so that its thread tells its own wake-up from a signal.
std::atomic<bool> watcherLeaving{false};

void onStopSignal(int signal) {
    const int savedErrno = errno;
    int expected = 0;
    if (!firstStopSignal.compare_exchange_strong(expected, signal)) {
        static const char kAtOnce[] = "brakmoor7: second stop signal, ending at once\n";
        [[maybe_unused]] const ssize_t written =
            write(messageDescriptor, kAtOnce, sizeof kAtOnce - 1);
        _exit(1);
    }
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(wakeWrite, &byte, 1);
    errno = savedErrno;
}

}  // namespace

bool installStopSignals() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    wakeRead = ends[0];
    wakeWrite = ends[1];
    const int errors = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    if (errors >= 0) messageDescriptor = errors;
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // Restarted calls keep the sound library's threads and file writes unaware of us.
    action.sa_flags = SA_RESTART;
    for (int signal : kStopSignals) {
        if (sigaction(signal, &action, nullptr) != 0) return false;
    }
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    return sigaction(SIGPIPE, &ignore, nullptr) == 0;
}

int receivedStopSignal() {
    return firstStopSignal.load();
}

const char* stopSignalName(int signal) {
    switch (signal) {
    case SIGTERM:
        return "SIGTERM";
    case SIGINT:
        return "SIGINT";
    case SIGHUP:
        return "SIGHUP";
    default: {
        static thread_local char name[24];
        std::snprintf(name, sizeof name, "signal %d", signal);
        return name;
    }
    }
}

StopSignalWatcher::StopSignalWatcher(std::function<void()> onStop) : onStop_(std::move(onStop)) {
    if (wakeRead < 0) return;
    watcherLeaving = false;
    thread_ = std::thread([this] {
        pollfd wake{wakeRead, POLLIN, 0};
        while (receivedStopSignal() == 0 && !watcherLeaving) {
            if (poll(&wake, 1, -1) < 0 && errno != EINTR) return;
            char drained[16];
            while (read(wakeRead, drained, sizeof drained) > 0) {
            }
        }
        if (!watcherLeaving) onStop_();
    });
}

StopSignalWatcher::~StopSignalWatcher() {
    if (!thread_.joinable()) return;
    watcherLeaving = true;
    const char byte = 0;
    [[maybe_unused]] const ssize_t written = write(wakeWrite, &byte, 1);
    thread_.join();
}

}  // namespace bm7
