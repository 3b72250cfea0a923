// Stop requests that arrive as signals: SIGTERM (a service manager), SIGINT (Ctrl-C) and
// SIGHUP (a closed terminal) ask the run to end cleanly at the end of its step; a second
// one while the first is being honoured ends the process at once with status 1. SIGPIPE
// is ignored, so a closed standard output costs only the announcements written to it.
//
// Contract:
// - installStopSignals is called once, on the main thread, before any other thread
//   exists. The handlers only record the signal and write one byte to a pipe, both
//   async-signal-safe.
// - receivedStopSignal may be called from any thread at any time and never blocks.
// - A StopSignalWatcher runs `onStop` once, on a thread of its own, when the first stop
//   signal arrives, so that a wait elsewhere (which a handler may not touch) can be
//   woken. The callback may lock; it must not wait for the model thread.
#pragma once

#include <functional>
#include <thread>

namespace bm7 {

// False, with errno set, when the handlers could not be installed.
bool installStopSignals();

// The first stop signal received, or 0.
int receivedStopSignal();

// "SIGTERM", "SIGINT", "SIGHUP", or "signal N" for any other.
const char* stopSignalName(int signal);

class StopSignalWatcher {
public:
    explicit StopSignalWatcher(std::function<void()> onStop);
    // Returns once the watcher's thread has ended; onStop is not called afterwards.
    ~StopSignalWatcher();
    StopSignalWatcher(const StopSignalWatcher&) = delete;
    StopSignalWatcher& operator=(const StopSignalWatcher&) = delete;

private:
    std::function<void()> onStop_;
    std::thread thread_;
};

}  // namespace bm7
