// Capture from an audio file: the file's samples reach the sound input manager as 16-bit
// mono PCM through the same buffers and notifications as a device's, either as fast as the
// buffers come back or, paced, at the rate of a sound card. After the file's last
// (possibly short) buffer come six buffers of silence, enough for every detection in
// progress to end, and the last of them carries kBufferEndOfStream. A file that ends before its
// header says is warned of, once, when its end is reached.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/audio_file_reader.h"
#include "audio/capture_layer.h"

namespace bm7 {

inline constexpr int kEndSilenceBuffers = 6;

class FileCapture final : public CaptureLayer {
public:
    // `channel` counts from 1; 0 means the first.
    FileCapture(std::string path, int channel, bool realtime);
    ~FileCapture() override;
    FileCapture(const FileCapture&) = delete;
    FileCapture& operator=(const FileCapture&) = delete;

    int open(const CaptureFormat& format, CaptureNotification notify, void* instance) override;
    int prepare(CaptureBuffer* buffer) override;
    int queue(CaptureBuffer* buffer) override;
    int start() override;
    int reset() override;
    int unprepare(CaptureBuffer* buffer) override;
    int close() override;
    const char* errorText(int code) override;
    // A paced file stands for a live source and is taken as one.
    int wakeBatch() const override { return realtime_ ? kLiveWakeBatch : 1; }
    // A paced worker holds back the buffers of a batch until its last is due; these
    // go now, as a sound card's would have.
    void handOverRecorded() override;

    // Where the warning of a file that ends early goes (standard error unless changed;
    // null for nowhere). Set before open.
    void setWarningStream(std::FILE* stream) { warnings_ = stream; }
    // The file's reader, for what it learned; read only once the source is closed.
    const AudioFileReader& reader() const { return reader_; }

private:
    void deliverBuffers();
    bool waitForBuffer(std::unique_lock<std::mutex>& hold);
    bool waitUntilRecorded(std::unique_lock<std::mutex>& hold);
    void fill(CaptureBuffer& buffer);
    // Writes samples to a buffer in the capture format, 16-bit little-endian or 8-bit.
    void encode(const std::int16_t* samples, std::size_t count, std::uint8_t* out) const;
    void stopWorker();
    int fail(int code, std::string text);

    std::string path_;
    int channel_;
    bool realtime_;
    std::FILE* warnings_ = stderr;
    bool open_ = false;
    CaptureFormat format_;
    CaptureNotification notify_ = nullptr;
    void* instance_ = nullptr;
    AudioFileReader reader_;
    std::vector<std::int16_t> samples_;

    // Shared with the worker thread, under workLock_.
    std::mutex workLock_;
    std::condition_variable workReady_;
    CaptureBuffer* queueHead_ = nullptr;
    CaptureBuffer* queueTail_ = nullptr;
    int queuedCount_ = 0;
    int wakeBatch_ = 1;            // queued buffers that wake an idle unpaced worker
    int pacedBatch_ = 1;           // buffers a paced worker hands over together: half of those in
                                   // circulation, up to kLiveWakeBatch, as the model waits for
    bool draining_ = false;        // the worker has not yet found the queue empty since waking
    bool awaitingBuffer_ = false;  // a paced worker waits for a queued buffer
    bool pacing_ = false;          // a paced worker is running
    bool handOverAsked_ = false;   // see handOverRecorded
    std::condition_variable handedOver_;
    bool stopping_ = false;
    bool ended_ = false;
    std::thread worker_;

    // The model thread's own: buffers prepared and not unprepared.
    int preparedCount_ = 0;

    // The worker's own.
    bool fileDone_ = false;
    int silenceLeft_ = kEndSilenceBuffers;
    std::uint64_t framesDelivered_ = 0;
    std::chrono::steady_clock::time_point startTime_;

    int detailCode_ = 0;
    std::string detail_;
    std::string errorText_;
};

}  // namespace bm7
