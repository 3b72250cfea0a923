#include "blocks/real_ifft.h"

#include <cmath>

#include "blocks/fft_kernel.h"
#include "blocks/transform_block.h"
#include "driver/frame_loop.h"

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

// Builds the shared twiddle table here so that no step ever allocates, and notes whether
// the input can be read as one run.
void initializeConditions(double*, BlockRecord* block) {
    if (widthsFit(*block) && block->outputCount / 2 > 1) {
        prepareComplexFft(block->outputCount / 4);
        prepareRotations(block->outputCount / 2, false);
    }
    block->inputRun = contiguousRun(block->inputPointers, block->inputCount);
}

// Folds bins k and Q + k of the N bins (Q = N/2), a + ib and cc + id, with the twiddle
// c, s of bin k, into bin k of twice the Q-point spectrum of z[j] = x[2j] + i*x[2j+1].
[[gnu::always_inline]] inline void foldBin(double a, double b, double cc, double d, double c,
                                           double s, double& outRe, double& outIm) {
    const double e1 = a - cc;
    const double e2 = b - d;
    outRe = (a + cc) - (s * e1 + c * e2);
    outIm = (b + d) + (c * e1 - s * e2);
}

// Folds the N bins, real parts re[k] and imaginary parts im[k], into twice the N/2-point
// spectrum of z[j]: real parts into outRe[0 ... Q-1], imaginary parts into
// outIm[0 ... Q-1]. `re` and `im` are runs or ByPointers.
template <typename Real, typename Imaginary>
[[gnu::always_inline]] inline void foldSpectrum(double* outRe, double* outIm, const Real& re,
                                                const Imaginary& im, const RotationTable& twiddles,
                                                int binCount) {
    const int quarter = binCount / 2;
    for (int k = 0; k < quarter; ++k) {
        foldBin(re[k], im[k], re[quarter + k], im[quarter + k], twiddles.cosines[k],
                twiddles.sines[k], outRe[k], outIm[k]);
    }
}

// The input run never overlaps the output, so whole vectors of bins can be folded at
// once; each value keeps its operations.
BM7_FRAME_LOOP void foldRun(double* __restrict outRe, double* __restrict outIm,
                            const double* __restrict in, const RotationTable& twiddles,
                            int binCount) {
    foldSpectrum(outRe, outIm, in, in + binCount, twiddles, binCount);
}

// The bins of the product of spectrum S and weights W, each formed where it is read, as
// a stored product would hold them: real parts ReW*ReS - ImW*ImS, imaginary parts
// ImS*ReW + ImW*ReS. S and W are spectra of real frames, so bin N - k holds the conjugates
// of bin k's parts: its real part is read as bin k's, which gives the same bits, and its
// imaginary part is formed from the negated parts, which keeps even the sign of a zero.
struct ProductBins {
    const double* __restrict reS;
    const double* __restrict imS;
    const double* __restrict reW;
    const double* __restrict imW;

    [[gnu::always_inline]] double re(int k) const { return reW[k] * reS[k] - imW[k] * imS[k]; }
    [[gnu::always_inline]] double im(int k) const { return imS[k] * reW[k] + imW[k] * reS[k]; }
    // The imaginary part of bin N - k.
    [[gnu::always_inline]] double mirroredIm(int k) const {
        return -imS[k] * reW[k] + -imW[k] * reS[k];
    }
};

// Folds the product's bins, reading only bins 0 ... N/2 of the two spectra: bin Q + k is
// bin N - (Q - k). Bins k and Q - k fold into each other, so each pair is folded together
// and every product bin is formed once.
BM7_FRAME_LOOP void foldProductRun(double* __restrict outRe, double* __restrict outIm,
                                   const double* __restrict spectrum,
                                   const double* __restrict weights, const RotationTable& twiddles,
                                   int binCount) {
    const ProductBins p{spectrum, spectrum + binCount, weights, weights + binCount};
    const int quarter = binCount / 2;
    const double* cosines = twiddles.cosines;
    const double* sines = twiddles.sines;
    foldBin(p.re(0), p.im(0), p.re(quarter), p.im(quarter), cosines[0], sines[0], outRe[0],
            outIm[0]);
    const int middle = quarter / 2;
    for (int k = 1; k < middle; ++k) {
        const int j = quarter - k;
        const double reK = p.re(k), imK = p.im(k), mirroredK = p.mirroredIm(k);
        const double reJ = p.re(j), imJ = p.im(j), mirroredJ = p.mirroredIm(j);
        foldBin(reK, imK, reJ, mirroredJ, cosines[k], sines[k], outRe[k], outIm[k]);
        foldBin(reJ, imJ, reK, mirroredK, cosines[j], sines[j], outRe[j], outIm[j]);
    }
    if (middle > 0)
        foldBin(p.re(middle), p.im(middle), p.re(middle), p.mirroredIm(middle), cosines[middle],
                sines[middle], outRe[middle], outIm[middle]);
}

// Writes the scaled pairs (re[j], im[j]) to out[2j], out[2j+1] for `count` values of j;
// `out` starts where `re` ends, so nothing is overwritten before it is read.
BM7_FRAME_LOOP void interleaveScaled(double* __restrict out, const double* __restrict re,
                                     const double* __restrict im, int count, double scale) {
    for (int j = 0; j < count; ++j) {
        out[2 * j] = scale * re[j];
        out[2 * j + 1] = scale * im[j];
    }
}

// Where the folded spectrum's Q imaginary parts go: in the upper half of the output,
// which holds nothing the block gives out, one cache line in. At the power-of-two
// distance of the half itself, the transform's bit reversal would find real and
// imaginary parts in the same cache sets, evicting each other.
double* foldedImaginary(double* out, int binCount) {
    const int quarter = binCount / 2;
    constexpr int kCacheLine = 8;
    return out + binCount + (quarter >= kCacheLine ? kCacheLine : 0);
}

// The inverse from the folded half-length spectrum: real parts in out[0 ... Q-1],
// imaginary parts at foldedImaginary.
void inverseOfFolded(double* out, int binCount) {
    const int quarter = binCount / 2;
    double* im = foldedImaginary(out, binCount);
    // Exchanging real and imaginary parts around a forward transform inverts it.
    complexFft(im, out, quarter);
    const double scale = 1.0 / binCount;
    // Pairs j in [Q/2, Q) land in [Q, 2Q), beyond the real parts still to be read; then
    // [Q/4, Q/2) lands in [Q/2, Q), already read; and so on down to j = 0.
    for (int high = quarter; high > 1; high /= 2) {
        const int low = high / 2;
        interleaveScaled(out + 2 * low, out + low, im + low, high - low, scale);
    }
    out[1] = scale * im[0];
    out[0] = scale * out[0];
}

void outputs(double* out, double*, const double* const* in, BlockRecord* block, int) {
    if (block->simInfo->timingReady != 1 || !widthsFit(*block)) return;
    const int binCount = block->outputCount / 2;
    if (binCount == 1) {
        out[0] = *in[0];
        out[1] = *in[1];
        return;
    }
    const RotationTable twiddles = rotations(binCount, false);
    if (block->inputRun != nullptr) {
        foldRun(out, foldedImaginary(out, binCount), block->inputRun, twiddles, binCount);
    } else {
        foldSpectrum(out, foldedImaginary(out, binCount), ByPointer{in}, ByPointer{in + binCount},
                     twiddles, binCount);
    }
    inverseOfFolded(out, binCount);
}

}  // namespace

void registerRealIfft(BlockRecord* block) {
    MethodTable& methods = block->methods;
    methods.initializeSizes = declareTransformSizes;
    methods.initializeSampleTimes = transformSampleTimes;
    methods.initializeConditions.withVectors = initializeConditions;
    methods.outputs.withVectors = outputs;
    methods.update = emptyTaskMethod;
    methods.derivatives = emptyMethod;
    methods.terminate = emptyMethod;
}

void realIfftOfProduct(BlockRecord& block, const double* spectrum, const double* weights) {
    if (block.simInfo->timingReady != 1 || !widthsFit(block)) return;
    double* out = block.outputVector;
    const int binCount = block.outputCount / 2;
    if (binCount == 1) {
        const ProductBins p{spectrum, spectrum + 1, weights, weights + 1};
        out[0] = p.re(0);
        out[1] = p.im(0);
        return;
    }
    foldProductRun(out, foldedImaginary(out, binCount), spectrum, weights,
                   rotations(binCount, false), binCount);
    inverseOfFolded(out, binCount);
}

}  // namespace bm7
