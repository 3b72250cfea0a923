// The latest stretch of a recording's audio, kept in a ring of fixed size, so that a scan
// worker can hand the report a finished detection's audio with its margins: the model
// learns of a detection only after its audio has passed. Stream positions count samples
// from the start of the recording. Allocates only when built.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bm7::report {

class AudioHistory {
public:
    explicit AudioHistory(std::size_t capacity);

    // Appends the next `count` samples of the stream.
    void append(const double* samples, std::size_t count);
    // Forgets everything, for the next recording.
    void restart();

    std::int64_t end() const { return end_; }  // samples appended since the start
    // The oldest position still held.
    std::int64_t oldest() const;

    // Copies the samples at positions first ... last - 1 that are still held into `out`
    // (which must hold last - first) and returns how many, starting at the returned
    // position `copiedFrom`. Positions outside the history are left out.
    std::size_t copy(std::int64_t first, std::int64_t last, double* out,
                     std::int64_t& copiedFrom) const;

private:
    std::vector<double> ring_;
    std::int64_t end_ = 0;
};

}  // namespace bm7::report
