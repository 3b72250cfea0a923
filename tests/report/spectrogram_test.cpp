// The spectrogram: where a tone's energy lands, where the marks sit, the fixed colour
// scale, and that the file on disk decodes to the image drawn.
#include "report/spectrogram.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>
#include <vector>

#include "support/scratch_directory.h"

namespace bm7::report {
namespace {

using bm7::testing::ScratchDirectory;

std::vector<double> tone(double hz, double amplitude, std::size_t count, unsigned seed = 1) {
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, 1e-4);
    std::vector<double> samples(count);
    for (std::size_t n = 0; n < count; ++n)
        samples[n] =
            amplitude * std::sin(2 * M_PI * hz * static_cast<double>(n) / kSpectrogramSampleRate) +
            noise(random);
    return samples;
}

Rgb pixel(const SpectrogramRenderer& renderer, int column, int row) {
    return renderer.pixel(column, row);
}

int brightness(Rgb colour) {
    return colour.red + colour.green + colour.blue;
}

bool isMark(Rgb colour) {
    return colour == kDetectionMark || colour == kBandMark;
}

// The brightest row of a column, marks aside.
int brightestRow(const SpectrogramRenderer& renderer, int column) {
    int best = 0;
    for (int row = 1; row < kSpectrogramRows; ++row) {
        const Rgb colour = pixel(renderer, column, row);
        if (!isMark(colour) && brightness(colour) > brightness(pixel(renderer, column, best)))
            best = row;
    }
    return best;
}

std::vector<int> columnsMarkedInRow(const SpectrogramRenderer& renderer, int row) {
    std::vector<int> columns;
    for (int column = 0; column < renderer.width(); ++column)
        if (pixel(renderer, column, row) == kDetectionMark) columns.push_back(column);
    return columns;
}

class Rendered : public ::testing::Test {
protected:
    bool render(const std::vector<double>& samples, std::size_t begin, std::size_t end) {
        return renderer.render(samples.data(), samples.size(), begin, end, path, problem);
    }
    ScratchDirectory scratch;
    std::string path = scratch / "detection.png";
    std::string problem;
    SpectrogramRenderer renderer;
};

TEST_F(Rendered, AToneOf4500HzIsBrightestInTheRowOf4500Hz) {
    ASSERT_TRUE(render(tone(4500.0, 0.1, 22050), 0, 22050)) << problem;
    EXPECT_EQ(spectrogramRow(4500.0), kSpectrogramRows - 1 - 104);
    for (const int column : {5, renderer.width() / 2, renderer.width() - 6})
        EXPECT_NEAR(brightestRow(renderer, column), spectrogramRow(4500.0), 1)
            << "column " << column;
}

TEST_F(Rendered, HigherTonesAreDrawnHigherUp) {
    ASSERT_TRUE(render(tone(1000.0, 0.1, 8192), 0, 8192)) << problem;
    const int lowRow = brightestRow(renderer, 10);
    ASSERT_TRUE(render(tone(9000.0, 0.1, 8192), 0, 8192)) << problem;
    EXPECT_LT(brightestRow(renderer, 10), lowRow);
    EXPECT_NEAR(brightestRow(renderer, 10), spectrogramRow(9000.0), 1);
}

TEST_F(Rendered, TheMarksSitAtTheDetectionsBeginAndEnd) {
    const std::size_t margin = 11025;
    const std::size_t begin = margin, end = margin + 30000;
    ASSERT_TRUE(render(tone(4500.0, 0.1, end + margin), begin, end)) << problem;
    const std::vector<int> marked = columnsMarkedInRow(renderer, 0);
    ASSERT_EQ(marked.size(), 2u);
    // A column is centred on sample column * hop + window / 2.
    for (int i = 0; i < 2; ++i) {
        const double centre = marked[std::size_t(i)] * kSpectrogramHop + kSpectrogramWindow / 2.0;
        EXPECT_NEAR(centre, static_cast<double>(i == 0 ? begin : end), kSpectrogramHop / 2.0);
    }
    EXPECT_NE(pixel(renderer, marked[0], 4), kDetectionMark)
        << "marks are dashed, to show what they cross";
}

TEST_F(Rendered, TheDetectorBandIsMarkedAtItsEdges) {
    ASSERT_TRUE(render(std::vector<double>(8192, 0.0), 0, 8192)) << problem;
    for (int row = 0; row < kSpectrogramRows; ++row) {
        const bool bandEdge =
            row == spectrogramRow(kBandLowHz) || row == spectrogramRow(kBandHighHz);
        EXPECT_EQ(pixel(renderer, 8, row) == kBandMark, bandEdge) << "row " << row;
    }
    EXPECT_EQ(spectrogramRow(kBandLowHz), kSpectrogramRows - 1 - 93);
    EXPECT_EQ(spectrogramRow(kBandHighHz), kSpectrogramRows - 1 - 127);
}

TEST_F(Rendered, TheColourScaleIsFixedFromFloorToCeiling) {
    ASSERT_TRUE(render(std::vector<double>(8192, 0.0), 0, 8192)) << problem;
    const Rgb floor = pixel(renderer, 8, 10);
    ASSERT_TRUE(render(tone(1000.0, 1.0, 8192), 0, 8192)) << problem;
    const Rgb ceiling = pixel(renderer, 8, spectrogramRow(1000.0));
    ASSERT_TRUE(render(tone(1000.0, 0.2, 8192), 0, 8192)) << problem;
    // -20 dBFS is the top of the scale: a fifth of full scale already reaches it.
    EXPECT_EQ(pixel(renderer, 8, spectrogramRow(1000.0)), ceiling);
    ASSERT_TRUE(render(tone(1000.0, 0.001, 8192), 0, 8192)) << problem;
    const Rgb middle = pixel(renderer, 8, spectrogramRow(1000.0));  // -60 dBFS
    EXPECT_GT(brightness(middle), brightness(floor));
    EXPECT_LT(brightness(middle), brightness(ceiling));
}

TEST_F(Rendered, ARecordingShorterThanOneWindowStillGivesAnImage) {
    ASSERT_TRUE(render(tone(4500.0, 0.1, 300), 0, 300)) << problem;
    EXPECT_EQ(renderer.width(), 1);
    EXPECT_TRUE(std::filesystem::exists(path));
}

TEST_F(Rendered, TheFileDecodesToTheImageDrawn) {
    ASSERT_TRUE(render(tone(4500.0, 0.1, 15000), 2000, 13000)) << problem;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, path.c_str()));
    image.format = PNG_FORMAT_RGB;
    std::vector<std::uint8_t> decoded(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, decoded.data(), 0, nullptr));
    EXPECT_EQ(int(image.width), renderer.width());
    EXPECT_EQ(int(image.height), kSpectrogramRows);
    std::vector<std::uint8_t> drawn;
    for (int row = 0; row < kSpectrogramRows; ++row) {
        for (int column = 0; column < renderer.width(); ++column) {
            const Rgb colour = pixel(renderer, column, row);
            drawn.insert(drawn.end(), {colour.red, colour.green, colour.blue});
        }
    }
    EXPECT_EQ(decoded, drawn);
}

TEST_F(Rendered, AFolderThatIsNotThereIsReportedAndNothingIsWritten) {
    path = scratch / "missing/detection.png";
    EXPECT_FALSE(render(tone(4500.0, 0.1, 8192), 0, 8192));
    EXPECT_NE(problem.find("missing"), std::string::npos) << problem;
    EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
}  // namespace bm7::report
