// The WaveIn block: the model's source of audio, one frame of captured samples per step,
// in capture order or one column per channel. Its outputs waits for the next filled
// capture buffer, so the capture layer's clock paces the whole model.
//
// Before start, whoever builds the model hands the block its capture layer with
// placeCaptureLayer (sound_input.h); the block owns nothing else outside its record.
// A finite source ends the run normally: after the frame of the buffer the layer marks
// as the last, the block sets the run's stopRequested.
//
// integerWork[kAudioSamplesSlot] says how many of the current frame's samples are audio:
// all of them, but for the last frame of a finite source (the rest is padding) and the
// silence after it or after a stop (none).
#pragma once

#include "driver/block.h"

namespace bm7 {

inline constexpr int kAudioSamplesSlot = 1;

void registerWaveIn(BlockRecord* block);

// The samples of the frame just output that are audio, from its start.
int audioSamplesInFrame(const BlockRecord& waveIn);

}  // namespace bm7
