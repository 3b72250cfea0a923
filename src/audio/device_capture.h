// Capture from a sound input device through PortAudio: the default input device, or the
// first input device whose name contains a given text. PortAudio's own texts describe its
// errors. Overflows the device reports, and audio that finds no queued buffer, are
// counted and reported as warning lines on the warning stream; the capture goes on.
//
// Losing the device: the layer notices when PortAudio's stream ends by itself, and the
// manager notices when no audio comes. Without reconnection that ends the run. With it,
// recover says so on the warning stream, lets go of the stream and opens the same device
// again every 5 s, backing off to once a minute, with a line each hour it stays away;
// the buffers queued at the layer wait meanwhile and fill again once it is back. With
// reconnection a device missing at open is waited for in the same way.
//
// Calls that can hang on a frozen sound server (stopping and closing a stream, letting go
// of the library) are bounded: past kLibraryStopBound the stream is left behind with its
// thread, which can no longer reach this layer or its buffers. While such a call is still
// running the library is not entered again.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "audio/bounded_call.h"
#include "audio/capture_layer.h"
#include "audio/library_complaints.h"
#include "audio/retry_schedule.h"

namespace bm7 {

inline constexpr std::chrono::seconds kLibraryStopBound{3};
inline constexpr std::chrono::seconds kHeartbeatInterval{10};

struct StreamLink;

class DeviceCapture final : public CaptureLayer {
public:
    // An empty deviceName picks the system's default input device.
    explicit DeviceCapture(std::string deviceName, std::FILE* warnings = stderr,
                           bool reconnect = false, ReconnectPolicy policy = {});
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
    bool recover(const char* reason) override;
    int wakeBatch() const override { return kLiveWakeBatch; }

    // Called on the model thread at least every kHeartbeatInterval while recover waits,
    // so that a service manager's watchdog can tell waiting from hanging.
    void setHeartbeat(std::function<void()> beat) { heartbeat_ = std::move(beat); }

    // For a status report, from any thread: overflows the device reported, and the
    // times it was lost (or missing at the start) and waited for.
    std::uint64_t overflowCount() const { return overflows_.load(std::memory_order_relaxed); }
    std::uint64_t lossCount() const { return losses_.load(std::memory_order_relaxed); }

    // Fills queued buffers with `frameCount` sample frames; runs on PortAudio's thread.
    void deliver(const std::uint8_t* samples, unsigned long frameCount, bool overflowed);
    // PortAudio's stream ended; runs on PortAudio's thread.
    void streamEnded();

private:
    int fail(int code, std::string text);
    std::string failureText(int code);
    int findDevice(int& device);
    int openStream();
    int startStream();
    void warnOfLosses();
    void markLost(std::string reason);
    bool waitUnlessInterrupted(std::chrono::steady_clock::duration delay);
    bool reopen();
    // Stops and closes the stream and lets go of the library, within the bound.
    void letGoOfStream();

    std::string deviceName_;
    std::FILE* warnings_;
    bool reconnect_;
    ReconnectPolicy policy_;
    std::function<void()> heartbeat_;
    CaptureFormat format_{};
    bool opened_ = false;   // between open and close
    bool started_ = false;  // between start and reset
    void* stream_ = nullptr;
    StreamLink* link_ = nullptr;  // what the stream's callbacks reach this layer through
    bool libraryOpen_ = false;
    BoundedCall libraryStop_;
    std::unique_ptr<LibraryComplaintFilter> complaintFilter_;
    std::atomic<bool> stopping_{false};  // our own stop, not a lost device
    std::string lostReason_;             // under queueLock
    CaptureNotification notify_ = nullptr;
    void* instance_ = nullptr;
    std::uint32_t blockAlign_ = 0;

    std::mutex deviceLock_;  // guards the device queue between queue, reset and deliver
    CaptureBuffer* deviceHead_ = nullptr;
    CaptureBuffer* deviceTail_ = nullptr;

    std::atomic<unsigned long> overflows_{0};
    std::atomic<unsigned long> lostFrames_{0};
    std::atomic<std::uint64_t> losses_{0};
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
