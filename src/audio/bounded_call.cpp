#include "audio/bounded_call.h"

#include <thread>

namespace bm7 {

bool BoundedCall::run(std::function<void()> work, std::chrono::steady_clock::duration bound) {
    if (busy()) return false;
    auto progress = std::make_shared<Progress>();
    last_ = progress;
    std::thread([progress, work = std::move(work)] {
        work();
        {
            std::lock_guard<std::mutex> hold(progress->lock);
            progress->done = true;
        }
        progress->finished.notify_all();
    }).detach();
    std::unique_lock<std::mutex> hold(progress->lock);
    return progress->finished.wait_for(hold, bound, [&] { return progress->done; });
}

bool BoundedCall::busy() const {
    if (!last_) return false;
    std::lock_guard<std::mutex> hold(last_->lock);
    return !last_->done;
}

}  // namespace bm7
