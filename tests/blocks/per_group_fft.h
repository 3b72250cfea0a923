// The complex FFT evaluated the plain way, for comparison with the table-driven kernel:
// cos and sin computed per group, groups visited in order, each group's butterflies
// strided across the array, then Gold-Rader bit reversal.
#pragma once

#include <cmath>
#include <utility>

namespace bm7::blocktest {

inline void perGroupFft(double* re, double* im, int n) {
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

}  // namespace bm7::blocktest
