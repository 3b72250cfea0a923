// The eight clip file formats of Clip & Save. Each writer creates one file from a range
// of the audio window and returns null on success or the message for the block's error
// status. A clip is whole or absent: it appears under its name only once it was written
// and synced completely, and a write that fails leaves nothing behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace bm7 {

inline constexpr const char* kClipCreateError = "Error creating clip file";
inline constexpr const char* kClipWriteError = "Error writing clip file";
inline constexpr const char* kAiffChannelError = "AIFF clip file can only save up to two channels.";

// Samples first ... end - 1 of every channel of the audio window. The window is reached
// through one pointer per element, as the block's input port gives it.
struct ClipSamples {
    const double* const* window = nullptr;
    int windowLength = 0;  // samples per channel
    int channels = 0;
    bool channelMajor = false;  // one column of windowLength samples per channel
    int first = 0;
    int end = 0;
    double sampleRate = 0.0;

    int frames() const { return end - first; }
    double at(int sample, int channel) const {
        const std::size_t index = channelMajor
                                      ? static_cast<std::size_t>(channel) * windowLength + sample
                                      : static_cast<std::size_t>(sample) * channels + channel;
        return *window[index];
    }
};

// What a failed writer says beyond its fixed message, so that the caller can name the
// file and the system's reason, and tell a full disk from a real fault.
struct ClipWriteReport {
    std::string detail;  // the file and the system's reason
    int error = 0;       // errno of the failure (ENOSPC, EDQUOT ...); 0 when none applies
    // Milliseconds to wait with the clip written but not yet renamed: lets a test kill a
    // writer in the middle of a clip. 0 in normal runs.
    int pauseBeforeRename = 0;
};

using ClipWriter = const char* (*)(const char* fileName, const ClipSamples& clip,
                                   ClipWriteReport* report);

struct ClipFormat {
    const char* extension;
    ClipWriter write;
};

// The format of a format code 1 ... 8; null for any other code, which saves nothing.
const ClipFormat* clipFormat(int code);

// The 16-bit sample of x: floor(x * 32767 + 0.5), low 16 bits kept, no clipping. A value
// outside the 32-bit range, or NaN, has no integer value and stores 0.
std::uint16_t sample16(double x);

// The ten bytes of an 80-bit extended real holding `value`, most significant first.
void extendedReal(double value, unsigned char bytes[10]);

const char* writeWaveClip(const char* fileName, const ClipSamples& clip,
                          ClipWriteReport* report = nullptr);
const char* writeAiffClip(const char* fileName, const ClipSamples& clip,
                          ClipWriteReport* report = nullptr);
const char* writeMatrixClip(const char* fileName, const ClipSamples& clip,
                            ClipWriteReport* report = nullptr);
const char* writeMacClip(const char* fileName, const ClipSamples& clip,
                         ClipWriteReport* report = nullptr);
const char* writeTextClip(const char* fileName, const ClipSamples& clip,
                          ClipWriteReport* report = nullptr);
const char* writeText16Clip(const char* fileName, const ClipSamples& clip,
                            ClipWriteReport* report = nullptr);
const char* writeDoubleClip(const char* fileName, const ClipSamples& clip,
                            ClipWriteReport* report = nullptr);
const char* writeBinClip(const char* fileName, const ClipSamples& clip,
                         ClipWriteReport* report = nullptr);

}  // namespace bm7
