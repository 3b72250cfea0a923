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

// The instruction sets the kernel's passes are built for. complexFft uses the widest the
// processor has; each gives exactly the same bits.
enum class InstructionSet { kBaseline, kAvx2, kAvx512 };
bool processorHas(InstructionSet set);

// Replaces re + i*im (pointCount points) by its forward DFT, X[k] = sum over t of
// x[t] * exp(-2*pi*i*k*t/pointCount), without scaling. Leaves the arrays as they are
// unless isFftSize(pointCount).
void complexFft(double* re, double* im, int pointCount);

// complexFft with the passes built for `set`, so that tests can hold each build to the
// same bits; does nothing if the processor lacks the set.
void complexFftUsing(InstructionSet set, double* re, double* im, int pointCount);

// The twiddles the real transforms' split steps use: starting from (1, 0), each is the
// previous one rotated by theta = atan(1) * (forward ? -8 : 8) / frameLength through
// (c, s) <- (c cos theta - s sin theta, s cos theta + c sin theta). Entry k holds the
// twiddle after k rotations, for k below frameLength / 2, so a loop reads exactly the
// values the rotation would give without waiting on the previous one.
struct RotationTable {
    const double* cosines;
    const double* sines;
};

// Builds the table for frameLength (isFftSize, at least 2) if no call has built it yet;
// like prepareComplexFft, it allocates only then.
void prepareRotations(int frameLength, bool forward);
RotationTable rotations(int frameLength, bool forward);

}  // namespace bm7
