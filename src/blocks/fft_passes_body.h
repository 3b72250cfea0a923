// The body of one build of the kernel's passes: fft_passes_<set>.cpp defines
// BM7_PASSES_NAME and includes this file, and the build compiles each such file for its
// instruction set. Everything here has internal linkage and uses no library code, so no
// function built for a wider set can stand in for another file's.
#include "blocks/fft_passes.h"

#ifndef BM7_PASSES_NAME
#error "define BM7_PASSES_NAME before including fft_passes_body.h"
#endif

namespace bm7::fft {
namespace {

// Blocks of up to this many points (16 KB of real and imaginary parts) stay in the
// first-level cache while all their remaining stages run.
constexpr int kCacheResidentSpan = 1024;

// One butterfly on values held in registers: (top, bottom) becomes (top + bottom,
// (top - bottom) * e^(-ia)) with c = cos a and s = sin a.
template <typename Value>
[[gnu::always_inline]] inline void butterflyValues(Value& topRe, Value& topIm, Value& bottomRe,
                                                   Value& bottomIm, const Value& c,
                                                   const Value& s) {
    const Value dr = topRe - bottomRe;
    const Value di = topIm - bottomIm;
    topRe = topRe + bottomRe;
    topIm = topIm + bottomIm;
    bottomRe = dr * c + di * s;
    bottomIm = di * c - dr * s;
}

// Two stages at once on one block of span L, quarter q = L/4: the butterflies of span L
// on the pairs (g, g + 2q) and (g + q, g + 3q), then those of span L/2 on (g, g + q)
// and (g + 2q, g + 3q). Every value goes through the same operations as stage by stage,
// but is loaded and stored once instead of twice.
void twoStageBlock(double* __restrict re0, double* __restrict re1, double* __restrict re2,
                   double* __restrict re3, double* __restrict im0, double* __restrict im1,
                   double* __restrict im2, double* __restrict im3, const double* __restrict cosines,
                   const double* __restrict sines, const double* __restrict halfCosines,
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
void twoStages(double* re, double* im, int span, const StageTwiddles& stages) {
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
void lastTwoStages(double* __restrict re, double* __restrict im, int pointCount,
                   const double* __restrict cosines4, const double* __restrict sines4,
                   const double* __restrict cosines2, const double* __restrict sines2) {
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

// Four doubles as one value; each instruction set's build maps its shuffles onto its
// own registers.
using Lanes = double __attribute__((vector_size(32)));
using LaneOrder = long long __attribute__((vector_size(32)));

// Vectors go by reference: passed by value, their layout would depend on the instruction set.
[[gnu::always_inline]] inline void loadLanes(const double* from, Lanes& lanes) {
    __builtin_memcpy(&lanes, from, sizeof lanes);
}

[[gnu::always_inline]] inline void storeLanes(double* to, const Lanes& lanes) {
    __builtin_memcpy(to, &lanes, sizeof lanes);
}

// The stages of spans 16 and 8 over `count` points, whole blocks of 16: each quarter of a
// block is one vector of lanes, and the twiddles, the same for every block, stay in
// registers. The butterflies are twoStageBlock's with a quarter of 4, in its order.
void spansSixteenAndEight(double* re, double* im, int count, const StageTwiddles& stages) {
    Lanes c0, s0, c1, s1, c, s;
    loadLanes(stages.cosinesOf(16), c0);
    loadLanes(stages.sinesOf(16), s0);
    loadLanes(stages.cosinesOf(16) + 4, c1);
    loadLanes(stages.sinesOf(16) + 4, s1);
    loadLanes(stages.cosinesOf(8), c);
    loadLanes(stages.sinesOf(8), s);
    for (int top = 0; top < count; top += 16) {
        Lanes r0, r1, r2, r3, i0, i1, i2, i3;
        loadLanes(re + top, r0), loadLanes(re + top + 4, r1);
        loadLanes(re + top + 8, r2), loadLanes(re + top + 12, r3);
        loadLanes(im + top, i0), loadLanes(im + top + 4, i1);
        loadLanes(im + top + 8, i2), loadLanes(im + top + 12, i3);
        butterflyValues(r0, i0, r2, i2, c0, s0);
        butterflyValues(r1, i1, r3, i3, c1, s1);
        butterflyValues(r0, i0, r1, i1, c, s);
        butterflyValues(r2, i2, r3, i3, c, s);
        storeLanes(re + top, r0), storeLanes(re + top + 4, r1);
        storeLanes(re + top + 8, r2), storeLanes(re + top + 12, r3);
        storeLanes(im + top, i0), storeLanes(im + top + 4, i1);
        storeLanes(im + top + 8, i2), storeLanes(im + top + 12, i3);
    }
}

// The stage of span 8 over `count` points, whole blocks of 8: butterfly g of a block
// pairs points g and g + 4 with the stage's twiddle g, and each half is one vector.
void spanEight(double* re, double* im, int count, const StageTwiddles& stages) {
    Lanes c, s;
    loadLanes(stages.cosinesOf(8), c);
    loadLanes(stages.sinesOf(8), s);
    for (int top = 0; top < count; top += 8) {
        Lanes r0, r1, i0, i1;
        loadLanes(re + top, r0), loadLanes(re + top + 4, r1);
        loadLanes(im + top, i0), loadLanes(im + top + 4, i1);
        butterflyValues(r0, i0, r1, i1, c, s);
        storeLanes(re + top, r0), storeLanes(re + top + 4, r1);
        storeLanes(im + top, i0), storeLanes(im + top + 4, i1);
    }
}

// All stages from `span` down, over `count` points that form whole blocks of that span:
// two at a time while both lie above the last two, which go together four points at a
// time, or are left to the bit reversal (lastTwoLater).
void stagesBreadthFirst(double* re, double* im, int count, int span, const StageTwiddles& stages,
                        bool lastTwoLater) {
    while (span > 16) {
        for (int top = 0; top < count; top += span) twoStages(re + top, im + top, span, stages);
        span /= 4;
    }
    if (span == 16) {
        spansSixteenAndEight(re, im, count, stages);
        span = 4;
    } else if (span == 8) {
        spanEight(re, im, count, stages);
        span = 4;
    }
    if (span == 4) {
        if (lastTwoLater) return;
        lastTwoStages(re, im, count, stages.cosinesOf(4), stages.sinesOf(4), stages.cosinesOf(2),
                      stages.sinesOf(2));
    } else {
        butterfly(re, im, 0, 1, stages.cosinesOf(2)[0], stages.sinesOf(2)[0]);
    }
}

// Each butterfly of a decimation-in-frequency stage reads only what the previous stage
// wrote into its own block, so after two stages the four quarters are independent
// transforms; finishing one quarter before the next keeps it in cache once it fits.
void stagesDepthFirst(double* re, double* im, int span, const StageTwiddles& stages,
                      bool lastTwoLater) {
    if (span <= kCacheResidentSpan) {
        stagesBreadthFirst(re, im, span, span, stages, lastTwoLater);
        return;
    }
    twoStages(re, im, span, stages);
    const int quarter = span / 4;
    for (int top = 0; top < span; top += quarter)
        stagesDepthFirst(re + top, im + top, quarter, stages, lastTwoLater);
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

// The twiddles of the last two stages, spans 4 and 2, in every lane.
struct LastTwiddles {
    Lanes c0, s0, c1, s1, c, s;
};

// The last two stages on four rows' half rows held transposed: lane vector k holds the
// points at column 4 * column + k of four rows, so the butterflies of each row's group of
// four (k, k + 2 and then k, k + 1) pair whole vectors, with lastTwoStages' operations.
[[gnu::always_inline]] inline void lastTwoOnColumns(Lanes& r0, Lanes& r1, Lanes& r2, Lanes& r3,
                                                    Lanes& i0, Lanes& i1, Lanes& i2, Lanes& i3,
                                                    const LastTwiddles& t) {
    butterflyValues(r0, i0, r2, i2, t.c0, t.s0);
    butterflyValues(r1, i1, r3, i3, t.c1, t.s1);
    butterflyValues(r0, i0, r1, i1, t.c, t.s);
    butterflyValues(r2, i2, r3, i3, t.c, t.s);
}

// One block of a tile, real and imaginary parts, read, finished and transposed.
struct FinishedBlock {
    Lanes re0, re1, re2, re3, im0, im1, im2, im3;
};

[[gnu::always_inline]] inline void readFinished(const double* re, const double* im, int rowStride,
                                                int half, int column, const LastTwiddles& t,
                                                FinishedBlock& b) {
    readBlock(re, rowStride, half, column, b.re0, b.re1, b.re2, b.re3);
    readBlock(im, rowStride, half, column, b.im0, b.im1, b.im2, b.im3);
    lastTwoOnColumns(b.re0, b.re1, b.re2, b.re3, b.im0, b.im1, b.im2, b.im3, t);
}

[[gnu::always_inline]] inline void writeFinished(double* re, double* im, int rowStride, int half,
                                                 int column, const FinishedBlock& b) {
    writeBlock(re, rowStride, half, column, b.re0, b.re1, b.re2, b.re3);
    writeBlock(im, rowStride, half, column, b.im0, b.im1, b.im2, b.im3);
}

// Block (half, column) of one tile goes to block (column, half) of the other, and back:
// the two regions hold exactly each other's points, so both are read before either is
// written and no other block is touched.
[[gnu::always_inline]] inline void exchangeBlocks(double* tileRe, double* tileIm, double* partnerRe,
                                                  double* partnerIm, int rowStride, int half,
                                                  int column, const LastTwiddles& t) {
    FinishedBlock a, b;
    readFinished(tileRe, tileIm, rowStride, half, column, t, a);
    readFinished(partnerRe, partnerIm, rowStride, column, half, t, b);
    writeFinished(partnerRe, partnerIm, rowStride, half, column, a);
    writeFinished(tileRe, tileIm, rowStride, column, half, b);
}

// The last two stages and the bit reversal in one walk over both arrays: each row of a
// tile is two groups of four points of the last stages, and the transposition that
// reverses a tile puts a group's points in separate lane vectors. A tile and its partner
// change places; a tile that is its own partner is reversed in place, its two
// off-diagonal blocks exchanged with each other.
void finishAndReverse(double* re, double* im, int pointCount, const StageTwiddles& stages,
                      const int* tilePairs, int pairCount) {
    const int rowStride = pointCount / kTileSide;
    const double* c4 = stages.cosinesOf(4);
    const double* s4 = stages.sinesOf(4);
    const double c2 = stages.cosinesOf(2)[0];
    const double s2 = stages.sinesOf(2)[0];
    const LastTwiddles t{Lanes{} + c4[0], Lanes{} + s4[0], Lanes{} + c4[1],
                         Lanes{} + s4[1], Lanes{} + c2,    Lanes{} + s2};
    const int* pair = tilePairs;
    const int* end = pair + 2 * pairCount;
    for (; pair != end; pair += 2) {
        const int tile = pair[0] * kTileSide;
        const int partner = pair[1] * kTileSide;
        double* tileRe = re + tile;
        double* tileIm = im + tile;
        double* partnerRe = re + partner;
        double* partnerIm = im + partner;
        exchangeBlocks(tileRe, tileIm, partnerRe, partnerIm, rowStride, 0, 0, t);
        exchangeBlocks(tileRe, tileIm, partnerRe, partnerIm, rowStride, 1, 1, t);
        exchangeBlocks(tileRe, tileIm, partnerRe, partnerIm, rowStride, 0, 1, t);
        if (tile != partner)
            exchangeBlocks(tileRe, tileIm, partnerRe, partnerIm, rowStride, 1, 0, t);
    }
}

void allStages(double* re, double* im, int pointCount, const StageTwiddles& twiddles) {
    stagesDepthFirst(re, im, pointCount, twiddles, false);
}

void stagesInTiles(double* re, double* im, int pointCount, const StageTwiddles& twiddles,
                   const int* tilePairs, int pairCount) {
    stagesDepthFirst(re, im, pointCount, twiddles, true);
    finishAndReverse(re, im, pointCount, twiddles, tilePairs, pairCount);
}

}  // namespace

extern const Passes BM7_PASSES_NAME;
const Passes BM7_PASSES_NAME = {&allStages, &stagesInTiles};

}  // namespace bm7::fft
