#include "model/filter_design.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace bm7 {
namespace {

constexpr double pi = std::numbers::pi;

constexpr double audioRate = 22050.0;
constexpr double modulationRate = 344.53125;  // audioRate / 64, after both decimators

constexpr int halfBandTaps = bandFilterTapCount / 2;
using NormalMatrix = std::array<std::array<double, halfBandTaps>, halfBandTaps>;
using HalfTaps = std::array<double, halfBandTaps>;

struct Band {
    double lowHz;
    double highHz;
    double desiredGain;
};
constexpr std::array<Band, 3> bandFilterBands = {{
    {0.0, 3900.0, 0.0},
    {4000.0, 5500.0, 1.0},
    {5600.0, 11025.0, 0.0},
}};

double radiansPerSample(double hz) {
    return 2.0 * pi * hz / audioRate;
}

// Integral of cos(m w) over [low, high]; m may be zero.
double cosineIntegral(double m, double low, double high) {
    if (m == 0.0) return high - low;
    return (std::sin(m * high) - std::sin(m * low)) / m;
}

// Normal equations of min sum over bands of integral (sum_k b_k cos((k + 1/2) w) - D)^2 dw.
// The product cos((j + 1/2) w) cos((k + 1/2) w) splits into cos((j - k) w) and
// cos((j + k + 1) w), so every entry is a sum of closed-form sine differences.
void normalEquations(NormalMatrix& gram, HalfTaps& rightSide) {
    for (auto& row : gram) row.fill(0.0);
    rightSide.fill(0.0);
    for (const Band& band : bandFilterBands) {
        const double low = radiansPerSample(band.lowHz);
        const double high = radiansPerSample(band.highHz);
        for (int j = 0; j < halfBandTaps; ++j) {
            for (int k = 0; k < halfBandTaps; ++k) {
                gram[j][k] +=
                    0.5 * (cosineIntegral(j - k, low, high) + cosineIntegral(j + k + 1, low, high));
            }
            rightSide[j] += band.desiredGain * cosineIntegral(j + 0.5, low, high);
        }
    }
}

// Solves gram * x = rightSide in place by Cholesky factorisation (gram = L L^T, L kept
// in the lower triangle); the Gram matrix of independent cosines is positive definite.
void choleskySolve(NormalMatrix& gram, HalfTaps& rightSide) {
    for (int j = 0; j < halfBandTaps; ++j) {
        double diagonal = gram[j][j];
        for (int k = 0; k < j; ++k) diagonal -= gram[j][k] * gram[j][k];
        gram[j][j] = std::sqrt(diagonal);
        for (int i = j + 1; i < halfBandTaps; ++i) {
            double entry = gram[i][j];
            for (int k = 0; k < j; ++k) entry -= gram[i][k] * gram[j][k];
            gram[i][j] = entry / gram[j][j];
        }
    }
    for (int i = 0; i < halfBandTaps; ++i) {
        double value = rightSide[i];
        for (int k = 0; k < i; ++k) value -= gram[i][k] * rightSide[k];
        rightSide[i] = value / gram[i][i];
    }
    for (int i = halfBandTaps - 1; i >= 0; --i) {
        double value = rightSide[i];
        for (int k = i + 1; k < halfBandTaps; ++k) value -= gram[k][i] * rightSide[k];
        rightSide[i] = value / gram[i][i];
    }
}

}  // namespace

DecimationTaps decimationPrototype() {
    constexpr int centre = decimationTapCount / 2;
    const int windowSpan = decimationTapCount - 1;
    DecimationTaps taps{};
    for (int n = 0; n < decimationTapCount; ++n) {
        const double x = (n - centre) / double(decimationFactor);
        const double sinc = n == centre ? 1.0 : std::sin(pi * x) / (pi * x);
        const double window = 0.54 - 0.46 * std::cos(2.0 * pi * n / windowSpan);
        taps[n] = sinc / decimationFactor * window;
    }
    double sum = 0.0;
    for (double tap : taps) sum += tap;
    for (double& tap : taps) tap /= sum;
    // The sinc's zero crossings come out of sin() as rounding residue; an eighth-band
    // filter has them exactly, which makes branch 6 a pure delay.
    for (int offset = decimationFactor; offset <= centre; offset += decimationFactor) {
        taps[centre - offset] = 0.0;
        taps[centre + offset] = 0.0;
    }
    return taps;
}

PolyphaseBranches polyphaseBranches(const DecimationTaps& prototype) {
    PolyphaseBranches branches{};
    for (int phase = 0; phase < decimationFactor; ++phase) {
        for (int q = 0; q < branchTapCount; ++q) {
            const int index = decimationFactor * q - phase;
            if (index >= 0 && index < decimationTapCount) branches[phase][q] = prototype[index];
        }
    }
    return branches;
}

BandFilterTaps bandFilterTaps() {
    NormalMatrix gram;
    HalfTaps amplitudes;
    normalEquations(gram, amplitudes);
    choleskySolve(gram, amplitudes);
    // A(w) = sum b_k cos((k + 1/2) w) is the amplitude of the even 100-tap filter whose
    // taps either side of the centre are b_k / 2.
    BandFilterTaps taps{};
    for (int k = 0; k < halfBandTaps; ++k) {
        taps[halfBandTaps - 1 - k] = amplitudes[k] / 2.0;
        taps[halfBandTaps + k] = amplitudes[k] / 2.0;
    }
    return taps;
}

ModulationTaps modulationBandPass(double lowEdgeHz, double highEdgeHz, double centreHz) {
    constexpr int centre = modulationTapCount / 2;
    const int windowSpan = modulationTapCount - 1;
    ModulationTaps taps{};
    for (int n = 0; n < modulationTapCount; ++n) {
        const int m = n - centre;
        const double ideal = m == 0 ? 2.0 * (highEdgeHz - lowEdgeHz) / modulationRate
                                    : (std::sin(2.0 * pi * highEdgeHz * m / modulationRate) -
                                       std::sin(2.0 * pi * lowEdgeHz * m / modulationRate)) /
                                          (pi * m);
        taps[n] = ideal * (0.54 - 0.46 * std::cos(2.0 * pi * n / windowSpan));
    }
    double centreGain = 0.0;
    for (int n = 0; n < modulationTapCount; ++n) {
        centreGain += taps[n] * std::cos(2.0 * pi * centreHz * (n - centre) / modulationRate);
    }
    for (double& tap : taps) tap /= centreGain;
    return taps;
}

ModulationTaps narrowModulationTaps() {
    return modulationBandPass(55.0, 80.0, 67.5);
}

ModulationTaps wideModulationTaps() {
    return modulationBandPass(20.0, 105.0, 62.5);
}

bool storedSpectrum(const double* taps, std::size_t tapCount, std::size_t length, double* padded,
                    double* spectrum, const RealTransform& transform) {
    if (tapCount > length) return false;
    std::copy(taps, taps + tapCount, padded);
    std::fill(padded + tapCount, padded + length, 0.0);
    transform(padded, length, spectrum);
    return true;
}

}  // namespace bm7
