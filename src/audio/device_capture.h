// Capture from a sound input device through PortAudio: the default input device, or the
// first input device whose name contains a given text. PortAudio's own texts describe its
// errors. Overflows the device reports, and audio that finds no queued buffer, are
// counted and reported as warning lines on the warning stream; the capture goes on.
#pragma once

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

#include "audio/capture_layer.h"

namespace bm7 {

class DeviceCapture final : public CaptureLayer {
public:
    // An empty deviceName picks the system's default input device.
    explicit DeviceCapture(std::string deviceName, std::FILE* warnings = stderr);
    ~DeviceCapture() override;
    DeviceCapture(const DeviceCapture&) = delete;
    DeviceCapture& operator=(const DeviceCapture&) = delete;

    int open(const CaptureFormat& format, CaptureNotification notify, void* instance) override;
    int prepare(CaptureBuffer* buffer) override;
    int queue(CaptureBuffer* buffer) override;
    int start() override;
    int reset() override;
    int unprepare(CaptureBuffer* buffer) override;
    int close() override;
    const char* errorText(int code) override;

    // Fills queued buffers with `frameCount` sample frames; runs on PortAudio's thread.
    void deliver(const std::uint8_t* samples, unsigned long frameCount, bool overflowed);

private:
    int fail(int code, std::string text);
    int findDevice(int& device);
    void warnOfLosses();
    void closeStream();

    std::string deviceName_;
    std::FILE* warnings_;
    void* stream_ = nullptr;
    bool libraryOpen_ = false;
    CaptureNotification notify_ = nullptr;
    void* instance_ = nullptr;
    std::uint32_t blockAlign_ = 0;

    std::mutex deviceLock_;  // guards the device queue between queue, reset and deliver
    CaptureBuffer* deviceHead_ = nullptr;
    CaptureBuffer* deviceTail_ = nullptr;

    std::atomic<unsigned long> overflows_{0};
    std::atomic<unsigned long> lostFrames_{0};
    unsigned long reportedOverflows_ = 0;
    unsigned long reportedLostFrames_ = 0;

    int detailCode_ = 0;
    std::string detail_;
    std::string errorText_;
};

// Prints the names of the input devices, one a line, the default one marked. Returns the
// program's exit status; a failure is described on `errors`.
int listInputDevices(std::FILE* out, std::FILE* errors);

}  // namespace bm7
