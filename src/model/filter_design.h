// The detector's FIR designs, computed from their definitions when the model starts:
// the eighth-band decimation prototype and its eight polyphase branches, the 4.0-5.5 kHz
// least-squares band filter, and the narrow and wide modulation band-passes. Each design
// is a pure function of its constants, so every model instance computes the same taps;
// storedSpectrum turns taps into the split-layout spectrum the model multiplies by.
#pragma once

#include <array>
#include <cstddef>
#include <functional>

namespace bm7 {

inline constexpr int decimationFactor = 8;
inline constexpr int decimationTapCount = 101;
// Branch p holds g[8q - p] for q = 0 ... 13; the longest branches (p = 4 ... 7) need all 14.
inline constexpr int branchTapCount = 14;
inline constexpr int bandFilterTapCount = 100;
inline constexpr int modulationTapCount = 201;

using DecimationTaps = std::array<double, decimationTapCount>;
using BranchTaps = std::array<double, branchTapCount>;
using PolyphaseBranches = std::array<BranchTaps, decimationFactor>;
using BandFilterTaps = std::array<double, bandFilterTapCount>;
using ModulationTaps = std::array<double, modulationTapCount>;

// Hamming-windowed sinc low-pass for decimation by 8 at 22050 Hz, normalised to unit sum,
// with the taps at 50 +- 8k (k = 1 ... 6) set to exactly zero.
DecimationTaps decimationPrototype();

// branch[p][q] = prototype[8q - p] where 0 <= 8q - p <= 100, and 0.0 elsewhere.
PolyphaseBranches polyphaseBranches(const DecimationTaps& prototype);

// Linear-phase least-squares band-pass at 22050 Hz: gain 1 on 4000-5500 Hz, 0 on
// 0-3900 Hz and 5600-11025 Hz, transitions unweighted.
BandFilterTaps bandFilterTaps();

// Hamming-windowed ideal band-pass between the two edges at 22050/64 Hz, scaled to gain 1
// at `centreHz`.
ModulationTaps modulationBandPass(double lowEdgeHz, double highEdgeHz, double centreHz);
ModulationTaps narrowModulationTaps();
ModulationTaps wideModulationTaps();

// A forward real transform of `length` samples into `2 * length` doubles in the split
// layout (all real parts, then all imaginary parts), unscaled, kernel e^(-2 pi i k t / N).
using RealTransform =
    std::function<void(const double* samples, std::size_t length, double* splitSpectrum)>;

// Zero-pads `tapCount` taps to `length` samples in `padded` (length doubles, scratch)
// and writes their transform to `spectrum` (2 * length doubles). Returns false, leaving
// `spectrum` untouched, when the taps do not fit in `length`.
bool storedSpectrum(const double* taps, std::size_t tapCount, std::size_t length, double* padded,
                    double* spectrum, const RealTransform& transform);

}  // namespace bm7
