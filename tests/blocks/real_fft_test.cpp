#include "blocks/real_fft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "blocks/block_harness.h"
#include "blocks/fft_kernel.h"
#include "blocks/naive_dft.h"

namespace bm7 {
namespace {

using blocktest::BlockHarness;
using blocktest::randomFrame;
using blocktest::row;
using blocktest::scalar;

struct Transform {
    explicit Transform(int frameLength)
        : harness(registerRealFft, {scalar(-1)}, frameLength, 2 * frameLength, true) {
        harness.initializeConditions();
    }
    const std::vector<double>& of(const std::vector<double>& frame) {
        harness.setInput(frame);
        harness.outputs();
        return harness.outputVector();
    }
    BlockHarness harness;
};

TEST(RealFftDeclarations, WidthsAreLeftToTheRegistrationAndTheSampleTimeComesFromTheParameter) {
    BlockRecord declared;
    registerRealFft(&declared);
    declared.methods.initializeSizes(&declared);
    EXPECT_EQ(declared.inputCount, -1);
    EXPECT_EQ(declared.outputCount, -1);

    BlockHarness plain(registerRealFft, {scalar(-1)}, 8, 16, true);
    EXPECT_EQ(plain.block.samplePeriods[0], -1.0);
    EXPECT_EQ(plain.block.sampleOffsets[0], 0.0);

    BlockHarness offset(registerRealFft, {row({0.5, 0.25})}, 8, 16, true);
    EXPECT_EQ(offset.block.samplePeriods[0], 0.5);
    EXPECT_EQ(offset.block.sampleOffsets[0], 0.25);
}

TEST(RealFftValues, ImpulseConstantAndCosineGiveTheirTextbookSpectra) {
    const int n = 256;
    Transform fft(n);
    std::vector<double> impulse(n, 0.0);
    impulse[0] = 1.0;
    const std::vector<double> flat = fft.of(impulse);
    for (int k = 0; k < n; ++k) {
        EXPECT_EQ(flat[k], 1.0) << k;
        EXPECT_EQ(flat[n + k], 0.0) << k;
    }
    const std::vector<double> dc = fft.of(std::vector<double>(n, 1.0));
    EXPECT_EQ(dc[0], n);
    for (int k = 1; k < 2 * n; ++k) EXPECT_NEAR(dc[k], 0.0, 1e-12) << k;

    std::vector<double> cosine(n);
    for (int t = 0; t < n; ++t) cosine[t] = std::cos(2 * M_PI * 3 * t / n);
    const std::vector<double> tone = fft.of(cosine);
    for (int k = 0; k < n; ++k) {
        const double want = (k == 3 || k == n - 3) ? n / 2.0 : 0.0;
        EXPECT_NEAR(tone[k], want, 1e-11) << k;
        EXPECT_NEAR(tone[n + k], 0.0, 1e-11) << k;
    }
}

TEST(RealFftValues, TheSmallestSizesFollowTheSplitStepExactly) {
    Transform one(1);
    EXPECT_EQ(one.of({2.5}), (std::vector<double>{2.5, 0.0}));

    // For two points the quarter-bin negation turns the zero imaginary part of bin 0
    // into -0.0.
    Transform two(2);
    const std::vector<double> pair = two.of({3.0, 1.0});
    EXPECT_EQ(pair[0], 4.0);
    EXPECT_EQ(pair[1], 2.0);
    EXPECT_TRUE(std::signbit(pair[2]));
    EXPECT_EQ(pair[3], 0.0);

    // Four points: bin 1 is the conjugate of the 2-point transform's Z[1] = (1-3) + i(2-4),
    // bin 3 the conjugate of bin 1.
    Transform four(4);
    const std::vector<double> x = four.of({1.0, 2.0, 3.0, 4.0});
    EXPECT_EQ(x[0], 10.0);
    EXPECT_EQ(x[2], -2.0);
    EXPECT_EQ(x[1], -2.0);
    EXPECT_EQ(x[4 + 1], 2.0);
    EXPECT_EQ(x[3], x[1]);
    EXPECT_EQ(x[4 + 3], -x[4 + 1]);
}

// The split step written out plainly over the kernel's half-size transform: the block
// gives these bits at every size, whether its transform keeps the imaginary parts in
// place or packs them elsewhere (from 8192 points).
TEST(RealFftValues, EverySizeGivesTheBitsOfThePlainSplitStep) {
    for (int n : {64, 2048, 8192, 16384}) {
        const std::vector<double> frame = randomFrame(n, 17u + n);
        const int half = n / 2;
        std::vector<double> re(half), im(half);
        for (int j = 0; j < half; ++j) {
            re[j] = frame[2 * j];
            im[j] = frame[2 * j + 1];
        }
        complexFft(re.data(), im.data(), half);
        const RotationTable w = rotations(n, true);
        std::vector<double> expected(2 * n);
        double* outRe = expected.data();
        double* outIm = expected.data() + n;
        outRe[0] = re[0] + im[0];
        outRe[half] = re[0] - im[0];
        outIm[0] = 0.0;
        outIm[half] = 0.0;
        for (int k = 1; k < half / 2; ++k) {
            const double ar = re[k], ai = im[k], br = re[half - k], bi = im[half - k];
            const double h1r = 0.5 * (br + ar), h1i = 0.5 * (ai - bi);
            const double h2r = 0.5 * (bi + ai), h2i = -0.5 * (ar - br);
            outRe[k] = h1r + w.cosines[k] * h2r - w.sines[k] * h2i;
            outIm[k] = h1i + w.cosines[k] * h2i + w.sines[k] * h2r;
            outRe[half - k] = h1r - w.cosines[k] * h2r + w.sines[k] * h2i;
            outIm[half - k] = -h1i + w.cosines[k] * h2i + w.sines[k] * h2r;
        }
        outRe[half / 2] = re[half / 2];
        outIm[half / 2] = -im[half / 2];
        for (int k = 1; k < half; ++k) {
            outRe[half + k] = outRe[half - k];
            outIm[half + k] = -outIm[half - k];
        }
        Transform transform(n);
        const std::vector<double>& out = transform.of(frame);
        EXPECT_EQ(std::memcmp(out.data(), expected.data(), expected.size() * sizeof(double)), 0)
            << n;
    }
}

// At the largest size every 13th bin is checked, which still visits every residue of the
// split step's twiddle recurrence; the bound then uses a smaller maximum, so it is stricter.
TEST(RealFftAccuracy, RandomFramesAgreeWithALongDoubleDirectSumAtEveryModelSize) {
    for (int n : {4, 8, 256, 512, 2048, 16384}) {
        const std::size_t binStep = n > 2048 ? 13 : 1;
        const std::vector<double> frame = randomFrame(n, 100u + n);
        Transform fft(n);
        const std::vector<double>& spectrum = fft.of(frame);
        const auto want = blocktest::naiveDft(frame, std::vector<double>(n, 0.0), -1, binStep);
        EXPECT_LE(blocktest::relativeError(spectrum.data(), spectrum.data() + n, want, binStep),
                  1e-12)
            << n;
    }
}

TEST(RealFftGating, NothingIsWrittenUntilTheTimingEngineIsReady) {
    Transform fft(16);
    fft.harness.outputVector().assign(32, 7.0);
    fft.harness.sim.timingReady = 0;
    fft.of(randomFrame(16, 3u));
    EXPECT_EQ(fft.harness.outputVector(), std::vector<double>(32, 7.0));
    fft.harness.sim.timingReady = 2;
    fft.of(randomFrame(16, 3u));
    EXPECT_EQ(fft.harness.outputVector(), std::vector<double>(32, 7.0));
}

TEST(RealFftWidths, AFrameThatIsNoPowerOfTwoIsRejectedInsteadOfOverrunningTheOutput) {
    BlockHarness odd(registerRealFft, {scalar(-1)}, 12, 24, true);
    odd.outputVector().assign(24, 7.0);
    odd.initializeConditions();
    EXPECT_STREQ(odd.error(),
                 "Real FFT: the frame length must be a power of two and the output twice as wide");
    odd.outputs();
    EXPECT_EQ(odd.outputVector(), std::vector<double>(24, 7.0));

    BlockHarness narrow(registerRealFft, {scalar(-1)}, 8, 12, true);
    narrow.initializeConditions();
    EXPECT_NE(narrow.error(), nullptr);
}

}  // namespace
}  // namespace bm7
