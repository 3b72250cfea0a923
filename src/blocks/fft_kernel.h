// The complex FFT kernel shared by Real FFT and Real IFFT: an in-place, unscaled, forward
// radix-2 decimation-in-frequency transform of split real and imaginary arrays, in
// natural order. Its results are bit for bit those of evaluating cos and sin per group.
#pragma once

namespace bm7 {

// True for 1, 2, 4, ... up to the largest size the kernel accepts (2^30).
bool isFftSize(long long pointCount);

// Builds the table for pointCount points (isFftSize) if no call has built it yet. Tables are
// immutable once built and shared by every thread; building one allocates, so callers
// that must not allocate during a step prepare their sizes beforehand.
void prepareComplexFft(int pointCount);

// Replaces re + i*im (pointCount points) by its forward DFT, X[k] = sum over t of
// x[t] * exp(-2*pi*i*k*t/pointCount), without scaling. Leaves the arrays as they are
// unless isFftSize(pointCount).
void complexFft(double* re, double* im, int pointCount);

}  // namespace bm7
