#include "audio/sound_input.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>

#include "driver/frame_loop.h"

namespace bm7 {

namespace {

constexpr int kChannelsParam = 0;
constexpr int kDeinterleaveParam = 1;
constexpr int kSampleRateParam = 2;
constexpr int kBitsParam = 3;
constexpr int kFrameSizeParam = 4;
constexpr int kBufferCountParam = 5;

constexpr double kEightBitScale = 0.0078125;
constexpr double kSixteenBitScale = 0.000030517578125;
// A wait longer than this is as good as endless, and keeps the deadline representable.
constexpr double kLongestWaitSeconds = 365.0 * 24.0 * 3600.0;
constexpr const char* kNoAudioInput = "No audio input";

bool errorSet(const BlockRecord& block) {
    return block.errorRecord->errorStatus != nullptr;
}

CaptureBuffer** bufferTable(const BlockRecord& block) {
    return static_cast<CaptureBuffer**>(block.pointerWork[kBufferTableSlot]);
}

CaptureBuffer* queueHead(const BlockRecord& block, int headSlot) {
    return static_cast<CaptureBuffer*>(block.pointerWork[headSlot]);
}

void appendToQueue(BlockRecord& block, int tailSlot, int headSlot, CaptureBuffer* buffer) {
    buffer->next = nullptr;
    auto* tail = static_cast<CaptureBuffer*>(block.pointerWork[tailSlot]);
    if (tail != nullptr) tail->next = buffer;
    block.pointerWork[tailSlot] = buffer;
    if (block.pointerWork[headSlot] == nullptr) block.pointerWork[headSlot] = buffer;
}

CaptureBuffer* takeFromQueue(BlockRecord& block, int tailSlot, int headSlot) {
    CaptureBuffer* head = queueHead(block, headSlot);
    block.pointerWork[headSlot] = head->next;
    if (block.pointerWork[tailSlot] == head) block.pointerWork[tailSlot] = nullptr;
    head->next = nullptr;
    return head;
}

void emptyQueue(BlockRecord& block, int tailSlot, int headSlot) {
    block.pointerWork[tailSlot] = nullptr;
    block.pointerWork[headSlot] = nullptr;
}

void changeQueuedAtDevice(BlockRecord& block, int change) {
    std::lock_guard<std::mutex> hold(captureLayerOf(block)->queueLock);
    block.integerWork[0] += change;
}

// Bytes per capture buffer; negative when no buffer can have that size.
std::int64_t bufferBytes(const SoundInputConfig& config) {
    const std::int64_t bytes =
        std::int64_t{config.bitsPerSample / 8} * config.channels * std::int64_t{config.frameSize};
    return bytes > std::int64_t{UINT32_MAX} ? -1 : bytes;
}

CaptureFormat captureFormat(const SoundInputConfig& config) {
    CaptureFormat format;
    format.formatTag = kPcmFormatTag;
    format.channels = config.channels;
    format.samplesPerSecond = static_cast<std::uint32_t>(config.sampleRate);
    format.blockAlign = static_cast<std::uint16_t>((config.bitsPerSample / 8) * config.channels);
    format.averageBytesPerSecond = format.blockAlign * format.samplesPerSecond;
    format.bitsPerSample = config.bitsPerSample;
    format.extraSize = 0;
    return format;
}

// The playing time of `buffers` buffers.
std::chrono::steady_clock::duration playingTime(const SoundInputConfig& config, int buffers) {
    double seconds = static_cast<double>(buffers) * config.frameSize / config.sampleRate;
    if (!(seconds < kLongestWaitSeconds)) seconds = kLongestWaitSeconds;
    if (!(seconds > 0.0)) seconds = 0.0;
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(seconds));
}

std::size_t sampleIndex(bool deinterleave, int frame, int channel, int channels, int frameSize) {
    return deinterleave ? static_cast<std::size_t>(frame) + std::size_t(channel) * frameSize
                        : std::size_t(frame) * channels + channel;
}

void convertEightBit(const SoundInputConfig& config, const std::uint8_t* data, double* frame) {
    const int channels = config.channels;
    for (int i = 0; i < config.frameSize; ++i) {
        for (int c = 0; c < channels; ++c) {
            const int value = data[std::size_t(i) * channels + c] - 128;
            frame[sampleIndex(config.deinterleave, i, c, channels, config.frameSize)] =
                value * kEightBitScale;
        }
    }
}

// The usual single channel, as one plain loop the compiler can widen.
BM7_FRAME_LOOP void convertMonoSixteenBit(const std::uint8_t* __restrict data, int frameSize,
                                          double* __restrict frame) {
    for (int i = 0; i < frameSize; ++i) {
        const auto value = static_cast<std::int16_t>(
            static_cast<std::uint16_t>(data[2 * i] | (data[2 * i + 1] << 8)));
        frame[i] = value * kSixteenBitScale;
    }
}

void convertSixteenBit(const SoundInputConfig& config, const std::uint8_t* data, double* frame) {
    const int channels = config.channels;
    if (channels == 1) {
        convertMonoSixteenBit(data, config.frameSize, frame);
        return;
    }
    for (int i = 0; i < config.frameSize; ++i) {
        for (int c = 0; c < channels; ++c) {
            const std::uint8_t* bytes = data + (std::size_t(i) * channels + c) * 2;
            const auto value =
                static_cast<std::int16_t>(static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8)));
            frame[sampleIndex(config.deinterleave, i, c, channels, config.frameSize)] =
                value * kSixteenBitScale;
        }
    }
}

}  // namespace

SoundInputConfig readSoundInputConfig(const BlockRecord& block) {
    SoundInputConfig config;
    config.channels = static_cast<std::uint16_t>(paramInt(block, kChannelsParam));
    config.deinterleave = paramInt(block, kDeinterleaveParam) != 0;
    config.sampleRate = paramInt(block, kSampleRateParam);
    config.bitsPerSample = static_cast<std::uint16_t>(paramInt(block, kBitsParam));
    config.frameSize = paramInt(block, kFrameSizeParam);
    config.bufferCount = static_cast<std::uint16_t>(paramInt(block, kBufferCountParam));
    return config;
}

void placeCaptureLayer(BlockRecord& block, CaptureLayer* layer) {
    block.pointerWork[kDeviceHandleSlot] = layer;
}

CaptureLayer* captureLayerOf(const BlockRecord& block) {
    return static_cast<CaptureLayer*>(block.pointerWork[kDeviceHandleSlot]);
}

int queuedAtDevice(const BlockRecord& block) {
    std::lock_guard<std::mutex> hold(captureLayerOf(block)->queueLock);
    return block.integerWork[0];
}

int filledBuffersWaiting(const BlockRecord& block) {
    CaptureLayer* layer = captureLayerOf(block);
    if (layer == nullptr) return 0;
    std::lock_guard<std::mutex> hold(layer->queueLock);
    int count = 0;
    for (CaptureBuffer* b = queueHead(block, kFilledHeadSlot); b != nullptr; b = b->next) ++count;
    return count;
}

void startSoundInput(BlockRecord& block) {
    allocateBuffers(block);
    if (errorSet(block)) return;
    openDevice(block);
    if (errorSet(block)) return;
    const int count = readSoundInputConfig(block).bufferCount;
    CaptureBuffer** table = bufferTable(block);
    for (int i = 0; i < count && !errorSet(block); ++i) recycleBuffer(block, table[i]);
    if (!errorSet(block)) startCapture(block);
}

void stopSoundInput(BlockRecord& block) {
    if (!stopCapture(block)) return;
    releaseBuffers(block);
    closeDevice(block);
}

void allocateBuffers(BlockRecord& block) {
    const SoundInputConfig config = readSoundInputConfig(block);
    auto** table = new (std::nothrow) CaptureBuffer* [config.bufferCount] {};
    if (table == nullptr) {
        reportDeviceError(block, kCaptureNoMemory);
        return;
    }
    block.pointerWork[kBufferTableSlot] = table;
    const std::int64_t bytes = bufferBytes(config);
    for (int i = 0; i < config.bufferCount; ++i) {
        auto* buffer = new (std::nothrow) CaptureBuffer{};
        table[i] = buffer;
        if (buffer != nullptr && bytes >= 0) {
            buffer->data = new (std::nothrow) std::uint8_t[static_cast<std::size_t>(bytes)]{};
        }
        if (buffer == nullptr || buffer->data == nullptr) {
            releaseBuffers(block);
            reportDeviceError(block, kCaptureNoMemory);
            return;
        }
        buffer->bufferLength = static_cast<std::uint32_t>(bytes);
        buffer->flags = 0;
    }
    emptyQueue(block, kFilledTailSlot, kFilledHeadSlot);
}

void openDevice(BlockRecord& block) {
    CaptureLayer* layer = captureLayerOf(block);
    if (layer == nullptr) {
        reportDeviceError(block, kCaptureBadDeviceId);
        return;
    }
    const CaptureFormat format = captureFormat(readSoundInputConfig(block));
    if (reportDeviceError(block, layer->open(format, onDeviceNotification, &block))) return;
    emptyQueue(block, kFreeTailSlot, kFreeHeadSlot);
    std::lock_guard<std::mutex> hold(layer->queueLock);
    block.integerWork[0] = 0;
}

void recycleBuffer(BlockRecord& block, CaptureBuffer* buffer) {
    buffer->flags = 0;
    if (reportDeviceError(block, captureLayerOf(block)->prepare(buffer))) return;
    appendToQueue(block, kFreeTailSlot, kFreeHeadSlot, buffer);
    refillDevice(block);
}

void refillDevice(BlockRecord& block) {
    CaptureLayer* layer = captureLayerOf(block);
    while (queueHead(block, kFreeHeadSlot) != nullptr &&
           queuedAtDevice(block) < MaxQueuedAtDevice) {
        CaptureBuffer* buffer = takeFromQueue(block, kFreeTailSlot, kFreeHeadSlot);
        // Counted before queueing, because the layer may return the buffer at once.
        changeQueuedAtDevice(block, 1);
        const int code = layer->queue(buffer);
        if (code != kCaptureOk) changeQueuedAtDevice(block, -1);
        reportDeviceError(block, code);
        if (errorSet(block)) return;
    }
}

void startCapture(BlockRecord& block) {
    reportDeviceError(block, captureLayerOf(block)->start());
}

namespace {

enum class WaitEnd { filled, interrupted, sourceLost, timedOut };

int wakeBatch(const CaptureLayer& layer, int bufferCount) {
    return std::clamp(layer.wakeBatch(), 1, std::max(1, bufferCount / 2));
}

// True once the filled queue holds `batch` buffers, or the source's last buffer, which
// no other will follow. Under queueLock.
bool batchFilled(const BlockRecord& block, int batch) {
    int count = 0;
    for (CaptureBuffer* b = queueHead(block, kFilledHeadSlot); b != nullptr; b = b->next) {
        if (++count >= batch || (b->flags & kBufferEndOfStream) != 0) return true;
    }
    return false;
}

// Takes a filled buffer without waiting while any is left. Once the queue is empty,
// sleeps until the next batch is there; a batch that takes longer than its own playing
// time and one buffer's more is taken as far as it came. The source has stopped when no
// buffer came back for the playing time of all of them, counted from the newest return
// (or from now, when none came back since the start or a recovery), so that a source
// which stops in the middle of a batch is noticed as soon as one that stops between.
WaitEnd waitForAudio(BlockRecord& block, CaptureLayer& layer, CaptureBuffer*& buffer) {
    const SoundInputConfig config = readSoundInputConfig(block);
    std::unique_lock<std::mutex> hold(layer.queueLock);
    const auto now = std::chrono::steady_clock::now();
    const auto since = layer.lastReturn == std::chrono::steady_clock::time_point{}
                           ? now
                           : std::min(layer.lastReturn, now);
    const int batch = wakeBatch(layer, config.bufferCount);
    const auto deadline = since + playingTime(config, config.bufferCount);
    const auto batchDeadline = now + playingTime(config, batch + 1);
    const auto ended = [&] { return layer.waitInterrupted || layer.sourceLost; };
    if (queueHead(block, kFilledHeadSlot) == nullptr) {
        layer.bufferReturned.wait_until(hold, std::min(batchDeadline, deadline),
                                        [&] { return batchFilled(block, batch) || ended(); });
        layer.bufferReturned.wait_until(hold, deadline, [&] {
            return queueHead(block, kFilledHeadSlot) != nullptr || ended();
        });
    }
    // Audio already captured is used even after an interruption.
    if (queueHead(block, kFilledHeadSlot) != nullptr) {
        buffer = takeFromQueue(block, kFilledTailSlot, kFilledHeadSlot);
        return WaitEnd::filled;
    }
    if (layer.waitInterrupted) return WaitEnd::interrupted;
    return layer.sourceLost ? WaitEnd::sourceLost : WaitEnd::timedOut;
}

}  // namespace

CaptureBuffer* takeFilledBuffer(BlockRecord& block) {
    CaptureLayer* layer = captureLayerOf(block);
    CaptureBuffer* buffer = nullptr;
    for (;;) {
        const WaitEnd end = waitForAudio(block, *layer, buffer);
        if (end == WaitEnd::filled) break;
        if (end == WaitEnd::interrupted) return nullptr;
        if (!layer->recover(end == WaitEnd::timedOut ? kNoAudioInput : nullptr)) {
            reportError(block, kNoAudioInput);
            return nullptr;
        }
        // The patience starts anew after a recovery.
        std::lock_guard<std::mutex> hold(layer->queueLock);
        layer->lastReturn = {};
    }
    reportDeviceError(block, layer->unprepare(buffer));
    return buffer;
}

void convertBuffer(const SoundInputConfig& config, CaptureBuffer& buffer, double* frame) {
    if (buffer.bytesRecorded < buffer.bufferLength) {
        std::memset(buffer.data + buffer.bytesRecorded, 0,
                    buffer.bufferLength - buffer.bytesRecorded);
    }
    if (config.bitsPerSample == 8) {
        convertEightBit(config, buffer.data, frame);
    } else if (config.bitsPerSample == 16) {
        convertSixteenBit(config, buffer.data, frame);
    }
}

int audioFramesIn(const SoundInputConfig& config, const CaptureBuffer& buffer) {
    if ((buffer.flags & kBufferAfterEnd) != 0) return 0;
    const std::uint32_t frameBytes = config.channels * (config.bitsPerSample / 8U);
    if (frameBytes == 0) return 0;
    return static_cast<int>(std::min<std::uint32_t>(buffer.bytesRecorded / frameBytes,
                                                    static_cast<std::uint32_t>(config.frameSize)));
}

bool stopCapture(BlockRecord& block) {
    return !reportDeviceError(block, captureLayerOf(block)->reset());
}

void releaseBuffers(BlockRecord& block) {
    CaptureBuffer** table = bufferTable(block);
    if (table == nullptr) return;
    CaptureLayer* layer = captureLayerOf(block);
    const int count = readSoundInputConfig(block).bufferCount;
    for (int i = 0; i < count; ++i) {
        if (table[i] == nullptr) continue;
        if (layer != nullptr) reportDeviceError(block, layer->unprepare(table[i]));
        delete[] table[i]->data;
        delete table[i];
        table[i] = nullptr;
    }
    delete[] table;
    block.pointerWork[kBufferTableSlot] = nullptr;
    // Nothing is at the layer any more, so no notification can touch the queues.
    emptyQueue(block, kFreeTailSlot, kFreeHeadSlot);
    emptyQueue(block, kFilledTailSlot, kFilledHeadSlot);
}

void closeDevice(BlockRecord& block) {
    reportDeviceError(block, captureLayerOf(block)->close());
}

bool reportDeviceError(BlockRecord& block, int code) {
    if (code == kCaptureOk) return false;
    CaptureLayer* layer = captureLayerOf(block);
    const char* text = layer != nullptr ? layer->errorText(code) : nullptr;
    reportError(block, text != nullptr ? text : fallbackDeviceMessage(code));
    return true;
}

const char* fallbackDeviceMessage(int code) {
    switch (code) {
    case kCaptureBadDeviceId:
        return "Missing sound input device";
    case kCaptureAllocated:
        return "Sound input device busy";
    case kCaptureInvalidHandle:
        return "Invalid device handle";
    case kCaptureNoDriver:
        return "No sound input device driver";
    case kCaptureNoMemory:
        return "Error allocating memory";
    case kCaptureBadFormat:
        return "Sound format unsupported";
    case kCaptureStillPlaying:
        return "Active buffers prevent operation";
    case kCaptureUnprepared:
        return "Buffer unprepared";
    default:
        return "Unknown error";
    }
}

void onDeviceNotification(void* instance, CaptureBuffer* buffer) {
    auto& block = *static_cast<BlockRecord*>(instance);
    CaptureLayer* layer = captureLayerOf(block);
    bool wake = false;
    {
        std::lock_guard<std::mutex> hold(layer->queueLock);
        appendToQueue(block, kFilledTailSlot, kFilledHeadSlot, buffer);
        --block.integerWork[0];
        layer->lastReturn = std::chrono::steady_clock::now();
        wake = batchFilled(block, wakeBatch(*layer, readSoundInputConfig(block).bufferCount));
    }
    if (wake) layer->bufferReturned.notify_one();
}

}  // namespace bm7
