// Calls into a sound library that may never return (its server frozen), made on a helper
// thread and waited for only so long, so that the program can always go on or end.
//
// Contract: one owner thread calls run and busy. A call that outlives its bound keeps
// running on its thread, which is left behind on purpose: it cannot be cancelled safely,
// and the only alternative is to hang with it. While it runs, busy() is true and run
// refuses new work, so that the library is never entered twice at once.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace bm7 {

class BoundedCall {
public:
    // True when `work` ran to its end within `bound`; false when it was still running
    // then, or was not started because an earlier call is still running.
    bool run(std::function<void()> work, std::chrono::steady_clock::duration bound);
    bool busy() const;

private:
    struct Progress {
        std::mutex lock;
        std::condition_variable finished;
        bool done = false;
    };
    // Shared with the helper thread, which may outlive this object.
    std::shared_ptr<Progress> last_;
};

}  // namespace bm7
