// The capture layer: the few operations the sound input manager needs from whatever
// records audio (a sound device, an audio file), so that the manager's ring of buffers
// stands on any of them. Every operation answers with a result code, 0 for success.
//
// Contract:
// - The model thread alone calls every operation, in this order over a run: open;
//   prepare and queue (repeatedly); start; then, while capturing, unprepare, prepare and
//   queue; reset; unprepare; close. errorText may be called at any time on that thread.
// - Operations do not block on audio: open and close may take as long as the system
//   needs to reach its device, reset waits only for the layer's own thread to stop.
// - A queued buffer belongs to the layer until the layer hands it back through the
//   notification given to open. The layer fills queued buffers in the order they were
//   queued, sets bytesRecorded and returns each one exactly once: from its own thread
//   while capturing, and on the calling thread inside reset for every buffer still
//   queued. After reset returns, no notification comes until buffers are queued and the
//   layer is started again. While a buffer is at the layer, the layer may use its link.
// - The notification runs on the layer's thread; it must only append the buffer to a
//   queue and return. The layer never holds queueLock while it notifies, so the receiver
//   may take it inside the notification (see sound_input.h).
// - A live source may ask, through wakeBatch, that the model thread sleep until several
//   filled buffers have gathered, or the source's last one: the model then takes them
//   one after another, and wakes once for all of them.
// - Any thread may call interruptWait to end the model thread's wait for audio early
//   (a stop request); the interruption lasts for the rest of the layer's life. Audio
//   already recorded is in the filled queue by the time it returns, so that the run
//   can analyse it before it stops.
// - A layer whose source stops delivering for good (a lost device) sets sourceLost under
//   queueLock and notifies bufferReturned. The model thread then calls recover, once the
//   source is lost or no audio came within the playing time of all buffers; recover
//   either brings the source back, keeping every queued buffer at the layer, or answers
//   false and the run ends with "No audio input". It may block for as long as the source
//   is away, but returns soon after interruptWait.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace bm7 {

// Result codes with a fixed meaning; a layer may also return codes of its own, and then
// gives their text through errorText.
enum CaptureResult : int {
    kCaptureOk = 0,
    kCaptureBadDeviceId = 2,
    kCaptureAllocated = 4,
    kCaptureInvalidHandle = 5,
    kCaptureNoDriver = 6,
    kCaptureNoMemory = 7,
    kCaptureBadFormat = 32,
    kCaptureStillPlaying = 33,
    kCaptureUnprepared = 34,
};

inline constexpr std::uint16_t kPcmFormatTag = 1;

// What a live source answers from wakeBatch: the buffers of about six seconds of audio,
// half of the 33 in circulation, so that the layer still holds six seconds' worth while
// the model works through a batch. A step after a wake-up from seconds of sleep costs
// three to four warm steps, for the model's memory and code have gone cold; the frames
// after the first of a batch find them warm. The results do not change, only when
// they come.
inline constexpr int kLiveWakeBatch = 16;

// The PCM capture format, one field per property of the recorded stream.
struct CaptureFormat {
    std::uint16_t formatTag = kPcmFormatTag;
    std::uint16_t channels = 0;
    std::uint32_t samplesPerSecond = 0;
    std::uint32_t averageBytesPerSecond = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0;
    std::uint16_t extraSize = 0;
};

// Buffer flags. kBufferPrepared is kept by prepare and unprepare; kBufferEndOfStream
// marks the last buffer a finite source will ever return; kBufferAfterEnd marks the
// silence a finite source adds after its audio, so that a song under way at its end is
// completed: none of its samples is audio, and none may start a detection.
inline constexpr std::uint32_t kBufferPrepared = 0x2;
inline constexpr std::uint32_t kBufferEndOfStream = 0x100;
inline constexpr std::uint32_t kBufferAfterEnd = 0x200;

// One capture buffer's header. Samples in `data` are interleaved PCM: unsigned bytes for
// 8 bits, signed little-endian for 16 bits.
struct CaptureBuffer {
    std::uint8_t* data = nullptr;
    std::uint32_t bufferLength = 0;   // bytes in data
    std::uint32_t bytesRecorded = 0;  // written by the layer
    std::uint32_t flags = 0;
    CaptureBuffer* next = nullptr;  // link of whichever queue holds the buffer
};

using CaptureNotification = void (*)(void* instance, CaptureBuffer* buffer);

class CaptureLayer {
public:
    virtual ~CaptureLayer() = default;

    virtual int open(const CaptureFormat& format, CaptureNotification notify, void* instance) = 0;
    virtual int prepare(CaptureBuffer* buffer) = 0;
    virtual int queue(CaptureBuffer* buffer) = 0;
    virtual int start() = 0;
    virtual int reset() = 0;
    virtual int unprepare(CaptureBuffer* buffer) = 0;
    virtual int close() = 0;
    // The system's text for a code, or null when it has none. The text stays valid until
    // the next call of errorText and at most as long as the layer.
    virtual const char* errorText(int code) = 0;
    // `reason` says why the audio stopped. True once audio flows again or the wait was
    // interrupted; the default cannot recover.
    virtual bool recover(const char* /*reason*/) { return false; }
    // How many filled buffers the model thread waits for once it has taken every one;
    // the default wakes it for each. The manager keeps it within half its buffers.
    virtual int wakeBatch() const { return 1; }
    // Notifies, before returning, every buffer whose audio has been recorded but which
    // the layer still holds back; called by interruptWait on the interrupting thread.
    // The default holds none back.
    virtual void handOverRecorded() {}

    void interruptWait() {
        handOverRecorded();
        {
            std::lock_guard<std::mutex> hold(queueLock);
            waitInterrupted = true;
        }
        bufferReturned.notify_all();
    }

    // Guards what the receiver of the notifications shares between the layer's thread
    // and the model thread; lives here because the layer is the one object both know.
    std::mutex queueLock;
    std::condition_variable bufferReturned;
    bool waitInterrupted = false;  // under queueLock
    bool sourceLost = false;       // under queueLock
    // When the newest buffer came back, under queueLock; kept by the receiver of the
    // notifications, which measures its patience from it.
    std::chrono::steady_clock::time_point lastReturn{};
};

}  // namespace bm7
