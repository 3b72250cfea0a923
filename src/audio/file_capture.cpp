#include "audio/file_capture.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <system_error>
#include <utility>

namespace bm7 {

namespace {

// Codes of this layer, beyond the shared ones; errorText gives their text.
constexpr int kUnreadableFile = 1001;
constexpr int kNoWorker = 1002;

// An unpaced worker is woken for a batch of buffers rather than for each one, since each
// wake-up costs a round through the system; half the buffers in circulation, at most 8,
// keep it well ahead of the model. Should the count ever mislead, the worker still looks
// at its queue after a short while.
constexpr int kLargestWakeBatch = 8;
constexpr std::chrono::milliseconds kIdleLook{5};

}  // namespace

FileCapture::FileCapture(std::string path, int channel, bool realtime)
    : path_(std::move(path)), channel_(channel), realtime_(realtime) {}

FileCapture::~FileCapture() {
    stopWorker();
}

int FileCapture::open(const CaptureFormat& format, CaptureNotification notify, void* instance) {
    if (open_) return kCaptureAllocated;
    if (format.formatTag != kPcmFormatTag || format.channels != 1 ||
        (format.bitsPerSample != 8 && format.bitsPerSample != 16) || format.samplesPerSecond == 0) {
        return kCaptureBadFormat;
    }
    std::string problem;
    if (!reader_.open(path_, channel_, format.samplesPerSecond, problem)) {
        return fail(kUnreadableFile, problem);
    }
    format_ = format;
    notify_ = notify;
    instance_ = instance;
    fileDone_ = false;
    silenceLeft_ = kEndSilenceBuffers;
    framesDelivered_ = 0;
    pacedBatch_ = 1;
    ended_ = false;
    open_ = true;
    return kCaptureOk;
}

int FileCapture::prepare(CaptureBuffer* buffer) {
    if (!open_) return kCaptureInvalidHandle;
    if ((buffer->flags & kBufferPrepared) == 0) ++preparedCount_;
    buffer->flags |= kBufferPrepared;
    return kCaptureOk;
}

int FileCapture::queue(CaptureBuffer* buffer) {
    if (!open_) return kCaptureInvalidHandle;
    if ((buffer->flags & kBufferPrepared) == 0) return kCaptureUnprepared;
    buffer->bytesRecorded = 0;
    buffer->next = nullptr;
    {
        std::lock_guard<std::mutex> hold(workLock_);
        if (queueTail_ != nullptr) queueTail_->next = buffer;
        queueTail_ = buffer;
        if (queueHead_ == nullptr) queueHead_ = buffer;
        ++queuedCount_;
        // The model keeps the batch it works on unprepared, so the most ever prepared at
        // once tells how many buffers circulate.
        const int half = preparedCount_ / 2;
        wakeBatch_ = std::clamp(half, 1, kLargestWakeBatch);
        pacedBatch_ = std::max(pacedBatch_, std::clamp(half, 1, kLiveWakeBatch));
        if (!realtime_ && queuedCount_ < wakeBatch_) return kCaptureOk;
        // A paced worker that holds a buffer sleeps until that buffer's time comes; woken
        // now it would only go back to sleep, at the cost of a second wake-up per frame.
        if (realtime_ && !awaitingBuffer_) return kCaptureOk;
    }
    workReady_.notify_one();
    return kCaptureOk;
}

int FileCapture::start() {
    if (!open_) return kCaptureInvalidHandle;
    if (worker_.joinable()) return kCaptureOk;
    stopping_ = false;
    startTime_ = std::chrono::steady_clock::now();
    try {
        worker_ = std::thread(&FileCapture::deliverBuffers, this);
    } catch (const std::system_error& error) {
        return fail(kNoWorker, std::string("Cannot start reading the audio file: ") + error.what());
    }
    return kCaptureOk;
}

int FileCapture::reset() {
    if (!open_) return kCaptureInvalidHandle;
    stopWorker();
    CaptureBuffer* returned = nullptr;
    {
        std::lock_guard<std::mutex> hold(workLock_);
        returned = queueHead_;
        queueHead_ = queueTail_ = nullptr;
        queuedCount_ = 0;
    }
    while (returned != nullptr) {
        CaptureBuffer* following = returned->next;
        notify_(instance_, returned);
        returned = following;
    }
    return kCaptureOk;
}

int FileCapture::unprepare(CaptureBuffer* buffer) {
    if ((buffer->flags & kBufferPrepared) == 0) return kCaptureOk;
    if (!open_) return kCaptureInvalidHandle;
    buffer->flags &= ~kBufferPrepared;
    --preparedCount_;
    return kCaptureOk;
}

int FileCapture::close() {
    if (!open_) return kCaptureInvalidHandle;
    stopWorker();
    reader_.close();
    open_ = false;
    return kCaptureOk;
}

const char* FileCapture::errorText(int code) {
    if (code != detailCode_ || detail_.empty()) return nullptr;
    errorText_ = detail_;
    return errorText_.c_str();
}

// The worker thread: fills queued buffers in order and returns each one.
void FileCapture::deliverBuffers() {
    {
        std::lock_guard<std::mutex> hold(workLock_);
        pacing_ = realtime_;
    }
    for (;;) {
        CaptureBuffer* buffer = nullptr;
        {
            std::unique_lock<std::mutex> hold(workLock_);
            if (!waitForBuffer(hold)) {
                pacing_ = false;
                handedOver_.notify_all();
                return;
            }
            buffer = queueHead_;
            queueHead_ = buffer->next;
            if (queueHead_ == nullptr) queueTail_ = nullptr;
            --queuedCount_;
            draining_ = true;
        }
        fill(*buffer);
        if ((buffer->flags & kBufferEndOfStream) != 0) {
            std::lock_guard<std::mutex> hold(workLock_);
            ended_ = true;
        }
        notify_(instance_, buffer);
    }
}

// Waits until a buffer is queued and, when paced, until its audio would have been
// recorded. False when the worker is to stop.
bool FileCapture::waitForBuffer(std::unique_lock<std::mutex>& hold) {
    if (!realtime_) {
        // Goes on while buffers are queued; once the queue is empty, sleeps until a batch.
        if (queueHead_ == nullptr) draining_ = false;
        const auto ready = [&] {
            return queueHead_ != nullptr && !ended_ && (draining_ || queuedCount_ >= wakeBatch_);
        };
        while (!stopping_ && !ready()) {
            if (ended_) {
                workReady_.wait(hold, [&] { return stopping_; });
                break;
            }
            workReady_.wait_for(hold, kIdleLook, [&] { return stopping_ || ready(); });
            draining_ = true;  // after a while, a partial batch is worth filling too
        }
        return !stopping_;
    }
    return waitUntilRecorded(hold);
}

// A buffer whose audio would have been recorded by now goes at once, and without a
// wait: one with a deadline already passed is still a round through the system, and
// another to release the lock it hands back contended. Otherwise the worker sleeps
// until the last buffer of the model's batch is due, and then hands the batch over
// together; asked to hand over what is recorded, it answers once nothing more is.
bool FileCapture::waitUntilRecorded(std::unique_lock<std::mutex>& hold) {
    const auto answerHandOver = [&] {
        if (!handOverAsked_) return;
        handOverAsked_ = false;
        handedOver_.notify_all();
    };
    for (;;) {
        awaitingBuffer_ = true;
        workReady_.wait(hold, [&] {
            if (queueHead_ == nullptr || ended_) answerHandOver();
            return stopping_ || (queueHead_ != nullptr && !ended_);
        });
        awaitingBuffer_ = false;
        if (stopping_) return false;
        const std::uint64_t frames = queueHead_->bufferLength / format_.blockAlign;
        const auto dueAfter = [&](std::uint64_t buffers) {
            const std::chrono::duration<double> recorded(
                static_cast<double>(framesDelivered_ + buffers * frames) /
                format_.samplesPerSecond);
            return startTime_ +
                   std::chrono::duration_cast<std::chrono::steady_clock::duration>(recorded);
        };
        if (dueAfter(1) <= std::chrono::steady_clock::now()) return true;
        answerHandOver();
        const auto due = dueAfter(static_cast<std::uint64_t>(pacedBatch_));
        if (!workReady_.wait_until(hold, due, [&] { return stopping_ || handOverAsked_; })) {
            return true;
        }
        if (stopping_) return false;
    }
}

void FileCapture::handOverRecorded() {
    std::unique_lock<std::mutex> hold(workLock_);
    if (!pacing_) return;
    handOverAsked_ = true;
    workReady_.notify_all();
    handedOver_.wait(hold, [&] { return !handOverAsked_ || !pacing_; });
}

void FileCapture::fill(CaptureBuffer& buffer) {
    const std::size_t frames = buffer.bufferLength / format_.blockAlign;
    // 16-bit buffers hold little-endian samples: on such a host, aligned, the reader can
    // write them in place.
    const bool inPlace = format_.bitsPerSample == 16 &&
                         std::endian::native == std::endian::little &&
                         reinterpret_cast<std::uintptr_t>(buffer.data) % alignof(std::int16_t) == 0;
    if (!inPlace) samples_.resize(frames);
    std::int16_t* samples =
        inPlace ? reinterpret_cast<std::int16_t*>(buffer.data) : samples_.data();
    std::size_t got = 0;
    if (!fileDone_) {
        got = reader_.read(samples, frames);
        if (got < frames) {
            fileDone_ = true;
            if (warnings_ != nullptr && !reader_.warning().empty()) {
                std::fprintf(warnings_, "%s\n", reader_.warning().c_str());
            }
        }
    }
    if (got == 0) {
        // A buffer of silence after the end of the file.
        std::memset(samples, 0, frames * sizeof(std::int16_t));
        got = frames;
        buffer.flags |= kBufferAfterEnd;
        if (--silenceLeft_ <= 0) buffer.flags |= kBufferEndOfStream;
    }
    if (!inPlace) encode(samples, got, buffer.data);
    buffer.bytesRecorded = static_cast<std::uint32_t>(got * format_.blockAlign);
    framesDelivered_ += got;
}

void FileCapture::encode(const std::int16_t* samples, std::size_t count, std::uint8_t* out) const {
    if (format_.bitsPerSample == 16) {
        for (std::size_t i = 0; i < count; ++i) {
            const auto value = static_cast<std::uint16_t>(samples[i]);
            out[2 * i] = static_cast<std::uint8_t>(value & 0xFF);
            out[2 * i + 1] = static_cast<std::uint8_t>(value >> 8);
        }
    } else {
        for (std::size_t i = 0; i < count; ++i) {
            out[i] = static_cast<std::uint8_t>((samples[i] >> 8) + 128);
        }
    }
}

void FileCapture::stopWorker() {
    {
        std::lock_guard<std::mutex> hold(workLock_);
        stopping_ = true;
    }
    workReady_.notify_all();
    if (worker_.joinable()) worker_.join();
}

int FileCapture::fail(int code, std::string text) {
    detailCode_ = code;
    detail_ = std::move(text);
    return code;
}

}  // namespace bm7
