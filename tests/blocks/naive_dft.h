// Reference transforms for the tests: direct sums in long double, and the largest
// difference between two signals, relative to the largest magnitude of the reference.
#pragma once

#include <cmath>
#include <random>
#include <vector>

namespace bm7::blocktest {

struct LongSpectrum {
    std::vector<long double> re;
    std::vector<long double> im;
};

// sum over t of (re[t] + i im[t]) * exp(sign * 2 pi i k t / N), for every k that is a
// multiple of binStep (the others stay 0); a sparse set of bins keeps large sizes quick.
inline LongSpectrum naiveDft(const std::vector<double>& re, const std::vector<double>& im, int sign,
                             std::size_t binStep = 1) {
    const std::size_t n = re.size();
    std::vector<long double> cosines(n), sines(n);
    const long double step = 2.0L * 3.14159265358979323846264338327950288L / n;
    for (std::size_t t = 0; t < n; ++t) {
        cosines[t] = std::cos(step * t);
        sines[t] = sign * std::sin(step * t);
    }
    LongSpectrum out{std::vector<long double>(n), std::vector<long double>(n)};
    for (std::size_t k = 0; k < n; k += binStep) {
        long double sumRe = 0.0L, sumIm = 0.0L;
        std::size_t index = 0;
        for (std::size_t t = 0; t < n; ++t) {
            sumRe += re[t] * cosines[index] - im[t] * sines[index];
            sumIm += re[t] * sines[index] + im[t] * cosines[index];
            index += k;
            if (index >= n) index -= n;
        }
        out.re[k] = sumRe;
        out.im[k] = sumIm;
    }
    return out;
}

// Largest |got - want| over both parts, divided by the largest |want|, over the bins that
// are multiples of binStep.
inline double relativeError(const double* gotRe, const double* gotIm, const LongSpectrum& want,
                            std::size_t binStep = 1) {
    long double largest = 0.0L, worst = 0.0L;
    for (std::size_t k = 0; k < want.re.size(); k += binStep) {
        largest = std::max(largest, std::hypot(want.re[k], want.im[k]));
        worst = std::max(worst, std::fabs(gotRe[k] - want.re[k]));
        if (gotIm) worst = std::max(worst, std::fabs(gotIm[k] - want.im[k]));
    }
    return static_cast<double>(worst / largest);
}

inline std::vector<double> randomFrame(std::size_t length, unsigned seed) {
    std::mt19937_64 generator(seed);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    std::vector<double> frame(length);
    for (double& sample : frame) sample = uniform(generator);
    return frame;
}

}  // namespace bm7::blocktest
