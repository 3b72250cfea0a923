// Clip & Save: turns runs of a clip-enable window into clip files. Each update looks at
// the newest frame of the audio and enable windows and saves every run of nonzero
// enable samples that ends there, then counts the frame. Nothing is kept between frames
// but that count: a run still on at the newest sample is found again, whole, later, or
// saved as far as it goes when the run ends first.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include "driver/block.h"

namespace bm7 {

// Parameters, in order.
enum ClipSaveParam {
    kClipFrameSize,
    kClipWindowLength,
    kClipChannels,
    kClipDeinterleave,
    kClipPrefix,
    kClipDirectory,
    kClipFormatCode,
    kClipStampMode,
    kClipSampleRate,
    kClipSaveParamCount
};

// Whoever runs the model may watch the clips: stamp each one and hear of each one saved,
// with or without the announcement on standard output. Runs are given as stream sample
// indices of the enable signal, so the watcher needs no knowledge of the window.
class ClipSaveObserver {
public:
    virtual ~ClipSaveObserver() = default;
    // The stamp of the clip whose enable run begins at `first`; empty keeps the block's own.
    virtual std::string clipStamp(std::int64_t first) = 0;
    // A clip of the run that ended at `end` was saved under `name`.
    virtual void clipSaved(std::int64_t end, const char* name) = 0;
    // Whether "Saved clip" still goes to standard output: the monitor's users read it,
    // while a scan keeps its own output.
    virtual bool announceClips() const = 0;
};

// Attaches an observer (not owned; null detaches) to a registered Clip & Save block.
void setClipSaveObserver(BlockRecord& block, ClipSaveObserver* observer);

// Samples first ... end - 1 of the window.
struct ClipRange {
    int first = 0;
    int end = 0;
};

// The scan of one frame, over the enable window seen through its element pointers.
// newest is the first index of the newest frame. A run that ends exactly where the
// newest frame begins was still on at the end of the previous frame and so was not
// saved then; it belongs to this frame.
bool runEndsAtFrameStart(const double* const* enable, int windowLength, int newest);
// Where the run that is on at `index` began, stopping at the window's start.
int runStart(const double* const* enable, int index);
// The next run at or after `from` (>= newest) that ends inside the newest frame.
bool nextFinishedRun(const double* const* enable, int windowLength, int newest, int from,
                     ClipRange& run);

// Whether a run of enable samples ends in a frame of `length` samples, given the last
// sample before it: the only frames in which an update saves anything.
bool runEndsInFrame(double before, const double* frame, int length);

// The update of a frame in which no run ends (runEndsInFrame is false): counts the frame
// and reads neither window, so the caller need not have built them.
void countFrameWithoutClips(BlockRecord& block);

// Saves every run that ends in the newest frame, announcing each file on `announce`
// and reporting failures through the error status; the stamp clock reads `now`. With
// the run's FileGuard (file_guard.h), a clip that finds no room on the disk is given up
// and the run goes on; the error status then carries the file and the system's reason
// on a second line.
void saveFinishedClips(BlockRecord& block, std::FILE* announce, std::time_t now);
// At the end of a run, whatever ends it: the run still on at the newest sample is saved
// with the audio seen so far. The block's terminate does this after the last update.
void saveRunInProgress(BlockRecord& block, std::FILE* announce, std::time_t now);

void registerClipSave(BlockRecord* block);

}  // namespace bm7
