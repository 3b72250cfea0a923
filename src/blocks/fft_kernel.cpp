#include "blocks/fft_kernel.h"

#include <array>
#include <cmath>
#include <utility>
#include <vector>

#include "blocks/fft_passes.h"

namespace bm7 {
namespace {

constexpr int kLargestOrder = 30;

int reverseBits(int value, int bits) {
    int reversed = 0;
    for (int b = 0; b < bits; ++b, value >>= 1) reversed = (reversed << 1) | (value & 1);
    return reversed;
}

// Everything one transform size needs, immutable once built: the twiddles of every
// stage, stage after stage (the stage of span L holds cos and sin of g * (2*pi / L) for
// its L/2 groups, computed with exactly the expression the per-group evaluation uses,
// so a table lookup changes no bit), and what the bit reversal exchanges.
struct TwiddleTable {
    std::vector<double> cosines;
    std::vector<double> sines;
    std::vector<int> swapPairs;  // below 64 points: position, partner, position, partner, ...
    std::vector<int> tilePairs;  // from 64 points: tile, partner tile, ... (each pair once)

    explicit TwiddleTable(int order) {
        const int pointCount = 1 << order;
        cosines.reserve(static_cast<std::size_t>(pointCount));
        sines.reserve(static_cast<std::size_t>(pointCount));
        for (int span = pointCount; span >= 2; span /= 2) {
            const double angleStep = 6.283185307179586 / span;
            for (int group = 0; group < span / 2; ++group) {
                const double angle = group * angleStep;
                cosines.push_back(std::cos(angle));
                sines.push_back(std::sin(angle));
            }
        }
        if (pointCount >= fft::kSmallestTiledSize) {
            listTiles(order);
        } else {
            listSwaps(pointCount);
        }
    }

    void listTiles(int order) {
        const int middleBits = order - 2 * fft::kTileBits;
        for (int tile = 0; tile < (1 << middleBits); ++tile) {
            const int partner = reverseBits(tile, middleBits);
            if (tile > partner) continue;
            tilePairs.push_back(tile);
            tilePairs.push_back(partner);
        }
    }

    // Gold-Rader bit reversal, positions counted from 1; each pair is exchanged once,
    // and no position belongs to two pairs, so the exchanges may run in any order.
    void listSwaps(int pointCount) {
        int j = 1;
        for (int i = 1; i <= pointCount; ++i) {
            if (i < j) {
                swapPairs.push_back(i - 1);
                swapPairs.push_back(j - 1);
            }
            int k = pointCount / 2;
            while (k < j && k > 0) {
                j -= k;
                k /= 2;
            }
            j += k;
        }
    }
};

// One function-local static per size: built once on first use (thread-safe by the
// language), read-only afterwards, so parallel model instances share it without locks.
template <int Order>
const TwiddleTable& tableOfOrder() {
    static const TwiddleTable table(Order);
    return table;
}

using TableGetter = const TwiddleTable& (*)();

template <int... Orders>
constexpr std::array<TableGetter, sizeof...(Orders)> makeGetters(
    std::integer_sequence<int, Orders...>) {
    return {&tableOfOrder<Orders>...};
}

constexpr auto kTableGetters = makeGetters(std::make_integer_sequence<int, kLargestOrder + 1>{});

// The rotations of the real transforms' split steps for one size and direction.
struct RotationSequence {
    std::vector<double> cosines;
    std::vector<double> sines;

    RotationSequence(int order, bool forward) {
        const int frameLength = 1 << order;
        const double theta = std::atan(1.0) * (forward ? -8.0 : 8.0) / frameLength;
        const double cosTheta = std::cos(theta);
        const double sinTheta = std::sin(theta);
        double c = 1.0;
        double s = 0.0;
        for (int k = 0; k < frameLength / 2; ++k) {
            cosines.push_back(c);
            sines.push_back(s);
            const double previousC = c;
            c = previousC * cosTheta - s * sinTheta;
            s = s * cosTheta + previousC * sinTheta;
        }
    }
};

template <int Order, bool Forward>
const RotationSequence& rotationsOfOrder() {
    static const RotationSequence sequence(Order, Forward);
    return sequence;
}

using RotationGetter = const RotationSequence& (*)();

template <bool Forward, int... Orders>
constexpr std::array<RotationGetter, sizeof...(Orders)> makeRotationGetters(
    std::integer_sequence<int, Orders...>) {
    return {&rotationsOfOrder<Orders, Forward>...};
}

constexpr auto kForwardRotations =
    makeRotationGetters<true>(std::make_integer_sequence<int, kLargestOrder + 1>{});
constexpr auto kInverseRotations =
    makeRotationGetters<false>(std::make_integer_sequence<int, kLargestOrder + 1>{});

// The stage count is the binary exponent of the size: n = f * 2^e with 0.5 <= f < 1.
int stageCount(int pointCount) {
    int exponent = 0;
    std::frexp(static_cast<double>(pointCount), &exponent);
    return exponent - 1;
}

void swapPositions(double* values, const std::vector<int>& swapPairs) {
    const int* pair = swapPairs.data();
    const int* end = pair + swapPairs.size();
    for (; pair != end; pair += 2) std::swap(values[pair[0]], values[pair[1]]);
}

const fft::Passes& passesFor(InstructionSet set) {
    switch (set) {
    case InstructionSet::kAvx512:
        return fft::kAvx512Passes;
    case InstructionSet::kAvx2:
        return fft::kAvx2Passes;
    case InstructionSet::kBaseline:
        break;
    }
    return fft::kBaselinePasses;
}

InstructionSet widestAvailable() {
    for (InstructionSet set : {InstructionSet::kAvx512, InstructionSet::kAvx2})
        if (processorHas(set)) return set;
    return InstructionSet::kBaseline;
}

void transform(double* re, double* im, int pointCount, const fft::Passes& passes) {
    // Any other size would index past the arrays or the table.
    if (!isFftSize(pointCount)) return;
    const int stages = stageCount(pointCount);
    if (stages == 0) return;
    const TwiddleTable& table = kTableGetters[static_cast<std::size_t>(stages)]();
    // Butterflies are visited block by block over contiguous memory rather than group
    // by group; each touches only its own pair, so the order changes no result.
    const fft::StageTwiddles twiddles{table.cosines.data(), table.sines.data(), pointCount};
    if (pointCount >= fft::kSmallestTiledSize) {
        passes.stagesInTiles(re, im, pointCount, twiddles, table.tilePairs.data(),
                             static_cast<int>(table.tilePairs.size() / 2));
        return;
    }
    passes.stages(re, im, pointCount, twiddles);
    swapPositions(re, table.swapPairs);
    swapPositions(im, table.swapPairs);
}

}  // namespace

bool isFftSize(long long pointCount) {
    return pointCount >= 1 && pointCount <= (1LL << kLargestOrder) &&
           (pointCount & (pointCount - 1)) == 0;
}

void prepareComplexFft(int pointCount) {
    if (!isFftSize(pointCount)) return;
    kTableGetters[static_cast<std::size_t>(stageCount(pointCount))]();
}

void prepareRotations(int frameLength, bool forward) {
    rotations(frameLength, forward);
}

RotationTable rotations(int frameLength, bool forward) {
    if (!isFftSize(frameLength) || frameLength < 2) return {nullptr, nullptr};
    const auto order = static_cast<std::size_t>(stageCount(frameLength));
    const RotationSequence& sequence =
        forward ? kForwardRotations[order]() : kInverseRotations[order]();
    return {sequence.cosines.data(), sequence.sines.data()};
}

bool processorHas(InstructionSet set) {
    switch (set) {
    case InstructionSet::kAvx512:
        return __builtin_cpu_supports("avx512f") != 0;
    case InstructionSet::kAvx2:
        return __builtin_cpu_supports("avx2") != 0;
    case InstructionSet::kBaseline:
        break;
    }
    return true;
}

void complexFft(double* re, double* im, int pointCount) {
    // Chosen once; every thread's transforms then use the same passes.
    static const fft::Passes& passes = passesFor(widestAvailable());
    transform(re, im, pointCount, passes);
}

void complexFftUsing(InstructionSet set, double* re, double* im, int pointCount) {
    if (processorHas(set)) transform(re, im, pointCount, passesFor(set));
}

}  // namespace bm7
