// What loops over a frame share.
//
// BM7_FRAME_LOOP marks a function whose loops over a frame the compiler should vectorise:
// it builds AVX-512 and AVX2 copies, one of which is chosen at start-up where the
// processor has it, beside the plain one. Multiplies and adds are never fused in this
// build, so every copy computes the same bits.
//
// The state blocks' per-sample loops read an input port through each element's pointer
// or from the one contiguous run the port was found to be (InputPort::run), find where a
// stretch of quiet samples ends, and write a stretch. A loop written against either
// reader is chosen once per frame, so the common single-run case reads plain memory that
// the compiler can keep in registers.
#pragma once

#include <algorithm>
#include <array>
#include <cstring>

#include "driver/block.h"

#define BM7_FRAME_LOOP __attribute__((target_clones("avx512f", "avx2", "default")))

namespace bm7 {

struct ByPointer {
    const double* const* elements;
    double operator[](int element) const { return *elements[element]; }
    const double* run() const { return nullptr; }
};

struct ByRun {
    const double* values;
    double operator[](int element) const { return values[element]; }
    const double* run() const { return values; }
};

// Logical inputs: any value but zero counts as on, except NaN. Both comparisons are
// made, so that loops testing many values need no branch per value.
inline bool isOn(double value) {
    return (value < 0.0) | (value > 0.0);
}

inline constexpr int kQuietGroup = 8;

// Whether any of the eight values from `at` is on, by two-lane vector comparisons that
// every x86-64 processor has.
inline bool anyOfGroupOn(const double* at) {
    using Pair = double __attribute__((vector_size(16)));
    using PairMask = long long __attribute__((vector_size(16)));
    PairMask any{};
    for (int k = 0; k < kQuietGroup; k += 2) {
        Pair pair;
        std::memcpy(&pair, at + k, sizeof pair);
        any |= (pair < 0.0) | (pair > 0.0);
    }
    return (any[0] | any[1]) != 0;
}

// The first sample in [sample, end) of one channel, sample s at element first + s *
// stride, whose element makes `happens` true; `end` if none: how a state loop finds the
// end of a stretch in which nothing can change its state. `watched` lists inputs of
// which one is on wherever `happens` is true; where all are runs and the channel is
// contiguous, groups of eight samples with none of them on are passed over by a few
// vector instructions instead of a test and a branch each.
template <typename Happens, std::size_t watchedCount = 0>
int firstSampleWhere(int sample, int end, int first, int stride, Happens happens,
                     const std::array<const double*, watchedCount>& watched = {}) {
    bool groups = stride == 1 && watchedCount > 0;
    for (const double* run : watched) groups = groups && run != nullptr;
    const auto quietGroup = [&](int from) {
        for (const double* run : watched) {
            if (anyOfGroupOn(run + first + from)) return false;
        }
        return true;
    };
    while (sample < end) {
        if (groups && sample + kQuietGroup <= end && quietGroup(sample)) {
            sample += kQuietGroup;
            continue;
        }
        const int stop = groups ? std::min(end, sample + kQuietGroup) : end;
        for (; sample < stop; ++sample) {
            if (happens(first + sample * stride)) return sample;
        }
    }
    return end;
}

// Writes `value` to samples [from, to) of a channel.
inline void fillSamples(double* out, int first, int stride, int from, int to, double value) {
    if (stride == 1) {
        std::fill(out + first + from, out + first + to, value);
        return;
    }
    for (int sample = from; sample < to; ++sample) out[first + sample * stride] = value;
}

}  // namespace bm7
