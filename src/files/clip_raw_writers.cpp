// The clip files without a header: raw 16-bit samples in either byte order, raw doubles
// and two text layouts. None records the channel count or the sample rate.
#include <bit>
#include <cstdio>

#include "files/clip_file_io.h"
#include "files/clip_writers.h"

namespace bm7 {

namespace {

bool putDouble(std::FILE* file, double value) {
    const auto bits = std::bit_cast<std::uint64_t>(value);
    unsigned char bytes[8];
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(bits >> (8 * i));
    return putBytes(file, bytes, sizeof bytes);
}

bool putLittle16Sample(std::FILE* file, double value) {
    return putLittle16(file, sample16(value));
}

// The window's own layout: channel after channel when it is channel-major, otherwise
// frame after frame.
bool putWindowOrder(std::FILE* file, const ClipSamples& clip, bool (*put)(std::FILE*, double)) {
    if (clip.channelMajor) {
        for (int c = 0; c < clip.channels; ++c)
            for (int a = clip.first; a < clip.end; ++a)
                if (!put(file, clip.at(a, c))) return false;
    } else {
        for (int a = clip.first; a < clip.end; ++a)
            for (int c = 0; c < clip.channels; ++c)
                if (!put(file, clip.at(a, c))) return false;
    }
    return true;
}

bool printReal(std::FILE* file, double value) {
    return std::fprintf(file, "%.15e ", value) >= 0;
}

bool printSample16(std::FILE* file, double value) {
    return std::fprintf(file, "%6d ",
                        static_cast<int>(static_cast<std::int16_t>(sample16(value)))) >= 0;
}

// One line per frame, the channels in order, each value followed by a space.
bool printLines(std::FILE* file, const ClipSamples& clip, bool (*print)(std::FILE*, double)) {
    for (int a = clip.first; a < clip.end; ++a) {
        for (int c = 0; c < clip.channels; ++c)
            if (!print(file, clip.at(a, c))) return false;
        if (std::fputs("\n", file) < 0) return false;
    }
    return true;
}

}  // namespace

const char* writeMacClip(const char* fileName, const ClipSamples& clip, ClipWriteReport* report) {
    // Channel after channel whatever the window's layout.
    return writeClipFile(fileName, report, [&](std::FILE* file) {
        for (int c = 0; c < clip.channels; ++c)
            for (int a = clip.first; a < clip.end; ++a)
                if (!putBig16(file, sample16(clip.at(a, c)))) return false;
        return true;
    });
}

const char* writeTextClip(const char* fileName, const ClipSamples& clip, ClipWriteReport* report) {
    return writeClipFile(fileName, report,
                         [&](std::FILE* file) { return printLines(file, clip, printReal); });
}

const char* writeText16Clip(const char* fileName, const ClipSamples& clip,
                            ClipWriteReport* report) {
    return writeClipFile(fileName, report,
                         [&](std::FILE* file) { return printLines(file, clip, printSample16); });
}

const char* writeDoubleClip(const char* fileName, const ClipSamples& clip,
                            ClipWriteReport* report) {
    return writeClipFile(fileName, report,
                         [&](std::FILE* file) { return putWindowOrder(file, clip, putDouble); });
}

const char* writeBinClip(const char* fileName, const ClipSamples& clip, ClipWriteReport* report) {
    return writeClipFile(fileName, report, [&](std::FILE* file) {
        return putWindowOrder(file, clip, putLittle16Sample);
    });
}

}  // namespace bm7
