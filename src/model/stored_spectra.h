// The filter spectra the detector multiplies by: each the unscaled DFT of a real FIR
// impulse response zero-padded to the transform length, in the split layout (N real
// parts, then N imaginary parts). Computed once per model from the filter designs.
#pragma once

#include <array>
#include <vector>

namespace bm7::detector {

struct StoredSpectra {
    std::vector<double> band;                   // 16384 bins
    std::array<std::vector<double>, 8> stage1;  // 2048 bins per decimator branch
    std::array<std::vector<double>, 8> stage2;  // 256 bins per decimator branch
    std::vector<double> narrow;                 // 512 bins
    std::vector<double> wide;                   // 512 bins
};

StoredSpectra buildStoredSpectra();

}  // namespace bm7::detector
