#include "model/filter_design.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace bm7 {
namespace {

constexpr long double longPi = 3.141592653589793238462643383279502884L;

// Reference transform: unscaled DFT summed in long double, with the phase index reduced
// modulo N so that large k * t keep full precision. Zero samples are skipped, which
// keeps the zero-padded filters cheap.
void naiveRealDft(const double* samples, std::size_t length, double* splitSpectrum) {
    for (std::size_t k = 0; k < length; ++k) {
        long double re = 0.0L;
        long double im = 0.0L;
        for (std::size_t t = 0; t < length; ++t) {
            if (samples[t] == 0.0) continue;
            const long double angle = 2.0L * longPi * static_cast<long double>((k * t) % length) /
                                      static_cast<long double>(length);
            re += samples[t] * std::cos(angle);
            im -= samples[t] * std::sin(angle);
        }
        splitSpectrum[k] = static_cast<double>(re);
        splitSpectrum[length + k] = static_cast<double>(im);
    }
}

std::vector<double> spectrumOf(const double* taps, std::size_t tapCount, std::size_t length) {
    std::vector<double> padded(length, std::numeric_limits<double>::quiet_NaN());
    std::vector<double> spectrum(2 * length);
    EXPECT_TRUE(
        storedSpectrum(taps, tapCount, length, padded.data(), spectrum.data(), naiveRealDft));
    return spectrum;
}

// Gain of taps at `hz`, evaluated directly rather than on a bin grid.
double gainDbAt(const double* taps, int tapCount, double hz, double rate) {
    long double re = 0.0L;
    long double im = 0.0L;
    for (int t = 0; t < tapCount; ++t) {
        const long double angle = 2.0L * longPi * hz * t / rate;
        re += taps[t] * std::cos(angle);
        im -= taps[t] * std::sin(angle);
    }
    return static_cast<double>(10.0L * std::log10(re * re + im * im));
}

// The pass band as read on the transform's own bins: the peak, and the outermost bins
// of the run around it that stay within 3 dB of the peak.
struct PassBand {
    double lowHz;
    double highHz;
    double peakGain;
    double peakHz;
};

PassBand passBandOnBins(const std::vector<double>& spectrum, double rate) {
    const std::size_t length = spectrum.size() / 2;
    std::vector<double> gain(length / 2 + 1);
    for (std::size_t k = 0; k < gain.size(); ++k) {
        gain[k] = std::hypot(spectrum[k], spectrum[length + k]);
    }
    const auto peak = std::max_element(gain.begin(), gain.end());
    const double edge = *peak * std::pow(10.0, -3.0 / 20.0);
    auto low = peak;
    while (low != gain.begin() && *(low - 1) >= edge) --low;
    auto high = peak;
    while (high + 1 != gain.end() && *(high + 1) >= edge) ++high;
    const double binHz = rate / static_cast<double>(length);
    return {(low - gain.begin()) * binHz, (high - gain.begin()) * binHz, *peak,
            (peak - gain.begin()) * binHz};
}

// Mirror taps come from window cosines of different arguments, so they agree only to
// rounding relative to the largest tap.
template <std::size_t tapCount>
void expectSymmetric(const std::array<double, tapCount>& taps) {
    double largest = 0.0;
    for (double tap : taps) largest = std::max(largest, std::abs(tap));
    for (std::size_t n = 0; n < tapCount / 2; ++n) {
        EXPECT_NEAR(taps[n], taps[tapCount - 1 - n], 1e-15 * largest) << "tap " << n;
    }
}

void expectRelative(double actual, double expected, double bound) {
    EXPECT_NEAR(actual, expected, std::abs(expected) * bound) << "expected " << expected;
}

TEST(DecimationPrototype, IsAUnitSumSymmetricEighthBandFilter) {
    const DecimationTaps g = decimationPrototype();
    double sum = 0.0;
    for (double tap : g) sum += tap;
    EXPECT_NEAR(sum, 1.0, 1e-15);
    expectSymmetric(g);
    for (int k = 1; k <= 6; ++k) {
        EXPECT_EQ(g[50 - 8 * k], 0.0) << "k = " << k;
        EXPECT_EQ(g[50 + 8 * k], 0.0) << "k = " << k;
    }
}

TEST(DecimationPrototype, HasTheStatedTaps) {
    const DecimationTaps g = decimationPrototype();
    EXPECT_NEAR(g[0], 0.000360568101, 5e-13);
    EXPECT_NEAR(g[1], 0.000201379742, 5e-13);
    EXPECT_EQ(g[2], 0.0);
    EXPECT_NEAR(g[3], -0.000228736734, 5e-13);
    EXPECT_NEAR(g[4], -0.000462721286, 5e-13);
    EXPECT_NEAR(g[48], 0.112268823, 5e-10);
    EXPECT_NEAR(g[49], 0.121850576, 5e-10);
    EXPECT_NEAR(g[50], 0.125153271, 5e-10);
}

TEST(DecimationPrototype, IsFlatAtOneKilohertzHalfDownAtTheFoldAndDeepAtTwo) {
    const DecimationTaps g = decimationPrototype();
    EXPECT_LT(std::abs(gainDbAt(g.data(), decimationTapCount, 1000.0, 22050.0)), 0.01);
    EXPECT_NEAR(gainDbAt(g.data(), decimationTapCount, 1378.125, 22050.0), -6.0, 0.01);
    EXPECT_LT(gainDbAt(g.data(), decimationTapCount, 2000.0, 22050.0), -59.5);
}

TEST(PolyphaseBranches, ReassembleThePrototype) {
    const DecimationTaps g = decimationPrototype();
    const PolyphaseBranches branches = polyphaseBranches(g);
    DecimationTaps reassembled{};
    std::vector<int> covered(decimationTapCount, 0);
    for (int p = 0; p < decimationFactor; ++p) {
        for (int q = 0; q < branchTapCount; ++q) {
            const int index = 8 * q - p;
            if (index >= 0 && index < decimationTapCount) {
                reassembled[index] = branches[p][q];
                ++covered[index];
            } else {
                EXPECT_EQ(branches[p][q], 0.0) << "branch " << p << " q " << q;
            }
        }
    }
    EXPECT_EQ(reassembled, g);
    EXPECT_TRUE(std::all_of(covered.begin(), covered.end(), [](int n) { return n == 1; }));
}

TEST(PolyphaseBranches, HaveTheStatedShapes) {
    const PolyphaseBranches branches = polyphaseBranches(decimationPrototype());
    const auto nonzero = [](const BranchTaps& taps) {
        return std::count_if(taps.begin(), taps.end(), [](double t) { return t != 0.0; });
    };
    EXPECT_EQ(nonzero(branches[0]), 13);
    EXPECT_NE(branches[0][0], 0.0);
    for (int p = 1; p < decimationFactor; ++p) EXPECT_EQ(branches[p][0], 0.0) << "branch " << p;
    EXPECT_EQ(nonzero(branches[6]), 1);
    EXPECT_NEAR(branches[6][7], 0.125153271, 5e-10);
}

TEST(BandFilter, HasTheStatedSymmetricTaps) {
    const BandFilterTaps h = bandFilterTaps();
    EXPECT_NEAR(h[0], 0.00536599, 5e-9);
    EXPECT_NEAR(h[1], 0.0103151, 5e-8);
    EXPECT_NEAR(h[2], -0.0013508, 5e-8);
    for (int n = 0; n < 50; ++n) EXPECT_EQ(h[99 - n], h[n]) << "tap " << n;
}

TEST(ModulationBandPasses, AreSymmetricWithUnitGainAtTheirCentres) {
    const double rate = 22050.0 / 64.0;
    for (const auto& [taps, centreHz] :
         {std::pair{narrowModulationTaps(), 67.5}, std::pair{wideModulationTaps(), 62.5}}) {
        expectSymmetric(taps);
        EXPECT_NEAR(gainDbAt(taps.data(), modulationTapCount, centreHz, rate), 0.0, 1e-12);
    }
}

// Every value below is the one the detector was tuned with; a relative error of 1e-11
// leaves room only for rounding.
TEST(StoredSpectra, ReproduceTheTunedValues) {
    const double bound = 1e-11;
    const BandFilterTaps band = bandFilterTaps();
    const std::vector<double> bandSpectrum = spectrumOf(band.data(), band.size(), 16384);
    expectRelative(bandSpectrum[0], 0.01571320700077333, bound);
    expectRelative(bandSpectrum[1], 0.0157074820361086, bound);
    expectRelative(bandSpectrum[16384 + 1], -0.0002982111453703775, bound);

    const BranchTaps branch0 = polyphaseBranches(decimationPrototype())[0];
    const std::vector<double> stage1 = spectrumOf(branch0.data(), branch0.size(), 2048);
    expectRelative(stage1[0], 0.1251779318445009, bound);
    expectRelative(stage1[1], 0.1251550327428242, bound);
    expectRelative(stage1[2048 + 1], -0.002393842034689544, bound);
    const std::vector<double> stage2 = spectrumOf(branch0.data(), branch0.size(), 256);
    expectRelative(stage2[0], 0.1251779318445009, bound);
    expectRelative(stage2[1], 0.1237151762680318, bound);
    expectRelative(stage2[256 + 1], -0.01907740039569882, bound);

    const ModulationTaps narrow = narrowModulationTaps();
    const std::vector<double> narrowSpectrum = spectrumOf(narrow.data(), narrow.size(), 512);
    expectRelative(narrowSpectrum[0], 0.0006991782190352777, bound);
    expectRelative(narrowSpectrum[512 + 1], -0.000217331814560432, bound);
    const ModulationTaps wide = wideModulationTaps();
    const std::vector<double> wideSpectrum = spectrumOf(wide.data(), wide.size(), 512);
    expectRelative(wideSpectrum[0], 0.0008687300432883294, bound);
    expectRelative(wideSpectrum[512 + 1], -0.0002403220587082313, bound);
}

TEST(StoredSpectra, HaveTheTunedPassBandsOnTheirBinGrids) {
    const BandFilterTaps band = bandFilterTaps();
    const PassBand detector = passBandOnBins(spectrumOf(band.data(), band.size(), 16384), 22050.0);
    EXPECT_NEAR(detector.lowHz, 4006.5, 0.05);
    EXPECT_NEAR(detector.highHz, 5489.6, 0.05);
    EXPECT_NEAR(detector.peakGain, 1.0658, 5e-5);
    EXPECT_NEAR(detector.peakHz, 5326.8, 0.05);

    const double rate = 22050.0 / 64.0;
    const ModulationTaps narrowTaps = narrowModulationTaps();
    const PassBand narrow = passBandOnBins(spectrumOf(narrowTaps.data(), 201, 512), rate);
    EXPECT_NEAR(narrow.lowHz, 55.85, 0.005);
    EXPECT_NEAR(narrow.highHz, 78.73, 0.005);
    EXPECT_NEAR(narrow.peakGain, 1.0011, 5e-5);
    EXPECT_NEAR(narrow.peakHz, 58.54, 0.005);

    const ModulationTaps wideTaps = wideModulationTaps();
    const PassBand wide = passBandOnBins(spectrumOf(wideTaps.data(), 201, 512), rate);
    EXPECT_NEAR(wide.lowHz, 20.86, 0.005);
    EXPECT_NEAR(wide.highHz, 104.30, 0.005);
    EXPECT_NEAR(wide.peakGain, 1.0013, 5e-5);
    EXPECT_NEAR(wide.peakHz, 23.55, 0.005);
}

TEST(StoredSpectrum, TransformsTheTapsFollowedByZeros) {
    const double taps[] = {0.25, -0.5, 1.0};
    std::vector<double> padded(8, std::numeric_limits<double>::quiet_NaN());
    std::vector<double> spectrum(16);
    std::vector<double> seen;
    const RealTransform recordInput = [&](const double* samples, std::size_t length, double*) {
        seen.assign(samples, samples + length);
    };
    ASSERT_TRUE(storedSpectrum(taps, 3, 8, padded.data(), spectrum.data(), recordInput));
    EXPECT_EQ(seen, (std::vector<double>{0.25, -0.5, 1.0, 0, 0, 0, 0, 0}));

    const std::vector<double> exact = spectrumOf(taps, 3, 8);
    EXPECT_NEAR(exact[0], 0.75, 1e-15);
    EXPECT_NEAR(exact[4], 1.75, 1e-15);
    EXPECT_NEAR(exact[8 + 2], 0.5, 1e-15);  // bin 2: 0.25 + 0.5i - 1.0
}

TEST(StoredSpectrum, RefusesMoreTapsThanTheTransformLength) {
    const double taps[] = {1.0, 2.0, 3.0};
    std::vector<double> padded(2);
    std::vector<double> spectrum(4, 7.0);
    bool called = false;
    const RealTransform transform = [&](const double*, std::size_t, double*) { called = true; };
    EXPECT_FALSE(storedSpectrum(taps, 3, 2, padded.data(), spectrum.data(), transform));
    EXPECT_FALSE(called);
    EXPECT_EQ(spectrum, std::vector<double>(4, 7.0));
}

}  // namespace
}  // namespace bm7
