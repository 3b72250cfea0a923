#include "blocks/fft_kernel.h"

#include <array>
#include <cmath>
#include <utility>
#include <vector>

namespace bm7 {
namespace {

constexpr int kLargestOrder = 30;

// The twiddles of every stage of one transform size, stage after stage: the stage of span
// L holds cos and sin of g * (2*pi / L) for its L/2 groups, computed with exactly the
// expression the per-group evaluation uses, so a table lookup changes no bit.
struct TwiddleTable {
    std::vector<double> cosines;
    std::vector<double> sines;

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

// The stage count is the binary exponent of the size: n = f * 2^e with 0.5 <= f < 1.
int stageCount(int pointCount) {
    int exponent = 0;
    std::frexp(static_cast<double>(pointCount), &exponent);
    return exponent - 1;
}

// The butterflies of one block of a stage; top and bottom halves never overlap.
void butterflyBlock(double* __restrict topRe, double* __restrict topIm, double* __restrict bottomRe,
                    double* __restrict bottomIm, const double* __restrict cosines,
                    const double* __restrict sines, int half) {
    for (int g = 0; g < half; ++g) {
        const double dr = topRe[g] - bottomRe[g];
        const double di = topIm[g] - bottomIm[g];
        topRe[g] = topRe[g] + bottomRe[g];
        topIm[g] = topIm[g] + bottomIm[g];
        bottomRe[g] = dr * cosines[g] + di * sines[g];
        bottomIm[g] = di * cosines[g] - dr * sines[g];
    }
}

// The last stage (span 2) has a single twiddle; looping over all pairs at once keeps the
// loop long instead of calling one butterfly per block.
void lastStage(double* re, double* im, int pointCount, double c, double s) {
    for (int p = 0; p < pointCount; p += 2) {
        const double dr = re[p] - re[p + 1];
        const double di = im[p] - im[p + 1];
        re[p] = re[p] + re[p + 1];
        im[p] = im[p] + im[p + 1];
        re[p + 1] = dr * c + di * s;
        im[p + 1] = di * c - dr * s;
    }
}

// Gold-Rader bit reversal, positions counted from 1.
void bitReverse(double* re, double* im, int pointCount) {
    int j = 1;
    for (int i = 1; i < pointCount; ++i) {
        if (i < j) {
            std::swap(re[i - 1], re[j - 1]);
            std::swap(im[i - 1], im[j - 1]);
        }
        int k = pointCount / 2;
        while (k < j) {
            j -= k;
            k /= 2;
        }
        j += k;
    }
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

void complexFft(double* re, double* im, int pointCount) {
    // Any other size would index past the arrays or the table.
    if (!isFftSize(pointCount)) return;
    const int stages = stageCount(pointCount);
    if (stages == 0) return;
    const TwiddleTable& table = kTableGetters[static_cast<std::size_t>(stages)]();
    const double* cosines = table.cosines.data();
    const double* sines = table.sines.data();
    // Butterflies are visited block by block over contiguous memory rather than group
    // by group; each touches only its own pair, so the order changes no result.
    for (int span = pointCount; span > 2; span /= 2) {
        const int half = span / 2;
        for (int top = 0; top < pointCount; top += span)
            butterflyBlock(re + top, im + top, re + top + half, im + top + half, cosines, sines,
                           half);
        cosines += half;
        sines += half;
    }
    lastStage(re, im, pointCount, cosines[0], sines[0]);
    bitReverse(re, im, pointCount);
}

}  // namespace bm7
