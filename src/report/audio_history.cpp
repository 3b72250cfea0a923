#include "report/audio_history.h"

#include <algorithm>

namespace bm7::report {

AudioHistory::AudioHistory(std::size_t capacity) : ring_(std::max<std::size_t>(capacity, 1)) {}

void AudioHistory::append(const double* samples, std::size_t count) {
    const std::size_t size = ring_.size();
    // Only the newest `size` samples can stay.
    const std::size_t skipped = count > size ? count - size : 0;
    std::size_t at = static_cast<std::size_t>((end_ + static_cast<std::int64_t>(skipped)) %
                                              static_cast<std::int64_t>(size));
    for (std::size_t i = skipped; i < count; ++i) {
        ring_[at] = samples[i];
        at = at + 1 == size ? 0 : at + 1;
    }
    end_ += static_cast<std::int64_t>(count);
}

void AudioHistory::restart() {
    end_ = 0;
}

std::int64_t AudioHistory::oldest() const {
    return std::max<std::int64_t>(0, end_ - static_cast<std::int64_t>(ring_.size()));
}

std::size_t AudioHistory::copy(std::int64_t first, std::int64_t last, double* out,
                               std::int64_t& copiedFrom) const {
    copiedFrom = std::max(first, oldest());
    const std::int64_t stop = std::min(last, end_);
    if (stop <= copiedFrom) return 0;
    const auto size = static_cast<std::int64_t>(ring_.size());
    for (std::int64_t position = copiedFrom; position < stop; ++position)
        out[position - copiedFrom] = ring_[static_cast<std::size_t>(position % size)];
    return static_cast<std::size_t>(stop - copiedFrom);
}

}  // namespace bm7::report
