// The sound input manager: a ring of capture buffers that circulate between a capture
// layer and the WaveIn block, so that audio arrives without a break and in order. All of
// its state lives in the WaveIn block's record: six parameters and the work vectors.
//
// Work vectors: pointerWork holds, by slot, the buffer table, the filled queue's tail and
// head, the device handle (the capture layer itself), the free queue's tail and head;
// integerWork[0] counts the buffers queued at the layer and not yet returned. Whoever
// builds the model places the CaptureLayer in kDeviceHandleSlot with placeCaptureLayer
// after registration and before start; the block does not own it. The layer must outlive
// the run, because an error text the run reports may live in it, and must be reset or
// destroyed before the record's storage goes when a run ends in an error (the block's
// terminate is not called then, and a device would go on returning buffers).
//
// Threads: the layer's notification appends to the filled queue and decrements the count
// on the layer's thread. The filled queue and the count are therefore read and written
// only under the layer's queueLock, and the model thread, once the filled queue is
// empty, sleeps on bufferReturned until a batch has gathered; the free queue and the
// table belong to the model thread. Every buffer is always in exactly one place: the
// free queue, at the layer, the filled queue, or in the hands of the WaveIn block's
// outputs.
#pragma once

#include <cstdint>

#include "audio/capture_layer.h"
#include "driver/block.h"

namespace bm7 {

enum SoundInputSlot : int {
    kBufferTableSlot = 0,
    kFilledTailSlot = 1,
    kFilledHeadSlot = 2,
    kDeviceHandleSlot = 3,
    kFreeTailSlot = 4,
    kFreeHeadSlot = 5,
    kSoundInputSlotCount = 6,
};

inline constexpr int MaxQueuedAtDevice = 85;

// The parameters, read as integers (halves round up) and narrowed to their widths.
struct SoundInputConfig {
    std::uint16_t channels = 0;
    bool deinterleave = false;
    std::int32_t sampleRate = 0;
    std::uint16_t bitsPerSample = 0;
    std::int32_t frameSize = 0;
    std::uint16_t bufferCount = 0;
};

SoundInputConfig readSoundInputConfig(const BlockRecord& block);
void placeCaptureLayer(BlockRecord& block, CaptureLayer* layer);
CaptureLayer* captureLayerOf(const BlockRecord& block);
int queuedAtDevice(const BlockRecord& block);
// Filled buffers that no step has taken yet: audio captured but not yet analysed.
int filledBuffersWaiting(const BlockRecord& block);

// The start sequence: allocate, open, prime every buffer, start capture. Stops at the
// first reported error.
void startSoundInput(BlockRecord& block);
// The stop sequence: reset, release, close. A failed reset leaves everything as it is.
void stopSoundInput(BlockRecord& block);

// The steps the sequences are made of.
void allocateBuffers(BlockRecord& block);
void openDevice(BlockRecord& block);
void recycleBuffer(BlockRecord& block, CaptureBuffer* buffer);
void refillDevice(BlockRecord& block);
void startCapture(BlockRecord& block);
// Takes the oldest filled buffer; once none is left, waits until the layer's batch of
// them is there (see CaptureLayer::wakeBatch). When none returns within the playing
// time of all buffers together, or the layer lost its source, the layer may recover
// (see capture_layer.h); otherwise the answer is null after "No audio input".
// Null without an error when the wait was interrupted and no filled buffer was left.
CaptureBuffer* takeFilledBuffer(BlockRecord& block);
// Zero-fills the unrecorded tail of the buffer, then converts frameSize sample frames.
void convertBuffer(const SoundInputConfig& config, CaptureBuffer& buffer, double* frame);
// How many of the buffer's sample frames are audio: those recorded, none in the silence
// after a source's end.
int audioFramesIn(const SoundInputConfig& config, const CaptureBuffer& buffer);
bool stopCapture(BlockRecord& block);
void releaseBuffers(BlockRecord& block);
void closeDevice(BlockRecord& block);

// False for code 0. Otherwise sets the error status to the layer's text for the code,
// or to the fixed message for it when the layer has none, and returns true.
bool reportDeviceError(BlockRecord& block, int code);
const char* fallbackDeviceMessage(int code);

// The layer's notification: `instance` is the WaveIn block's record.
void onDeviceNotification(void* instance, CaptureBuffer* buffer);

}  // namespace bm7
