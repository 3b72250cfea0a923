#include "blocks/fft_kernel.h"

#include <array>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "driver/frame_loop.h"

namespace bm7 {
namespace {

constexpr int kLargestOrder = 30;

// Bit reversal by tiles of 8 x 8 points, for sizes of at least 64: a position's top
// three bits name a tile row, its bottom three bits a column and the bits between the
// tile. The reversed position lies in the tile of the reversed middle bits, at the
// transposed place with both three-bit halves reversed, so exchanging whole tiles reads
// and writes every cache line once and needs no list of single pairs.
constexpr int kTileBits = 3;
constexpr int kTileSide = 1 << kTileBits;
constexpr int kTileArea = kTileSide * kTileSide;
constexpr int kSmallestTiledSize = kTileArea;
constexpr int kReversedThreeBits[kTileSide] = {0, 4, 2, 6, 1, 5, 3, 7};

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
        if (pointCount >= kSmallestTiledSize) {
            listTiles(order);
        } else {
            listSwaps(pointCount);
        }
    }

    void listTiles(int order) {
        const int middleBits = order - 2 * kTileBits;
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

// Blocks of up to this many points (16 KB of real and imaginary parts) stay in the
// first-level cache while all their remaining stages run.
constexpr int kCacheResidentSpan = 1024;

// The stage count is the binary exponent of the size: n = f * 2^e with 0.5 <= f < 1.
int stageCount(int pointCount) {
    int exponent = 0;
    std::frexp(static_cast<double>(pointCount), &exponent);
    return exponent - 1;
}

// Where the twiddles of one stage sit in a table: spans n, n/2, ... follow each other,
// so the stage of span L starts after n - L entries.
struct Stages {
    const double* cosines;
    const double* sines;
    int pointCount;
    const double* cosinesOf(int span) const { return cosines + (pointCount - span); }
    const double* sinesOf(int span) const { return sines + (pointCount - span); }
};

// The butterflies of one block of a stage; top and bottom halves never overlap.
BM7_FRAME_LOOP void butterflyBlock(double* __restrict topRe, double* __restrict topIm,
                                   double* __restrict bottomRe, double* __restrict bottomIm,
                                   const double* __restrict cosines, const double* __restrict sines,
                                   int half) {
    for (int g = 0; g < half; ++g) {
        const double dr = topRe[g] - bottomRe[g];
        const double di = topIm[g] - bottomIm[g];
        topRe[g] = topRe[g] + bottomRe[g];
        topIm[g] = topIm[g] + bottomIm[g];
        bottomRe[g] = dr * cosines[g] + di * sines[g];
        bottomIm[g] = di * cosines[g] - dr * sines[g];
    }
}

// One butterfly on values held in registers: (top, bottom) becomes (top + bottom,
// (top - bottom) * e^(-ia)) with c = cos a and s = sin a.
inline void butterflyValues(double& topRe, double& topIm, double& bottomRe, double& bottomIm,
                            double c, double s) {
    const double dr = topRe - bottomRe;
    const double di = topIm - bottomIm;
    topRe = topRe + bottomRe;
    topIm = topIm + bottomIm;
    bottomRe = dr * c + di * s;
    bottomIm = di * c - dr * s;
}

// Two stages at once on one block of span L, quarter q = L/4: the butterflies of span L
// on the pairs (g, g + 2q) and (g + q, g + 3q), then those of span L/2 on (g, g + q)
// and (g + 2q, g + 3q). Every value goes through the same operations as stage by stage,
// but is loaded and stored once instead of twice.
BM7_FRAME_LOOP void twoStageBlock(double* __restrict re0, double* __restrict re1,
                                  double* __restrict re2, double* __restrict re3,
                                  double* __restrict im0, double* __restrict im1,
                                  double* __restrict im2, double* __restrict im3,
                                  const double* __restrict cosines, const double* __restrict sines,
                                  const double* __restrict halfCosines,
                                  const double* __restrict halfSines, int quarter) {
    for (int g = 0; g < quarter; ++g) {
        double r0 = re0[g], r1 = re1[g], r2 = re2[g], r3 = re3[g];
        double i0 = im0[g], i1 = im1[g], i2 = im2[g], i3 = im3[g];
        butterflyValues(r0, i0, r2, i2, cosines[g], sines[g]);
        butterflyValues(r1, i1, r3, i3, cosines[quarter + g], sines[quarter + g]);
        butterflyValues(r0, i0, r1, i1, halfCosines[g], halfSines[g]);
        butterflyValues(r2, i2, r3, i3, halfCosines[g], halfSines[g]);
        re0[g] = r0, re1[g] = r1, re2[g] = r2, re3[g] = r3;
        im0[g] = i0, im1[g] = i1, im2[g] = i2, im3[g] = i3;
    }
}

// The stages of spans `span` and span/2 over the one block at re and im.
void twoStages(double* re, double* im, int span, const Stages& stages) {
    const int quarter = span / 4;
    twoStageBlock(re, re + quarter, re + 2 * quarter, re + 3 * quarter, im, im + quarter,
                  im + 2 * quarter, im + 3 * quarter, stages.cosinesOf(span), stages.sinesOf(span),
                  stages.cosinesOf(span / 2), stages.sinesOf(span / 2), quarter);
}

// One butterfly on the pair (p, q) with the twiddle (c, s).
inline void butterfly(double* re, double* im, int p, int q, double c, double s) {
    const double dr = re[p] - re[q];
    const double di = im[p] - im[q];
    re[p] = re[p] + re[q];
    im[p] = im[p] + im[q];
    re[q] = dr * c + di * s;
    im[q] = di * c - dr * s;
}

// The two last stages (spans 4 and 2) together, four points at a time, so the array is
// walked once for both instead of once per stage with blocks of one or two butterflies.
BM7_FRAME_LOOP void lastTwoStages(double* __restrict re, double* __restrict im, int pointCount,
                                  const double* __restrict cosines4,
                                  const double* __restrict sines4,
                                  const double* __restrict cosines2,
                                  const double* __restrict sines2) {
    const double c0 = cosines4[0], s0 = sines4[0], c1 = cosines4[1], s1 = sines4[1];
    const double c = cosines2[0], s = sines2[0];
    for (int p = 0; p < pointCount; p += 4) {
        double r0 = re[p], r1 = re[p + 1], r2 = re[p + 2], r3 = re[p + 3];
        double i0 = im[p], i1 = im[p + 1], i2 = im[p + 2], i3 = im[p + 3];
        butterflyValues(r0, i0, r2, i2, c0, s0);
        butterflyValues(r1, i1, r3, i3, c1, s1);
        butterflyValues(r0, i0, r1, i1, c, s);
        butterflyValues(r2, i2, r3, i3, c, s);
        re[p] = r0, re[p + 1] = r1, re[p + 2] = r2, re[p + 3] = r3;
        im[p] = i0, im[p + 1] = i1, im[p + 2] = i2, im[p + 3] = i3;
    }
}

// All stages from `span` down, over `count` points that form whole blocks of that span:
// two at a time while both lie above the last two, which go together four points at a
// time.
void stagesBreadthFirst(double* re, double* im, int count, int span, const Stages& stages) {
    while (span > 4) {
        if (span >= 16) {
            for (int top = 0; top < count; top += span) twoStages(re + top, im + top, span, stages);
            span /= 4;
            continue;
        }
        const int half = span / 2;
        for (int top = 0; top < count; top += span)
            butterflyBlock(re + top, im + top, re + top + half, im + top + half,
                           stages.cosinesOf(span), stages.sinesOf(span), half);
        span /= 2;
    }
    if (span == 4) {
        lastTwoStages(re, im, count, stages.cosinesOf(4), stages.sinesOf(4), stages.cosinesOf(2),
                      stages.sinesOf(2));
    } else {
        butterfly(re, im, 0, 1, stages.cosinesOf(2)[0], stages.sinesOf(2)[0]);
    }
}

// Each butterfly of a decimation-in-frequency stage reads only what the previous stage
// wrote into its own block, so after two stages the four quarters are independent
// transforms; finishing one quarter before the next keeps it in cache once it fits.
void stagesDepthFirst(double* re, double* im, int span, const Stages& stages) {
    if (span <= kCacheResidentSpan) {
        stagesBreadthFirst(re, im, span, span, stages);
        return;
    }
    twoStages(re, im, span, stages);
    const int quarter = span / 4;
    for (int top = 0; top < span; top += quarter)
        stagesDepthFirst(re + top, im + top, quarter, stages);
}

void swapPositions(double* values, const std::vector<int>& swapPairs) {
    const int* pair = swapPairs.data();
    const int* end = pair + swapPairs.size();
    for (; pair != end; pair += 2) std::swap(values[pair[0]], values[pair[1]]);
}

// Four doubles as one value; each instruction set's copy of a frame loop maps its
// shuffles onto its own registers.
using Lanes = double __attribute__((vector_size(32)));
using LaneOrder = long long __attribute__((vector_size(32)));

// Vectors go by reference: passed by value, their layout would depend on the instruction set.
[[gnu::always_inline]] inline void loadLanes(const double* from, Lanes& lanes) {
    std::memcpy(&lanes, from, sizeof lanes);
}

[[gnu::always_inline]] inline void storeLanes(double* to, const Lanes& lanes) {
    std::memcpy(to, &lanes, sizeof lanes);
}

// Rows r0 ... r3 of a 4 x 4 block become its columns.
[[gnu::always_inline]] inline void transposeBlock(Lanes& r0, Lanes& r1, Lanes& r2, Lanes& r3) {
    const Lanes evens01 = __builtin_shuffle(r0, r1, LaneOrder{0, 4, 2, 6});
    const Lanes odds01 = __builtin_shuffle(r0, r1, LaneOrder{1, 5, 3, 7});
    const Lanes evens23 = __builtin_shuffle(r2, r3, LaneOrder{0, 4, 2, 6});
    const Lanes odds23 = __builtin_shuffle(r2, r3, LaneOrder{1, 5, 3, 7});
    r0 = __builtin_shuffle(evens01, evens23, LaneOrder{0, 1, 4, 5});
    r1 = __builtin_shuffle(odds01, odds23, LaneOrder{0, 1, 4, 5});
    r2 = __builtin_shuffle(evens01, evens23, LaneOrder{2, 3, 6, 7});
    r3 = __builtin_shuffle(odds01, odds23, LaneOrder{2, 3, 6, 7});
}

// Reads the 4 x 4 block of a tile that holds rows reversed(4 * half + k), k = 0 ... 3,
// columns from 4 * column on, and transposes it: row k of the result belongs in tile row
// reversed(4 * column + k), columns from 4 * half on. Since reversing three bits is its
// own inverse, that is every point of the block at its bit-reversed place in the tile.
[[gnu::always_inline]] inline void readBlock(const double* tile, int rowStride, int half,
                                             int column, Lanes& r0, Lanes& r1, Lanes& r2,
                                             Lanes& r3) {
    const double* from = tile + 4 * column;
    const int* rows = kReversedThreeBits + 4 * half;
    loadLanes(from + rows[0] * rowStride, r0);
    loadLanes(from + rows[1] * rowStride, r1);
    loadLanes(from + rows[2] * rowStride, r2);
    loadLanes(from + rows[3] * rowStride, r3);
    transposeBlock(r0, r1, r2, r3);
}

[[gnu::always_inline]] inline void writeBlock(double* tile, int rowStride, int half, int column,
                                              const Lanes& r0, const Lanes& r1, const Lanes& r2,
                                              const Lanes& r3) {
    double* to = tile + 4 * half;
    const int* rows = kReversedThreeBits + 4 * column;
    storeLanes(to + rows[0] * rowStride, r0);
    storeLanes(to + rows[1] * rowStride, r1);
    storeLanes(to + rows[2] * rowStride, r2);
    storeLanes(to + rows[3] * rowStride, r3);
}

// Block (half, column) of one tile goes to block (column, half) of the other, and back:
// the two regions hold exactly each other's points, so both are read before either is
// written and no other block is touched.
[[gnu::always_inline]] inline void exchangeBlocks(double* tile, double* partner, int rowStride,
                                                  int half, int column) {
    Lanes a0, a1, a2, a3, b0, b1, b2, b3;
    readBlock(tile, rowStride, half, column, a0, a1, a2, a3);
    readBlock(partner, rowStride, column, half, b0, b1, b2, b3);
    writeBlock(partner, rowStride, half, column, a0, a1, a2, a3);
    writeBlock(tile, rowStride, column, half, b0, b1, b2, b3);
}

// A tile and its partner change places; a tile that is its own partner is reversed in
// place, its two off-diagonal blocks exchanged with each other.
BM7_FRAME_LOOP void reverseTiles(double* values, const std::vector<int>& tilePairs,
                                 int pointCount) {
    const int rowStride = pointCount / kTileSide;
    const int* pair = tilePairs.data();
    const int* end = pair + tilePairs.size();
    for (; pair != end; pair += 2) {
        double* tile = values + pair[0] * kTileSide;
        double* partner = values + pair[1] * kTileSide;
        exchangeBlocks(tile, partner, rowStride, 0, 0);
        exchangeBlocks(tile, partner, rowStride, 1, 1);
        exchangeBlocks(tile, partner, rowStride, 0, 1);
        if (tile != partner) exchangeBlocks(tile, partner, rowStride, 1, 0);
    }
}

void reverseOrder(double* values, const TwiddleTable& table, int pointCount) {
    if (pointCount >= kSmallestTiledSize) {
        reverseTiles(values, table.tilePairs, pointCount);
    } else {
        swapPositions(values, table.swapPairs);
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

void complexFft(double* re, double* im, int pointCount) {
    // Any other size would index past the arrays or the table.
    if (!isFftSize(pointCount)) return;
    const int stages = stageCount(pointCount);
    if (stages == 0) return;
    const TwiddleTable& table = kTableGetters[static_cast<std::size_t>(stages)]();
    // Butterflies are visited block by block over contiguous memory rather than group
    // by group; each touches only its own pair, so the order changes no result.
    stagesDepthFirst(re, im, pointCount,
                     Stages{table.cosines.data(), table.sines.data(), pointCount});
    reverseOrder(re, table, pointCount);
    reverseOrder(im, table, pointCount);
}

}  // namespace bm7
