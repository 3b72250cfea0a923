#include "model/stored_spectra.h"

#include <gtest/gtest.h>

#include <cmath>

namespace bm7::detector {
namespace {

class StoredSpectraTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { spectra = new StoredSpectra(buildStoredSpectra()); }
    static void TearDownTestSuite() { delete spectra; }
    static StoredSpectra* spectra;
};
StoredSpectra* StoredSpectraTest::spectra = nullptr;

void expectRelative(double actual, double expected, const char* what) {
    EXPECT_LE(std::fabs(actual - expected), 1e-11 * std::fabs(expected))
        << what << ": " << actual << " vs " << expected;
}

TEST_F(StoredSpectraTest, ReachTheTellingValuesThroughTheProjectsOwnTransform) {
    const std::vector<double>& band = spectra->band;
    ASSERT_EQ(band.size(), 32768U);
    expectRelative(band[0], 0.01571320700077333, "band Re[0]");
    expectRelative(band[1], 0.0157074820361086, "band Re[1]");
    expectRelative(band[16384 + 1], -0.0002982111453703775, "band Im[1]");
    const std::vector<double>& stage1 = spectra->stage1[0];
    ASSERT_EQ(stage1.size(), 4096U);
    expectRelative(stage1[0], 0.1251779318445009, "stage 1 Re[0]");
    expectRelative(stage1[1], 0.1251550327428242, "stage 1 Re[1]");
    expectRelative(stage1[2048 + 1], -0.002393842034689544, "stage 1 Im[1]");
    const std::vector<double>& stage2 = spectra->stage2[0];
    ASSERT_EQ(stage2.size(), 512U);
    expectRelative(stage2[0], 0.1251779318445009, "stage 2 Re[0]");
    expectRelative(stage2[1], 0.1237151762680318, "stage 2 Re[1]");
    expectRelative(stage2[256 + 1], -0.01907740039569882, "stage 2 Im[1]");
    expectRelative(spectra->narrow[0], 0.0006991782190352777, "narrow Re[0]");
    expectRelative(spectra->narrow[512 + 1], -0.000217331814560432, "narrow Im[1]");
    expectRelative(spectra->wide[0], 0.0008687300432883294, "wide Re[0]");
    expectRelative(spectra->wide[512 + 1], -0.0002403220587082313, "wide Im[1]");
}

// Bin k of a 256-point table and bin 8k of a 2048-point table sample the same frequency
// of the same taps.
TEST_F(StoredSpectraTest, BothDecimatorStagesOfABranchDescribeTheSameTaps) {
    for (int p = 0; p < 8; ++p) {
        const std::vector<double>& coarse = spectra->stage2[static_cast<std::size_t>(p)];
        const std::vector<double>& fine = spectra->stage1[static_cast<std::size_t>(p)];
        for (int k = 0; k < 256; ++k) {
            EXPECT_NEAR(coarse[k], fine[8 * k], 1e-14) << p << " Re " << k;
            EXPECT_NEAR(coarse[256 + k], fine[2048 + 8 * k], 1e-14) << p << " Im " << k;
        }
    }
}

// The inverse DFT of each table is real, lies within the filter's length and is
// symmetric about its centre (a linear-phase filter).
void expectRealSymmetricImpulse(const std::vector<double>& spectrum, int taps, int centreShift) {
    const int n = static_cast<int>(spectrum.size() / 2);
    std::vector<double> impulse(static_cast<std::size_t>(n));
    for (int t = 0; t < n; ++t) {
        long double re = 0.0L, im = 0.0L;
        for (int k = 0; k < n; ++k) {
            const long double angle = 2.0L * 3.14159265358979323846264L * k * t / n;
            re += spectrum[k] * cosl(angle) - spectrum[n + k] * sinl(angle);
            im += spectrum[k] * sinl(angle) + spectrum[n + k] * cosl(angle);
        }
        impulse[static_cast<std::size_t>(t)] = static_cast<double>(re / n);
        EXPECT_NEAR(static_cast<double>(im / n), 0.0, 1e-15) << t;
    }
    for (int t = taps + centreShift; t < n; ++t) EXPECT_NEAR(impulse[t], 0.0, 1e-15) << t;
    const int last = taps - 1 + centreShift;
    for (int t = centreShift; t <= last; ++t) {
        EXPECT_NEAR(impulse[t], impulse[last + centreShift - t], 1e-15) << t;
    }
}

TEST_F(StoredSpectraTest, ModulationFiltersAreRealSymmetricImpulsesOf201Taps) {
    expectRealSymmetricImpulse(spectra->narrow, 201, 0);
    expectRealSymmetricImpulse(spectra->wide, 201, 0);
}

TEST_F(StoredSpectraTest, TheCentreBranchIsOnePureDelay) {
    // Branch 6 of the prototype is its centre tap alone, seven samples late.
    const std::vector<double>& branch6 = spectra->stage2[6];
    for (int k = 0; k < 256; ++k) {
        const double magnitude = std::hypot(branch6[k], branch6[256 + k]);
        EXPECT_NEAR(magnitude, 0.125153271, 1e-9) << k;
    }
}

}  // namespace
}  // namespace bm7::detector
