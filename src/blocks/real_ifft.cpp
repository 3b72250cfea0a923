#include "blocks/real_ifft.h"

#include <cmath>

#include "blocks/fft_kernel.h"

namespace bm7 {
namespace {

const char* const kBadWidths =
    "Real IFFT: the spectrum length must be a power of two and the input as wide as the output";

bool widthsFit(BlockRecord& block) {
    const long long binCount = block.outputCount / 2;
    if (isFftSize(binCount) && block.inputCount >= 2 * binCount) return true;
    reportError(block, kBadWidths);
    return false;
}

void initializeSizes(BlockRecord* block) {
    block->paramCountExpected = 1;
    block->inputCount = -1;
    block->outputCount = -1;
    block->directFeedthrough = 1;
    block->sampleTimeCount = 1;
}

void initializeSampleTimes(BlockRecord* block) {
    block->samplePeriods[0] = paramReal(*block, 0, 0);
    block->sampleOffsets[0] = paramCols(*block, 0) == 2 ? paramReal(*block, 0, 1) : 0.0;
}

// Builds the shared twiddle table here so that no step ever allocates, and notes whether
// the input can be read as one run.
void initializeConditions(double*, BlockRecord* block) {
    if (widthsFit(*block) && block->outputCount / 2 > 1) {
        prepareComplexFft(block->outputCount / 4);
        prepareRotations(block->outputCount / 2, false);
    }
    block->inputRun = contiguousRun(block->inputPointers, block->inputCount);
}

// Reads bin values through the input's element pointers.
struct ByPointer {
    const double* const* in;
    double operator[](int i) const { return *in[i]; }
};

// Folds the N bins into twice the N/2-point spectrum of z[j] = x[2j] + i*x[2j+1]: real
// parts into out[0 ... Q-1], imaginary parts into out[N ... N+Q-1]. `in` is the input
// run itself or a ByPointer.
template <typename Input>
void foldSpectrum(double* out, const Input& in, int binCount) {
    const int quarter = binCount / 2;
    const RotationTable twiddles = rotations(binCount, false);
    for (int k = 0; k < quarter; ++k) {
        const double c = twiddles.cosines[k];
        const double s = twiddles.sines[k];
        const double a = in[k];
        const double b = in[binCount + k];
        const double cc = in[quarter + k];
        const double d = in[binCount + quarter + k];
        const double e1 = a - cc;
        const double e2 = b - d;
        out[k] = (a + cc) - (s * e1 + c * e2);
        out[binCount + k] = (b + d) + (c * e1 - s * e2);
    }
}

void outputs(double* out, double*, const double* const* in, BlockRecord* block, int) {
    if (block->simInfo->timingReady != 1 || !widthsFit(*block)) return;
    const int binCount = block->outputCount / 2;
    if (binCount == 1) {
        out[0] = *in[0];
        out[1] = *in[1];
        return;
    }
    const int quarter = binCount / 2;
    if (block->inputRun != nullptr) {
        foldSpectrum(out, block->inputRun, binCount);
    } else {
        foldSpectrum(out, ByPointer{in}, binCount);
    }
    // Exchanging real and imaginary parts around a forward transform inverts it.
    complexFft(out + binCount, out, quarter);
    const double scale = 1.0 / binCount;
    // Descending, so that no pair is overwritten before it is read.
    for (int j = quarter - 1; j >= 0; --j) {
        out[2 * j + 1] = scale * out[binCount + j];
        out[2 * j] = scale * out[j];
    }
}

}  // namespace

void registerRealIfft(BlockRecord* block) {
    MethodTable& methods = block->methods;
    methods.initializeSizes = initializeSizes;
    methods.initializeSampleTimes = initializeSampleTimes;
    methods.initializeConditions.withVectors = initializeConditions;
    methods.outputs.withVectors = outputs;
    methods.update = emptyTaskMethod;
    methods.derivatives = emptyMethod;
    methods.terminate = emptyMethod;
}

}  // namespace bm7
