#include "model/stored_spectra.h"

#include <cstddef>

#include "blocks/real_fft.h"
#include "driver/block.h"
#include "model/filter_design.h"

namespace bm7::detector {

namespace {

// Runs the model's own Real FFT block on one frame, so the stored spectra carry exactly
// the arithmetic of the transforms they meet in the step.
void realFft(const double* samples, std::size_t length, double* splitSpectrum) {
    std::vector<const double*> pointers(length);
    for (std::size_t i = 0; i < length; ++i) pointers[i] = samples + i;
    SimInfo info;
    info.timingReady = 1;
    double period = 0.0, offset = 0.0;
    const double parameter[] = {1, 1, -1};
    const ParamValue params[] = {{parameter}};
    BlockRecord block;
    block.errorRecord = &block;
    block.simInfo = &info;
    block.samplePeriods = &period;
    block.sampleOffsets = &offset;
    block.params = params;
    block.paramCount = 1;
    registerRealFft(&block);
    block.methods.initializeSizes(&block);
    block.inputCount = static_cast<int>(length);
    block.outputCount = static_cast<int>(2 * length);
    block.inputPointers = pointers.data();
    block.outputVector = splitSpectrum;
    callInitializeConditions(block);
    callOutputs(block, 0);
}

std::vector<double> spectrumOf(const double* taps, std::size_t tapCount, std::size_t length) {
    std::vector<double> padded(length);
    std::vector<double> spectrum(2 * length);
    storedSpectrum(taps, tapCount, length, padded.data(), spectrum.data(), realFft);
    return spectrum;
}

}  // namespace

StoredSpectra buildStoredSpectra() {
    StoredSpectra spectra;
    const BandFilterTaps band = bandFilterTaps();
    spectra.band = spectrumOf(band.data(), band.size(), 16384);
    const PolyphaseBranches branches = polyphaseBranches(decimationPrototype());
    for (std::size_t p = 0; p < branches.size(); ++p) {
        spectra.stage1[p] = spectrumOf(branches[p].data(), branches[p].size(), 2048);
        spectra.stage2[p] = spectrumOf(branches[p].data(), branches[p].size(), 256);
    }
    const ModulationTaps narrow = narrowModulationTaps();
    const ModulationTaps wide = wideModulationTaps();
    spectra.narrow = spectrumOf(narrow.data(), narrow.size(), 512);
    spectra.wide = spectrumOf(wide.data(), wide.size(), 512);
    return spectra;
}

}  // namespace bm7::detector
