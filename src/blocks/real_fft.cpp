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

// Bin k below the quarter pairs with bin H-k above it (highRe[-k], with highRe at bin H):
// each pair is read, then written, and no two pairs share a bin, so several pairs can
// go at once.
BM7_FRAME_LOOP void splitPairs(double* __restrict lowRe, double* __restrict lowIm,
                               double* __restrict highRe, double* __restrict highIm,
                               const double* __restrict cosines, const double* __restrict sines,
                               int quarter) {
    for (int k = 1; k < quarter; ++k) {
        const double wr = cosines[k];
        const double wi = sines[k];
        const double ar = lowRe[k], ai = lowIm[k];
        const double br = highRe[-k], bi = highIm[-k];
        const double h1r = 0.5 * (br + ar);
        const double h1i = 0.5 * (ai - bi);
        const double h2r = 0.5 * (bi + ai);
        const double h2i = -0.5 * (ar - br);
        lowRe[k] = h1r + wr * h2r - wi * h2i;
        lowIm[k] = h1i + wr * h2i + wi * h2r;
        highRe[-k] = h1r - wr * h2r + wi * h2i;
        highIm[-k] = -h1i + wr * h2i + wi * h2r;
    }
}

// Turns the half-size transform Z of the packed pairs into the bins 0 ... H of the real
// transform, with the twiddle of each bin as rotating it bin by bin gives it (rotations).
void splitSpectrum(double* re, double* im, int frameLength) {
    const int half = frameLength / 2;
    const int quarter = half / 2;
    const double dcRe = re[0];
    const double dcIm = im[0];
    re[half] = dcRe - dcIm;
    im[half] = 0.0;
    re[0] = dcRe + dcIm;
    im[0] = 0.0;
    const RotationTable twiddles = rotations(frameLength, true);
    splitPairs(re, im, re + half, im + half, twiddles.cosines, twiddles.sines, quarter);
    im[quarter] = -im[quarter];
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
    if (const double* run = block->inputRun) {
        packPairs(re, im, run, half);
    } else {
        for (int j = 0; j < half; ++j) {
            re[j] = *in[2 * j];
            im[j] = *in[2 * j + 1];
        }
    }
    complexFft(re, im, half);
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
