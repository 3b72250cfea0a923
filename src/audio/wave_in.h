// The WaveIn block: the model's source of audio, one frame of captured samples per step,
// in capture order or one column per channel. Its outputs waits for the next filled
// capture buffer, so the capture layer's clock paces the whole model.
//
// Before start, whoever builds the model hands the block its capture layer with
// placeCaptureLayer (sound_input.h); the block owns nothing else outside its record.
// A finite source ends the run normally: after the frame of the buffer the layer marks
// as the last, the block sets the run's stopRequested.
#pragma once

#include "driver/block.h"

namespace bm7 {

void registerWaveIn(BlockRecord* block);

}  // namespace bm7
