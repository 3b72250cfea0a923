// Draws a detection's spectrogram as a PNG: 0 to 11025 Hz from bottom to top, one
// column per Hann window of 512 samples advanced by 128 (75 % overlap), coloured on a
// fixed -100 to -20 dBFS scale so that images compare; the detector band and the
// detection's begin and end are marked with dashed lines. One renderer per thread: it
// owns its buffers and reuses them, so only an image larger than any before allocates.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "report/png_encoder.h"

namespace bm7::report {

inline constexpr double kSpectrogramSampleRate = 22050.0;
inline constexpr int kSpectrogramWindow = 512;
inline constexpr int kSpectrogramHop = 128;
inline constexpr int kSpectrogramRows = kSpectrogramWindow / 2 + 1;
inline constexpr double kBandLowHz = 4006.5;
inline constexpr double kBandHighHz = 5489.6;
inline constexpr double kFloorDbfs = -100.0;
inline constexpr double kCeilingDbfs = -20.0;
// The audio shown on each side of a detection, where the recording has it.
inline constexpr double kMarginSeconds = 0.5;

inline constexpr Rgb kDetectionMark{0, 255, 0};
inline constexpr Rgb kBandMark{0, 255, 255};

// Image row of frequency `hz` and column of sample `position`, as the renderer draws them.
int spectrogramRow(double hz);
int spectrogramColumn(std::size_t position, int width);
int spectrogramWidth(std::size_t sampleCount);

class SpectrogramRenderer {
public:
    SpectrogramRenderer();

    // `samples` (scaled to +-1, at 22050 Hz) hold the detection, samples begin ... end - 1,
    // with whatever margin the recording gives around it. Writes the PNG whole to
    // `pngPath` or, on failure, nothing, and says why in `problem`.
    bool render(const double* samples, std::size_t count, std::size_t begin, std::size_t end,
                const std::string& pngPath, std::string& problem);

    // The colour of a pixel of the last image, row 0 at the top.
    Rgb pixel(int column, int row) const;
    int width() const { return width_; }

private:
    void drawColumn(const double* samples, std::size_t count, int column);
    void markDetection(std::size_t begin, std::size_t end);
    void markBand();
    void setPixel(int column, int row, std::uint8_t index);

    std::array<double, kSpectrogramWindow> window_;
    std::array<double, kSpectrogramWindow> re_;
    std::array<double, kSpectrogramWindow> im_;
    // The colour scale's levels, then the two marks' colours.
    std::array<Rgb, 256> palette_;
    std::vector<std::uint8_t> pixels_;  // indices into palette_
    int width_ = 0;
    PngEncoder encoder_;
};

}  // namespace bm7::report
