// WAVE, AIFF and matrix clip files, the format table and the sample conversions.
#include "files/clip_writers.h"

#include <bit>
#include <cmath>
#include <memory>
#include <new>

#include "driver/block.h"
#include "driver/matrix_file.h"
#include "files/clip_file_io.h"

namespace bm7 {

namespace {

constexpr ClipFormat kClipFormats[] = {
    {".wav", writeWaveClip}, {".mac", writeMacClip},    {".nmx", writeMatrixClip},
    {".txt", writeTextClip}, {".txt", writeText16Clip}, {".flt", writeDoubleClip},
    {".bin", writeBinClip},  {".aif", writeAiffClip},
};

std::uint32_t dataBytes(const ClipSamples& clip) {
    return static_cast<std::uint32_t>(clip.frames()) * static_cast<std::uint32_t>(clip.channels) *
           2U;
}

bool putWaveHeader(std::FILE* file, const ClipSamples& clip) {
    const std::uint32_t data = dataBytes(clip);
    const auto channels = static_cast<std::uint16_t>(clip.channels);
    const auto rate = static_cast<std::uint32_t>(roundHalfUp(clip.sampleRate));
    const auto blockAlign = static_cast<std::uint16_t>(channels * 2U);
    return putBytes(file, "RIFF", 4) && putLittle32(file, 36 + data) && putBytes(file, "WAVE", 4) &&
           putBytes(file, "fmt ", 4) && putLittle32(file, 16) && putLittle16(file, 1) &&
           putLittle16(file, channels) && putLittle32(file, rate) &&
           putLittle32(file, rate * blockAlign) && putLittle16(file, blockAlign) &&
           putLittle16(file, 16) && putBytes(file, "data", 4) && putLittle32(file, data);
}

bool putAiffHeader(std::FILE* file, const ClipSamples& clip) {
    const std::uint32_t data = dataBytes(clip);
    unsigned char rate[10];
    extendedReal(clip.sampleRate, rate);
    return putBytes(file, "FORM", 4) && putBig32(file, 46 + data) && putBytes(file, "AIFF", 4) &&
           putBytes(file, "COMM", 4) && putBig32(file, 18) &&
           putBig16(file, static_cast<std::uint16_t>(clip.channels)) &&
           putBig32(file, static_cast<std::uint32_t>(clip.frames())) && putBig16(file, 16) &&
           putBytes(file, rate, sizeof rate) && putBytes(file, "SSND", 4) &&
           putBig32(file, data + 8) && putBig32(file, 0) && putBig32(file, 0);
}

// Frame after frame, channels within a frame. The bytes go out a chunk at a time: a
// write call per sample costs more than the conversion itself.
bool putFrames16(std::FILE* file, const ClipSamples& clip, bool bigEndian) {
    constexpr int kChunkBytes = 4096;
    unsigned char chunk[kChunkBytes];
    int used = 0;
    for (int a = clip.first; a < clip.end; ++a) {
        for (int c = 0; c < clip.channels; ++c) {
            const std::uint16_t value = sample16(clip.at(a, c));
            const auto high = static_cast<unsigned char>(value >> 8);
            const auto low = static_cast<unsigned char>(value);
            chunk[used] = bigEndian ? high : low;
            chunk[used + 1] = bigEndian ? low : high;
            used += 2;
            if (used == kChunkBytes) {
                if (!putBytes(file, chunk, kChunkBytes)) return false;
                used = 0;
            }
        }
    }
    return used == 0 || putBytes(file, chunk, static_cast<std::size_t>(used));
}

// The samples in the window's own layout, which is the column order of "soundData".
bool putMatrixRecords(std::FILE* file, const ClipSamples& clip) {
    const int frames = clip.frames();
    const std::size_t count = static_cast<std::size_t>(frames) * clip.channels;
    const std::unique_ptr<double[]> values(new (std::nothrow) double[count]);
    if (!values) return false;
    std::size_t k = 0;
    if (clip.channelMajor) {
        for (int c = 0; c < clip.channels; ++c)
            for (int a = clip.first; a < clip.end; ++a) values[k++] = clip.at(a, c);
    } else {
        for (int a = clip.first; a < clip.end; ++a)
            for (int c = 0; c < clip.channels; ++c) values[k++] = clip.at(a, c);
    }
    const int rows = clip.channelMajor ? frames : clip.channels;
    const int cols = clip.channelMajor ? clip.channels : frames;
    return writeMatrixRecord(file, "soundData", rows, cols, values.get()) &&
           writeMatrixRecord(file, "fs", 1, 1, &clip.sampleRate);
}

}  // namespace

const ClipFormat* clipFormat(int code) {
    if (code < 1 || code > static_cast<int>(std::size(kClipFormats))) return nullptr;
    return &kClipFormats[code - 1];
}

std::uint16_t sample16(double x) {
    const double v = std::floor(x * 32767.0 + 0.5);
    if (!(v >= -2147483648.0 && v < 2147483648.0)) return 0;
    return static_cast<std::uint16_t>(static_cast<std::int32_t>(v));
}

void extendedReal(double value, unsigned char bytes[10]) {
    const auto bits = std::bit_cast<std::uint64_t>(value);
    const auto sign = static_cast<std::uint32_t>(bits >> 63);
    const auto exponent = static_cast<std::uint32_t>((bits >> 52) & 0x7FF);
    const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
    std::uint32_t extendedExponent = 0;
    std::uint64_t mantissa = 0;
    if (exponent == 0x7FF) {
        extendedExponent = 0x7FFF;
        mantissa = fraction << 11;
    } else if (exponent != 0) {
        extendedExponent = exponent + 15360;
        mantissa = (std::uint64_t{1} << 63) | (fraction << 11);
    } else if (fraction != 0) {
        // A subnormal double is a normal extended real: shift its top bit to bit 63.
        const int top = std::bit_width(fraction) - 1;
        extendedExponent = static_cast<std::uint32_t>(top - 1074 + 16383);
        mantissa = fraction << (63 - top);
    }
    const std::uint32_t word = (sign << 15) | extendedExponent;
    bytes[0] = static_cast<unsigned char>(word >> 8);
    bytes[1] = static_cast<unsigned char>(word);
    for (int i = 0; i < 8; ++i) bytes[2 + i] = static_cast<unsigned char>(mantissa >> (56 - 8 * i));
}

const char* writeWaveClip(const char* fileName, const ClipSamples& clip, ClipWriteReport* report) {
    return writeClipFile(fileName, report, [&](std::FILE* file) {
        return putWaveHeader(file, clip) && putFrames16(file, clip, false);
    });
}

const char* writeAiffClip(const char* fileName, const ClipSamples& clip, ClipWriteReport* report) {
    if (clip.channels > 2) return kAiffChannelError;
    return writeClipFile(fileName, report, [&](std::FILE* file) {
        return putAiffHeader(file, clip) && putFrames16(file, clip, true);
    });
}

const char* writeMatrixClip(const char* fileName, const ClipSamples& clip,
                            ClipWriteReport* report) {
    return writeClipFile(fileName, report,
                         [&](std::FILE* file) { return putMatrixRecords(file, clip); });
}

}  // namespace bm7
