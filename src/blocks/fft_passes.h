// The transform kernel's passes, the butterfly stages and the bit reversal by tiles,
// built once for each instruction set the kernel chooses from (fft_passes_body.h, included
// by one file per set). Every build computes the same bits: no multiply is fused with its add.
#pragma once

namespace bm7::fft {

// Bit reversal by tiles of 8 x 8 points, for sizes of at least 64: a position's top
// three bits name a tile row, its bottom three bits a column and the bits between the
// tile. The reversed position lies in the tile of the reversed middle bits, at the
// transposed place with both three-bit halves reversed, so exchanging whole tiles reads
// and writes every cache line once and needs no list of single pairs.
inline constexpr int kTileBits = 3;
inline constexpr int kTileSide = 1 << kTileBits;
inline constexpr int kTileArea = kTileSide * kTileSide;
inline constexpr int kSmallestTiledSize = kTileArea;
inline constexpr int kReversedThreeBits[kTileSide] = {0, 4, 2, 6, 1, 5, 3, 7};

// Where the twiddles of one stage sit in a table: spans n, n/2, ... follow each other,
// so the stage of span L starts after n - L entries.
struct StageTwiddles {
    const double* cosines;
    const double* sines;
    int pointCount;
    const double* cosinesOf(int span) const { return cosines + (pointCount - span); }
    const double* sinesOf(int span) const { return sines + (pointCount - span); }
};

struct Passes {
    // Every stage of a pointCount-point transform (at least 2 points), in place, leaving
    // the result in bit-reversed order.
    void (*stages)(double* re, double* im, int pointCount, const StageTwiddles& twiddles);
    // The whole transform of pointCount points (at least kSmallestTiledSize), in natural
    // order: the stages, then the bit reversal exchanging the pairCount tile pairs listed
    // (tile, partner, tile, partner, ...), which does the last two stages on the way.
    void (*stagesInTiles)(double* re, double* im, int pointCount, const StageTwiddles& twiddles,
                          const int* tilePairs, int pairCount);
};

extern const Passes kBaselinePasses;
extern const Passes kAvx2Passes;
extern const Passes kAvx512Passes;

}  // namespace bm7::fft
