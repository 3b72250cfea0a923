#include "blocks/fft_kernel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "blocks/naive_dft.h"

namespace bm7 {
namespace {

using blocktest::randomFrame;

// The transform evaluated the plain way: cos and sin computed per group, groups visited
// in order, each group's butterflies strided across the array.
void perGroupFft(double* re, double* im, int n) {
    int exponent = 0;
    std::frexp(static_cast<double>(n), &exponent);
    int span = n;
    for (int stage = 0; stage < exponent - 1; ++stage, span /= 2) {
        const int half = span / 2;
        const double angleStep = 6.283185307179586 / span;
        for (int g = 0; g < half; ++g) {
            const double a = g * angleStep;
            const double c = std::cos(a);
            const double s = std::sin(a);
            for (int p = g; p < n; p += span) {
                const int q = p + half;
                const double dr = re[p] - re[q];
                const double di = im[p] - im[q];
                re[p] = re[p] + re[q];
                im[p] = im[p] + im[q];
                re[q] = dr * c + di * s;
                im[q] = di * c - dr * s;
            }
        }
    }
    int j = 1;
    for (int i = 1; i < n; ++i) {
        if (i < j) {
            std::swap(re[i - 1], re[j - 1]);
            std::swap(im[i - 1], im[j - 1]);
        }
        int k = n / 2;
        while (k < j) {
            j -= k;
            k /= 2;
        }
        j += k;
    }
}

void expectSameBits(std::vector<double> re, std::vector<double> im) {
    const int n = static_cast<int>(re.size());
    std::vector<double> wantRe = re, wantIm = im;
    perGroupFft(wantRe.data(), wantIm.data(), n);
    complexFft(re.data(), im.data(), n);
    EXPECT_EQ(std::memcmp(re.data(), wantRe.data(), re.size() * sizeof(double)), 0) << n;
    EXPECT_EQ(std::memcmp(im.data(), wantIm.data(), im.size() * sizeof(double)), 0) << n;
}

std::vector<double> filled(int n, double value) {
    return std::vector<double>(n, value);
}

TEST(ComplexFftBits, RandomFramesOfEverySizeMatchPerGroupEvaluationExactly) {
    for (int n = 1; n <= 8192; n *= 2)
        expectSameBits(randomFrame(n, 11u + n), randomFrame(n, 23u + n));
}

TEST(ComplexFftBits, ImpulsesConstantsAndAlternatingSignsMatchExactly) {
    for (int n : {64, 128, 512, 1024, 4096, 8192}) {
        std::vector<double> impulse = filled(n, 0.0);
        impulse[0] = 1.0;
        std::vector<double> late = filled(n, 0.0);
        late[n - 3] = -2.5;
        std::vector<double> alternating(n);
        for (int t = 0; t < n; ++t) alternating[t] = t % 2 ? -1.0 : 1.0;
        expectSameBits(impulse, filled(n, 0.0));
        expectSameBits(filled(n, 0.0), late);
        expectSameBits(filled(n, 1.0), filled(n, -0.0));
        expectSameBits(alternating, alternating);
    }
}

TEST(ComplexFftAccuracy, RandomFramesAgreeWithADirectSum) {
    for (int n : {1, 2, 8, 64, 1024}) {
        std::vector<double> re = randomFrame(n, 5u), im = randomFrame(n, 7u);
        const blocktest::LongSpectrum want = blocktest::naiveDft(re, im, -1);
        complexFft(re.data(), im.data(), n);
        EXPECT_LE(blocktest::relativeError(re.data(), im.data(), want), 1e-14) << n;
    }
}

TEST(ComplexFftSizes, OnlyPowersOfTwoAreAccepted) {
    EXPECT_TRUE(isFftSize(1));
    EXPECT_TRUE(isFftSize(8192));
    EXPECT_TRUE(isFftSize(1 << 30));
    EXPECT_FALSE(isFftSize(0));
    EXPECT_FALSE(isFftSize(-4));
    EXPECT_FALSE(isFftSize(6));
    EXPECT_FALSE(isFftSize(1LL << 31));
}

}  // namespace
}  // namespace bm7
