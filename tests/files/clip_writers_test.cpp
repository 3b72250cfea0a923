#include "files/clip_writers.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <array>
#include <bit>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "files/files_fixture.h"

namespace bm7 {
namespace {

using testing::fileBytes;
using testing::ScratchDirectory;

// An audio window of `channels` x `length` samples with its element pointers.
struct Window {
    Window(std::vector<double> samples, int length, int channels, bool channelMajor)
        : values(std::move(samples)) {
        for (double& value : values) pointers.push_back(&value);
        clip.window = pointers.data();
        clip.windowLength = length;
        clip.channels = channels;
        clip.channelMajor = channelMajor;
        clip.first = 0;
        clip.end = length;
        clip.sampleRate = 22050.0;
    }
    std::vector<double> values;
    std::vector<const double*> pointers;
    ClipSamples clip;
};

// Two channels of three frames, channel 1 = 0.5, -1.0, 0.25 and channel 2 = 1.0, 0.0, -0.5,
// held in either layout.
Window twoChannelWindow(bool channelMajor) {
    std::vector<double> samples = channelMajor
                                      ? std::vector<double>{0.5, -1.0, 0.25, 1.0, 0.0, -0.5}
                                      : std::vector<double>{0.5, 1.0, -1.0, 0.0, 0.25, -0.5};
    return Window(samples, 3, 2, channelMajor);
}

// 1000 frames of one channel: both extremes, zero, then seeded noise in [-1, 1).
Window monoWindow() {
    std::mt19937 random(1234);
    std::uniform_real_distribution<double> noise(-1.0, 1.0);
    std::vector<double> samples(1000);
    for (double& sample : samples) sample = noise(random);
    samples[0] = 1.0;
    samples[1] = -1.0;
    samples[2] = 0.0;
    return Window(samples, 1000, 1, false);
}

std::uint32_t little32(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

std::uint32_t big32(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

std::uint16_t little16(const std::string& bytes, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at + 1]) << 8 |
                                      static_cast<unsigned char>(bytes[at]));
}

std::uint16_t big16(const std::string& bytes, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) << 8 |
                                      static_cast<unsigned char>(bytes[at + 1]));
}

double littleDouble(const std::string& bytes, std::size_t at) {
    std::uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = bits << 8 | static_cast<unsigned char>(bytes[at + i]);
    return std::bit_cast<double>(bits);
}

std::string run(const std::string& command) {
    std::string output;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return output;
    char chunk[256];
    while (std::fgets(chunk, sizeof chunk, pipe) != nullptr) output += chunk;
    EXPECT_EQ(pclose(pipe), 0) << command;
    return output;
}

// The clip's 16-bit samples as another program decodes them.
std::vector<std::int16_t> decodedBySox(const std::string& name, const ScratchDirectory& dir) {
    const std::string raw = dir / "decoded.raw";
    run("sox '" + name + "' -t raw -e signed-integer -b 16 -L '" + raw + "'");
    const std::string bytes = fileBytes(raw);
    std::vector<std::int16_t> samples;
    for (std::size_t at = 0; at + 1 < bytes.size(); at += 2)
        samples.push_back(static_cast<std::int16_t>(little16(bytes, at)));
    return samples;
}

// Rate, channels, sample frames and bits as soxi reports them.
std::string soxiFields(const std::string& name) {
    std::string fields;
    for (const char* flag : {"-r", "-c", "-s", "-b"}) {
        std::string value = run(std::string("soxi ") + flag + " '" + name + "'");
        if (!value.empty() && value.back() == '\n') value.pop_back();
        fields += value + " ";
    }
    return fields;
}

std::vector<std::int16_t> expected16(const Window& window) {
    std::vector<std::int16_t> samples;
    for (double value : window.values)
        samples.push_back(static_cast<std::int16_t>(sample16(value)));
    return samples;
}

TEST(SampleConversion, RoundsHalfUpToSixteenBitsWithoutClipping) {
    EXPECT_EQ(sample16(1.0), 32767);
    EXPECT_EQ(sample16(-1.0), 0x8001);
    EXPECT_EQ(sample16(0.0), 0);
    EXPECT_EQ(sample16(0.5), 16384);
    EXPECT_EQ(sample16(-1.5 / 32767.0), 0xFFFF);  // -1.5 + 0.5 = -1 exactly
    // Out of range wraps in 16 bits rather than saturating.
    EXPECT_EQ(sample16(2.0), 0xFFFE);
    // No integer value at all: stored as 0, never undefined.
    EXPECT_EQ(sample16(std::nan("")), 0);
    EXPECT_EQ(sample16(1e300), 0);
    EXPECT_EQ(sample16(-std::numeric_limits<double>::infinity()), 0);
}

std::array<unsigned char, 10> extended(double value) {
    std::array<unsigned char, 10> bytes{};
    extendedReal(value, bytes.data());
    return bytes;
}

TEST(ExtendedReal, StoresTheSampleRateAndTheSpecialValues) {
    using Bytes = std::array<unsigned char, 10>;
    EXPECT_EQ(extended(22050.0), (Bytes{0x40, 0x0D, 0xAC, 0x44, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(extended(1.0), (Bytes{0x3F, 0xFF, 0x80, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(extended(0.0), (Bytes{}));
    EXPECT_EQ(extended(-0.0), (Bytes{0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(extended(-std::numeric_limits<double>::infinity()),
              (Bytes{0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(ExtendedReal, AgreesWithTheHardwareExtendedFormatOnRandomFiniteValues) {
    if constexpr (std::numeric_limits<long double>::digits != 64) {
        GTEST_SKIP() << "long double is not the 80-bit extended format here";
    } else {
        std::mt19937_64 random(99);
        std::vector<double> values = {std::numeric_limits<double>::denorm_min(),
                                      std::numeric_limits<double>::max(), 44100.0, 8000.5};
        for (int i = 0; i < 2000; ++i) {
            const double value = std::bit_cast<double>(random());
            if (std::isfinite(value)) values.push_back(value);
        }
        for (double value : values) {
            const long double wide = value;
            unsigned char native[sizeof wide] = {};
            std::memcpy(native, &wide, sizeof wide);
            std::array<unsigned char, 10> reversed{};
            for (int i = 0; i < 10; ++i) reversed[i] = native[9 - i];
            ASSERT_EQ(extended(value), reversed) << value;
        }
    }
}

TEST(WaveClip, HasTheHeaderOfItsSizeAndTheConvertedSamples) {
    ScratchDirectory dir;
    Window window = monoWindow();
    const std::string name = dir / "clip.wav";
    ASSERT_EQ(writeWaveClip(name.c_str(), window.clip), nullptr);
    const std::string bytes = fileBytes(name);
    ASSERT_EQ(bytes.size(), 2044U);
    EXPECT_EQ(bytes.substr(0, 4), "RIFF");
    EXPECT_EQ(little32(bytes, 4), 2036U);
    EXPECT_EQ(bytes.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(little32(bytes, 16), 16U);
    EXPECT_EQ(little16(bytes, 20), 1);
    EXPECT_EQ(little16(bytes, 22), 1);
    EXPECT_EQ(little32(bytes, 24), 22050U);
    EXPECT_EQ(little32(bytes, 28), 44100U);
    EXPECT_EQ(little16(bytes, 32), 2);
    EXPECT_EQ(little16(bytes, 34), 16);
    EXPECT_EQ(bytes.substr(36, 4), "data");
    EXPECT_EQ(little32(bytes, 40), 2000U);
    EXPECT_EQ(little16(bytes, 44), 32767);
    EXPECT_EQ(little16(bytes, 46), 0x8001);
    EXPECT_EQ(little16(bytes, 48), 0);

    EXPECT_EQ(soxiFields(name), "22050 1 1000 16 ");
    EXPECT_EQ(decodedBySox(name, dir), expected16(window));
    EXPECT_EQ(
        run("python3 -c \"import wave,sys; w=wave.open(sys.argv[1]); "
            "print(w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes())\" '" +
            name + "'"),
        "1 2 22050 1000\n");
}

TEST(WaveClip, WritesFrameAfterFrameFromEitherWindowLayout) {
    for (bool channelMajor : {false, true}) {
        ScratchDirectory dir;
        Window window = twoChannelWindow(channelMajor);
        window.clip.sampleRate = 8000.4;  // the header holds the rounded rate
        const std::string name = dir / "clip.wav";
        ASSERT_EQ(writeWaveClip(name.c_str(), window.clip), nullptr);
        const std::string bytes = fileBytes(name);
        ASSERT_EQ(bytes.size(), 44U + 12U);
        EXPECT_EQ(little32(bytes, 24), 8000U);
        EXPECT_EQ(little32(bytes, 28), 32000U);
        EXPECT_EQ(little16(bytes, 32), 4);
        EXPECT_EQ(run("soxi -c '" + name + "'"), "2\n");
        EXPECT_EQ(decodedBySox(name, dir),
                  (std::vector<std::int16_t>{16384, 32767, -32767, 0, 8192, -16383}));
    }
}

TEST(AiffClip, HasTheHeaderOfItsSizeAndBigEndianSamples) {
    ScratchDirectory dir;
    Window window = monoWindow();
    const std::string name = dir / "clip.aif";
    ASSERT_EQ(writeAiffClip(name.c_str(), window.clip), nullptr);
    const std::string bytes = fileBytes(name);
    ASSERT_EQ(bytes.size(), 2054U);
    EXPECT_EQ(bytes.substr(0, 4), "FORM");
    EXPECT_EQ(big32(bytes, 4), 2046U);
    EXPECT_EQ(bytes.substr(8, 8), "AIFFCOMM");
    EXPECT_EQ(big32(bytes, 16), 18U);
    EXPECT_EQ(big16(bytes, 20), 1);
    EXPECT_EQ(big32(bytes, 22), 1000U);
    EXPECT_EQ(big16(bytes, 26), 16);
    EXPECT_EQ(bytes.substr(28, 10), std::string("\x40\x0D\xAC\x44\0\0\0\0\0\0", 10));
    EXPECT_EQ(bytes.substr(38, 4), "SSND");
    EXPECT_EQ(big32(bytes, 42), 2008U);
    EXPECT_EQ(big32(bytes, 46), 0U);
    EXPECT_EQ(big32(bytes, 50), 0U);
    EXPECT_EQ(big16(bytes, 54), 32767);
    EXPECT_EQ(big16(bytes, 56), 0x8001);

    EXPECT_EQ(soxiFields(name), "22050 1 1000 16 ");
    EXPECT_EQ(decodedBySox(name, dir), expected16(window));
}

TEST(AiffClip, KeepsTwoChannelsAndRefusesThreeWithoutCreatingAFile) {
    ScratchDirectory dir;
    Window stereo = twoChannelWindow(true);
    const std::string name = dir / "stereo.aif";
    ASSERT_EQ(writeAiffClip(name.c_str(), stereo.clip), nullptr);
    EXPECT_EQ(decodedBySox(name, dir),
              (std::vector<std::int16_t>{16384, 32767, -32767, 0, 8192, -16383}));

    Window three(std::vector<double>(9, 0.25), 3, 3, false);
    const std::string refused = dir / "three.aif";
    EXPECT_STREQ(writeAiffClip(refused.c_str(), three.clip),
                 "AIFF clip file can only save up to two channels.");
    EXPECT_FALSE(std::filesystem::exists(refused));
}

struct MatrixHeader {
    std::int32_t type, rows, cols, imagf, nameLength;
};

MatrixHeader matrixHeader(const std::string& bytes, std::size_t at) {
    MatrixHeader header{};
    std::memcpy(&header, bytes.data() + at, sizeof header);
    return header;
}

// Samples are written in chunks; a clip of several chunks and a partial one must keep
// every sample in its place, in both byte orders.
TEST(AiffClip, LongTwoChannelClipsKeepEverySampleAcrossWriteChunksInBothFormats) {
    ScratchDirectory dir;
    std::mt19937 random(99);
    std::uniform_real_distribution<double> noise(-1.0, 1.0);
    std::vector<double> samples(2 * 5001);
    for (double& sample : samples) sample = noise(random);
    Window window(samples, 5001, 2, false);
    const std::vector<std::int16_t> want = expected16(window);

    const std::string wave = dir / "long.wav";
    ASSERT_EQ(writeWaveClip(wave.c_str(), window.clip), nullptr);
    const std::string aiff = dir / "long.aif";
    ASSERT_EQ(writeAiffClip(aiff.c_str(), window.clip), nullptr);
    const std::string waveBytes = fileBytes(wave);
    const std::string aiffBytes = fileBytes(aiff);
    ASSERT_EQ(waveBytes.size(), 44U + 2U * want.size());
    ASSERT_EQ(aiffBytes.size(), 54U + 2U * want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        ASSERT_EQ(static_cast<std::int16_t>(little16(waveBytes, 44 + 2 * i)), want[i]) << i;
        ASSERT_EQ(static_cast<std::int16_t>(big16(aiffBytes, 54 + 2 * i)), want[i]) << i;
    }
}

TEST(MatrixClip, HoldsTheSamplesAsOneRowPerChannelAndTheRate) {
    ScratchDirectory dir;
    Window window = monoWindow();
    const std::string name = dir / "clip.nmx";
    ASSERT_EQ(writeMatrixClip(name.c_str(), window.clip), nullptr);
    const std::string bytes = fileBytes(name);
    ASSERT_EQ(bytes.size(), 20U + 10U + 8000U + 20U + 3U + 8U);
    const MatrixHeader sound = matrixHeader(bytes, 0);
    EXPECT_EQ(sound.type, 0);
    EXPECT_EQ(sound.rows, 1);
    EXPECT_EQ(sound.cols, 1000);
    EXPECT_EQ(sound.imagf, 0);
    EXPECT_EQ(sound.nameLength, 10);
    EXPECT_EQ(bytes.substr(20, 10), std::string("soundData", 10));
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(littleDouble(bytes, 30 + 8 * i), window.values[i]);
    const MatrixHeader rate = matrixHeader(bytes, 8030);
    EXPECT_EQ(rate.rows, 1);
    EXPECT_EQ(rate.cols, 1);
    EXPECT_EQ(rate.nameLength, 3);
    EXPECT_EQ(bytes.substr(8050, 3), std::string("fs", 3));
    EXPECT_EQ(littleDouble(bytes, 8053), 22050.0);
}

TEST(MatrixClip, MakesOneColumnPerChannelFromAChannelMajorWindow) {
    ScratchDirectory dir;
    Window window = twoChannelWindow(true);
    window.clip.first = 1;
    const std::string name = dir / "clip.nmx";
    ASSERT_EQ(writeMatrixClip(name.c_str(), window.clip), nullptr);
    const std::string bytes = fileBytes(name);
    const MatrixHeader sound = matrixHeader(bytes, 0);
    EXPECT_EQ(sound.rows, 2);
    EXPECT_EQ(sound.cols, 2);
    const double expected[] = {-1.0, 0.25, 0.0, -0.5};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(littleDouble(bytes, 30 + 8 * i), expected[i]);
}

TEST(RawClips, MacIsChannelAfterChannelBigEndianInBothLayouts) {
    for (bool channelMajor : {false, true}) {
        ScratchDirectory dir;
        Window window = twoChannelWindow(channelMajor);
        const std::string name = dir / "clip.mac";
        ASSERT_EQ(writeMacClip(name.c_str(), window.clip), nullptr);
        EXPECT_EQ(fileBytes(name),
                  std::string("\x40\x00\x80\x01\x20\x00\x7F\xFF\x00\x00\xC0\x01", 12));
    }
}

TEST(RawClips, BinAndFltFollowTheLayoutOfTheWindow) {
    ScratchDirectory dir;
    Window interleaved = twoChannelWindow(false);
    Window channelMajor = twoChannelWindow(true);
    const std::string bin = dir / "clip.bin";
    ASSERT_EQ(writeBinClip(bin.c_str(), interleaved.clip), nullptr);
    EXPECT_EQ(fileBytes(bin), std::string("\x00\x40\xFF\x7F\x01\x80\x00\x00\x00\x20\x01\xC0", 12));
    std::filesystem::remove(bin);  // a clip never replaces another
    ASSERT_EQ(writeBinClip(bin.c_str(), channelMajor.clip), nullptr);
    EXPECT_EQ(fileBytes(bin), std::string("\x00\x40\x01\x80\x00\x20\xFF\x7F\x00\x00\x01\xC0", 12));

    for (Window* window : {&interleaved, &channelMajor}) {
        const std::string flt = dir / "clip.flt";
        ASSERT_EQ(writeDoubleClip(flt.c_str(), window->clip), nullptr);
        const std::string bytes = fileBytes(flt);
        ASSERT_EQ(bytes.size(), 48U);
        for (int i = 0; i < 6; ++i) EXPECT_EQ(littleDouble(bytes, 8 * i), window->values[i]);
        std::filesystem::remove(flt);
    }
}

TEST(TextClips, PrintOneLinePerFrameInBothLayouts) {
    for (bool channelMajor : {false, true}) {
        ScratchDirectory dir;
        Window window = twoChannelWindow(channelMajor);
        const std::string text = dir / "clip.txt";
        ASSERT_EQ(writeTextClip(text.c_str(), window.clip), nullptr);
        EXPECT_EQ(fileBytes(text),
                  "5.000000000000000e-01 1.000000000000000e+00 \n"
                  "-1.000000000000000e+00 0.000000000000000e+00 \n"
                  "2.500000000000000e-01 -5.000000000000000e-01 \n");
        const std::string text16 = dir / "clip16.txt";
        ASSERT_EQ(writeText16Clip(text16.c_str(), window.clip), nullptr);
        EXPECT_EQ(fileBytes(text16), " 16384  32767 \n-32767      0 \n  8192 -16383 \n");
    }
}

TEST(ClipFailures, EveryFormatReportsAFileItCannotCreateWithTheFileAndTheReason) {
    ScratchDirectory dir;
    Window window = twoChannelWindow(false);
    const std::string name = dir / "missing/clip";
    for (int code = 1; code <= 8; ++code) {
        ClipWriteReport report;
        EXPECT_STREQ(clipFormat(code)->write(name.c_str(), window.clip, &report),
                     "Error creating clip file")
            << code;
        EXPECT_EQ(report.error, ENOENT);
        EXPECT_EQ(report.detail, name + ": No such file or directory");
    }
}

// Files of this process may not grow beyond a few bytes while it lives: every write past
// them fails with EFBIG, as a full disk fails a write part-way.
class TinyFileLimit {
public:
    TinyFileLimit() {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit tiny{8, saved_.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &tiny);
    }
    ~TinyFileLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }

private:
    rlimit saved_{};
    void (*previous_)(int) = nullptr;
};

TEST(ClipFailures, AWriteThatFailsPartWayLeavesNothingBehindInEveryFormat) {
    ScratchDirectory dir;
    // Long enough to fail before the flush, and short enough to fail only at the flush.
    for (int length : {32767, 3}) {
        std::vector<double> samples(static_cast<std::size_t>(length) * 2, 0.125);
        Window window(samples, length, 2, false);
        for (int code = 1; code <= 8; ++code) {
            const std::string name = dir / ("clip" + std::string(clipFormat(code)->extension));
            ClipWriteReport report;
            const char* failure = nullptr;
            {
                TinyFileLimit limit;
                failure = clipFormat(code)->write(name.c_str(), window.clip, &report);
            }
            EXPECT_STREQ(failure, "Error writing clip file")
                << "format " << code << ", " << length << " frames";
            EXPECT_EQ(report.error, EFBIG);
            EXPECT_NE(report.detail.find(name), std::string::npos) << report.detail;
            EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << code;
        }
    }
}

TEST(ClipFailures, AClipWhoseNameIsTakenByAFolderIsNotCreatedAndLeavesNoTemporaryFile) {
    ScratchDirectory dir;
    Window window = twoChannelWindow(false);
    const std::string name = dir / "clip.wav";
    std::filesystem::create_directory(name);
    ClipWriteReport report;
    EXPECT_STREQ(writeWaveClip(name.c_str(), window.clip, &report), "Error creating clip file");
    EXPECT_NE(report.detail.find(name), std::string::npos) << report.detail;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1);
}

}  // namespace
}  // namespace bm7
