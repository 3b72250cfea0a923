#include "report/spectrogram.h"

#include <algorithm>
#include <cmath>

#include "blocks/fft_kernel.h"
#include "report/media_file.h"

namespace bm7::report {

namespace {

constexpr double kBinHz = kSpectrogramSampleRate / kSpectrogramWindow;
// A full-scale sine reads 0 dBFS: the periodic Hann window's gain is half its length,
// and half the sine's energy lands in each of the two mirrored bins.
constexpr double kFullScaleMagnitude = kSpectrogramWindow / 4.0;
constexpr int kDashLength = 4;
constexpr std::size_t kLevels = 254;
constexpr std::uint8_t kDetectionMarkIndex = 254;
constexpr std::uint8_t kBandMarkIndex = 255;

// Dark to bright through purple, red and orange: perceptually ordered, and far from the
// pure green and cyan of the marks.
constexpr std::array<Rgb, 5> kPaletteAnchors{
    {{0, 0, 4}, {87, 16, 110}, {188, 55, 84}, {249, 142, 9}, {252, 255, 164}}};

Rgb paletteColour(double position) {
    const double scaled = position * (kPaletteAnchors.size() - 1);
    const std::size_t lower =
        std::min<std::size_t>(static_cast<std::size_t>(scaled), kPaletteAnchors.size() - 2);
    const double fraction = scaled - static_cast<double>(lower);
    const auto mix = [fraction](std::uint8_t a, std::uint8_t b) {
        return static_cast<std::uint8_t>(std::lround(a + (b - a) * fraction));
    };
    const Rgb& a = kPaletteAnchors[lower];
    const Rgb& b = kPaletteAnchors[lower + 1];
    return {mix(a.red, b.red), mix(a.green, b.green), mix(a.blue, b.blue)};
}

bool isDash(int position) {
    return position % (2 * kDashLength) < kDashLength;
}

}  // namespace

int spectrogramRow(double hz) {
    const long bin = std::lround(hz / kBinHz);
    return kSpectrogramRows - 1 - static_cast<int>(std::clamp<long>(bin, 0, kSpectrogramRows - 1));
}

int spectrogramWidth(std::size_t sampleCount) {
    if (sampleCount <= static_cast<std::size_t>(kSpectrogramWindow)) return 1;
    return 1 + static_cast<int>((sampleCount - kSpectrogramWindow) / kSpectrogramHop);
}

int spectrogramColumn(std::size_t position, int width) {
    // Column j is centred on sample j * hop + window / 2.
    const double column =
        (static_cast<double>(position) - kSpectrogramWindow / 2.0) / kSpectrogramHop;
    return static_cast<int>(std::clamp<double>(std::round(column), 0.0, width - 1.0));
}

SpectrogramRenderer::SpectrogramRenderer() {
    const double pi = std::acos(-1.0);
    for (int n = 0; n < kSpectrogramWindow; ++n)
        window_[static_cast<std::size_t>(n)] =
            0.5 - 0.5 * std::cos(2.0 * pi * n / kSpectrogramWindow);
    for (std::size_t level = 0; level < kLevels; ++level)
        palette_[level] = paletteColour(static_cast<double>(level) / (kLevels - 1));
    palette_[kDetectionMarkIndex] = kDetectionMark;
    palette_[kBandMarkIndex] = kBandMark;
    prepareComplexFft(kSpectrogramWindow);
}

bool SpectrogramRenderer::render(const double* samples, std::size_t count, std::size_t begin,
                                 std::size_t end, const std::string& pngPath,
                                 std::string& problem) {
    width_ = spectrogramWidth(count);
    pixels_.resize(static_cast<std::size_t>(width_) * kSpectrogramRows);
    for (int column = 0; column < width_; ++column) drawColumn(samples, count, column);
    markBand();
    markDetection(begin, end);
    if (!encoder_.encode(pixels_.data(), width_, kSpectrogramRows, palette_.data(), problem))
        return false;
    const auto& bytes = encoder_.bytes();
    return writeMediaFile(pngPath, {reinterpret_cast<const char*>(bytes.data()), bytes.size()},
                          problem);
}

void SpectrogramRenderer::drawColumn(const double* samples, std::size_t count, int column) {
    const std::size_t first = static_cast<std::size_t>(column) * kSpectrogramHop;
    for (std::size_t n = 0; n < re_.size(); ++n) {
        // A recording shorter than one window is padded with silence.
        re_[n] = first + n < count ? samples[first + n] * window_[n] : 0.0;
        im_[n] = 0.0;
    }
    complexFft(re_.data(), im_.data(), kSpectrogramWindow);
    const double range = kCeilingDbfs - kFloorDbfs;
    for (int bin = 0; bin < kSpectrogramRows; ++bin) {
        const std::size_t k = static_cast<std::size_t>(bin);
        const double power =
            (re_[k] * re_[k] + im_[k] * im_[k]) / (kFullScaleMagnitude * kFullScaleMagnitude);
        const double dbfs = 10.0 * std::log10(power + 1e-30);
        const double position = std::clamp((dbfs - kFloorDbfs) / range, 0.0, 1.0);
        setPixel(column, kSpectrogramRows - 1 - bin,
                 static_cast<std::uint8_t>(std::lround(position * (kLevels - 1))));
    }
}

void SpectrogramRenderer::markBand() {
    for (const double hz : {kBandLowHz, kBandHighHz}) {
        const int row = spectrogramRow(hz);
        for (int column = 0; column < width_; ++column)
            if (isDash(column)) setPixel(column, row, kBandMarkIndex);
    }
}

void SpectrogramRenderer::markDetection(std::size_t begin, std::size_t end) {
    for (const std::size_t position : {begin, end}) {
        const int column = spectrogramColumn(position, width_);
        for (int row = 0; row < kSpectrogramRows; ++row)
            if (isDash(row)) setPixel(column, row, kDetectionMarkIndex);
    }
}

void SpectrogramRenderer::setPixel(int column, int row, std::uint8_t index) {
    pixels_[static_cast<std::size_t>(row) * width_ + column] = index;
}

Rgb SpectrogramRenderer::pixel(int column, int row) const {
    return palette_[pixels_[static_cast<std::size_t>(row) * width_ + column]];
}

}  // namespace bm7::report
