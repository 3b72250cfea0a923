#include "blocks/real_ifft.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "blocks/block_harness.h"
#include "blocks/naive_dft.h"
#include "blocks/real_fft.h"
#include "support/frames.h"

namespace bm7 {
namespace {

using blocktest::BlockHarness;
using blocktest::randomFrame;
using blocktest::RegisterKind;
using blocktest::scalar;

struct Style1 {
    Style1(RegisterKind registerKind, int inputWidth, int outputWidth)
        : harness(registerKind, {scalar(-1)}, inputWidth, outputWidth, true) {
        harness.initializeConditions();
    }
    const std::vector<double>& of(const std::vector<double>& input) {
        harness.setInput(input);
        harness.outputs();
        return harness.outputVector();
    }
    BlockHarness harness;
};

Style1 forward(int n) {
    return Style1(registerRealFft, n, 2 * n);
}
Style1 inverse(int n) {
    return Style1(registerRealIfft, 2 * n, 2 * n);
}

TEST(RealIfftValues, ASpectrumWithOnlyDcOfNGivesOnesEverywhere) {
    for (int n : {1, 2, 4, 256}) {
        std::vector<double> spectrum(2 * n, 0.0);
        spectrum[0] = n;
        Style1 ifft = inverse(n);
        const std::vector<double>& signal = ifft.of(spectrum);
        for (int t = 0; t < n; ++t) EXPECT_EQ(signal[t], 1.0) << n << " " << t;
    }
}

TEST(RealIfftRoundTrip, ForwardThenInverseReturnsTheFrameAtEveryModelSize) {
    for (int n : {2, 4, 256, 512, 2048, 16384}) {
        const std::vector<double> frame = randomFrame(n, 40u + n);
        Style1 fft = forward(n);
        Style1 ifft = inverse(n);
        const std::vector<double>& signal = ifft.of(fft.of(frame));
        double worst = 0.0;
        for (int t = 0; t < n; ++t) worst = std::max(worst, std::fabs(signal[t] - frame[t]));
        EXPECT_LE(worst, 1e-12) << n;
    }
}

TEST(RealIfftAccuracy, ASymmetricSpectrumAgreesWithALongDoubleInverseSum) {
    const int n = 2048;
    const std::vector<double> frame = randomFrame(n, 77u);
    const auto exact = blocktest::naiveDft(frame, std::vector<double>(n, 0.0), -1);
    std::vector<double> spectrum(2 * n);
    for (int k = 0; k < n; ++k) {
        spectrum[k] = static_cast<double>(exact.re[k]);
        spectrum[n + k] = static_cast<double>(exact.im[k]);
    }
    Style1 ifft = inverse(n);
    const std::vector<double>& signal = ifft.of(spectrum);
    const std::vector<double> re(spectrum.begin(), spectrum.begin() + n);
    const std::vector<double> im(spectrum.begin() + n, spectrum.end());
    blocktest::LongSpectrum want = blocktest::naiveDft(re, im, +1);
    for (long double& value : want.re) value /= n;
    for (long double& value : want.im) value = 0.0L;
    EXPECT_LE(blocktest::relativeError(signal.data(), nullptr, want), 1e-12);
}

TEST(RealIfftGating, NothingIsWrittenUntilTheTimingEngineIsReady) {
    Style1 ifft = inverse(8);
    ifft.harness.outputVector().assign(16, 7.0);
    ifft.harness.sim.timingReady = 0;
    ifft.of(randomFrame(16, 9u));
    EXPECT_EQ(ifft.harness.outputVector(), std::vector<double>(16, 7.0));
}

TEST(RealIfftWidths, WidthsComeFromTheRecordAndBadOnesAreRejected) {
    BlockRecord declared;
    registerRealIfft(&declared);
    declared.methods.initializeSizes(&declared);
    EXPECT_EQ(declared.inputCount, -1);
    EXPECT_EQ(declared.outputCount, -1);

    Style1 odd(registerRealIfft, 24, 24);
    EXPECT_STREQ(odd.harness.error(),
                 "Real IFFT: the spectrum length must be a power of two and the input as wide "
                 "as the output");
    Style1 shortInput(registerRealIfft, 8, 16);
    EXPECT_NE(shortInput.harness.error(), nullptr);
}

// Both transforms read a contiguous input as one run; inputs whose elements lie apart
// must still be read element by element, with the same result.
std::vector<double> transformed(RegisterKind kind, int inWidth, int outWidth,
                                const std::vector<double>& frame, bool scattered) {
    BlockHarness harness(kind, {blocktest::scalar(-1)}, inWidth, outWidth, true);
    const ScatteredFrame apart(frame);
    if (scattered) harness.block.inputPointers = apart.elements.data();
    harness.initializeConditions();
    if (!scattered) harness.setInput(frame);
    harness.outputs();
    return harness.outputVector();
}

bool sameBits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

TEST(RealTransformInputs, ElementsApartGiveTheSameBitsAsOneRun) {
    for (int n : {8, 256, 2048}) {
        const std::vector<double> frame = randomFrame(static_cast<std::size_t>(n), 31u + n);
        EXPECT_TRUE(sameBits(transformed(registerRealFft, n, 2 * n, frame, true),
                             transformed(registerRealFft, n, 2 * n, frame, false)))
            << n;
        const std::vector<double> spectrum = randomFrame(static_cast<std::size_t>(2 * n), 37u + n);
        EXPECT_TRUE(sameBits(transformed(registerRealIfft, 2 * n, 2 * n, spectrum, true),
                             transformed(registerRealIfft, 2 * n, 2 * n, spectrum, false)))
            << n;
    }
}

// A filter's product formed bin by bin inside the inverse, from the spectra's lower
// halves, must give the bits of the full product stored first and then inverted, at
// every length the model filters with, for a silent frame's spectrum of zeros too.
TEST(RealIfftOfProduct, GivesTheBitsOfTheStoredProductsInverse) {
    for (int n : {1, 2, 256, 512, 2048, 16384}) {
        const auto size = static_cast<std::size_t>(n);
        const std::vector<double> weights = forward(n).of(randomFrame(size, 7u + n));
        for (const std::vector<double>& frame :
             {randomFrame(size, 5u + n), std::vector<double>(size, 0.0)}) {
            const std::vector<double> spectrum = forward(n).of(frame);
            std::vector<double> product(2 * size);
            for (int k = 0; k < n; ++k) {
                const double reS = spectrum[k], imS = spectrum[n + k];
                const double reW = weights[k], imW = weights[n + k];
                product[k] = reW * reS - imW * imS;
                product[n + k] = imS * reW + imW * reS;
            }
            const std::vector<double> expected = inverse(n).of(product);
            Style1 fused = inverse(n);
            realIfftOfProduct(fused.harness.block, spectrum.data(), weights.data());
            EXPECT_TRUE(sameBits(fused.harness.outputVector(), expected)) << n;
        }
    }
}

// The lower half is the block's own, bit for bit; the upper real parts are left alone,
// the upper imaginary parts may be the transform's scratch.
TEST(RealFftLowerHalf, WritesTheBlocksBinsUpToTheMiddleOnly) {
    for (int n : {2, 256, 16384}) {
        const std::vector<double> frame = randomFrame(static_cast<std::size_t>(n), 3u + n);
        const std::vector<double> full = forward(n).of(frame);
        Style1 half = forward(n);
        half.harness.setInput(frame);
        std::fill(half.harness.outputVector().begin(), half.harness.outputVector().end(), -7.0);
        realFftLowerHalf(half.harness.block);
        const std::vector<double>& out = half.harness.outputVector();
        for (int part : {0, n}) {
            for (int k = 0; k < n; ++k) {
                if (part == n && k > n / 2) continue;
                const double want = k <= n / 2 ? full[part + k] : -7.0;
                ASSERT_EQ(std::memcmp(&out[part + k], &want, sizeof want), 0) << n << " " << k;
            }
        }
    }
}

}  // namespace
}  // namespace bm7
