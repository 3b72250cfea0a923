#include "blocks/real_fft.h"

#include <cmath>

#include "blocks/fft_kernel.h"
#include "blocks/transform_block.h"
#include "driver/frame_loop.h"

namespace bm7 {
namespace {

const char* const kBadWidths =
    "Real FFT: the frame length must be a power of two and the output twice as wide";

bool widthsFit(BlockRecord& block) {
    const long long frameLength = block.inputCount;
    if (isFftSize(frameLength) && block.outputCount >= 2 * frameLength) return true;
    reportError(block, kBadWidths);
    return false;
}

// Builds the shared twiddle table here so that no step ever allocates, and notes whether
// the input can be read as one run.
void initializeConditions(double*, BlockRecord* block) {
    if (widthsFit(*block) && block->inputCount > 1) {
        prepareComplexFft(block->inputCount / 2);
        prepareRotations(block->inputCount, true);
    }
    block->inputRun = contiguousRun(block->inputPointers, block->inputCount);
}

// The upper half mirrors the lower one as its complex conjugate. Bins above half are
// written, bins below it read, so the two sides never meet.
BM7_FRAME_LOOP void mirrorUpperHalf(double* re, double* im, int half) {
    const double* __restrict lowRe = re + half;
    const double* __restrict lowIm = im + half;
    double* __restrict highRe = re + half;
    double* __restrict highIm = im + half;
    for (int j = 1; j < half; ++j) {
        highRe[j] = lowRe[-j];
        highIm[j] = -lowIm[-j];
    }
}

// The two bins k and H - k of the real transform from the half-size transform's bins
// a = Z[k] and b = Z[H - k], with the twiddle (wr, wi) of bin k.
struct SplitPair {
    double lowRe, lowIm, highRe, highIm;
};

[[gnu::always_inline]] inline SplitPair splitPair(double ar, double ai, double br, double bi,
                                                  double wr, double wi) {
    const double h1r = 0.5 * (br + ar);
    const double h1i = 0.5 * (ai - bi);
    const double h2r = 0.5 * (bi + ai);
    const double h2i = -0.5 * (ar - br);
    return {h1r + wr * h2r - wi * h2i, h1i + wr * h2i + wi * h2r, h1r - wr * h2r + wi * h2i,
            -h1i + wr * h2i + wi * h2r};
}

// Bin k pairs with bin H-k (highRe[-k], with highRe at bin H), for k from `first` below
// the quarter: each pair is read, then written, and no two pairs share a bin, so several
// pairs can go at once. The imaginary parts are read from fromLowIm and fromHighIm, which
// are lowIm and highIm themselves or a copy elsewhere that the pairs do not write over.
BM7_FRAME_LOOP void splitPairs(double* __restrict lowRe, double* __restrict lowIm,
                               double* __restrict highRe, double* __restrict highIm,
                               const double* __restrict fromLowIm,
                               const double* __restrict fromHighIm,
                               const double* __restrict cosines, const double* __restrict sines,
                               int first, int quarter) {
    for (int k = first; k < quarter; ++k) {
        const SplitPair p =
            splitPair(lowRe[k], fromLowIm[k], highRe[-k], fromHighIm[-k], cosines[k], sines[k]);
        lowRe[k] = p.lowRe;
        lowIm[k] = p.lowIm;
        highRe[-k] = p.highRe;
        highIm[-k] = p.highIm;
    }
}

// Where the packed pairs' imaginary parts go for the transform. From this size on, the
// rows of the transform's tiles are 4 KB apart, and imaginary parts a power of two away
// from the real ones would share their cache sets, each evicting the other: they go a
// cache line short of the end of the imaginary half instead, over the bins above the
// middle. Smaller transforms keep them in place.
constexpr int kShiftedFromHalf = 4096;
constexpr int kCacheLine = 8;

double* packedImaginary(double* im, int half) {
    return half >= kShiftedFromHalf ? im + half - kCacheLine : im;
}

// Turns the half-size transform Z of the packed pairs into the bins 0 ... H of the real
// transform, with the twiddle of each bin as rotating it bin by bin gives it (rotations).
// With the imaginary parts of Z moved (packedImaginary), bins H - 8 ... H, where the split
// writes, hold those of Z's bins 0 ... 8: so the pairs with k below 8 are all read before
// any is written, and bin H is written last.
void splitSpectrum(double* re, double* im, int frameLength) {
    const int half = frameLength / 2;
    const int quarter = half / 2;
    const double* packedIm = packedImaginary(im, half);
    const RotationTable twiddles = rotations(frameLength, true);
    const double dcRe = re[0];
    const double dcIm = packedIm[0];
    int first = 1;
    if (packedIm != im) {
        SplitPair pairs[kCacheLine];
        for (int k = 1; k < kCacheLine; ++k) {
            pairs[k] = splitPair(re[k], packedIm[k], re[half - k], packedIm[half - k],
                                 twiddles.cosines[k], twiddles.sines[k]);
        }
        for (int k = 1; k < kCacheLine; ++k) {
            re[k] = pairs[k].lowRe;
            im[k] = pairs[k].lowIm;
            re[half - k] = pairs[k].highRe;
            im[half - k] = pairs[k].highIm;
        }
        first = kCacheLine;
    }
    re[half] = dcRe - dcIm;
    re[0] = dcRe + dcIm;
    im[0] = 0.0;
    splitPairs(re, im, re + half, im + half, packedIm, packedIm + half, twiddles.cosines,
               twiddles.sines, first, quarter);
    im[half] = 0.0;
    im[quarter] = -packedIm[quarter];
}

// Even samples become real parts and odd samples imaginary parts of a half-size complex
// frame; the input run never overlaps the output.
BM7_FRAME_LOOP void packPairs(double* __restrict re, double* __restrict im,
                              const double* __restrict run, int half) {
    for (int j = 0; j < half; ++j) {
        re[j] = run[2 * j];
        im[j] = run[2 * j + 1];
    }
}

// The transform of the frame at `in`, with or without the bins above the middle.
void transformFrame(double* out, const double* const* in, BlockRecord* block, bool upperHalf) {
    if (block->simInfo->timingReady != 1 || !widthsFit(*block)) return;
    const int frameLength = block->inputCount;
    double* re = out;
    double* im = out + frameLength;
    if (frameLength == 1) {
        re[0] = *in[0];
        re[1] = 0.0;
        return;
    }
    // Even samples become real parts and odd samples imaginary parts of a half-size
    // complex frame, so one N/2-point transform does the work.
    const int half = frameLength / 2;
    double* packedIm = packedImaginary(im, half);
    if (const double* run = block->inputRun) {
        packPairs(re, packedIm, run, half);
    } else {
        for (int j = 0; j < half; ++j) {
            re[j] = *in[2 * j];
            packedIm[j] = *in[2 * j + 1];
        }
    }
    complexFft(re, packedIm, half);
    splitSpectrum(re, im, frameLength);
    if (upperHalf) mirrorUpperHalf(re, im, half);
}

void outputs(double* out, double*, const double* const* in, BlockRecord* block, int) {
    transformFrame(out, in, block, true);
}

}  // namespace

void registerRealFft(BlockRecord* block) {
    MethodTable& methods = block->methods;
    methods.initializeSizes = declareTransformSizes;
    methods.initializeSampleTimes = transformSampleTimes;
    methods.initializeConditions.withVectors = initializeConditions;
    methods.outputs.withVectors = outputs;
    methods.update = emptyTaskMethod;
    methods.derivatives = emptyMethod;
    methods.terminate = emptyMethod;
}

void realFftLowerHalf(BlockRecord& block) {
    transformFrame(block.outputVector, block.inputPointers, &block, false);
}

}  // namespace bm7
