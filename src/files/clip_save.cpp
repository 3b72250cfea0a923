#include "files/clip_save.h"

#include <algorithm>
#include <cerrno>
#include <new>
#include <string>

#include "driver/frame_loop.h"
#include "files/clip_name.h"
#include "files/clip_writers.h"
#include "files/file_guard.h"
#include "files/text_param.h"

namespace bm7 {

namespace {

bool enabledAt(const double* const* enable, int index) {
    return isOn(*enable[index]);
}

ClipSamples clipSamples(const BlockRecord& block, const ClipRange& run) {
    ClipSamples clip;
    clip.window = block.inputPorts[0].elementPointers;
    clip.windowLength = paramInt(block, kClipWindowLength);
    clip.channels = paramInt(block, kClipChannels);
    clip.channelMajor = paramInt(block, kClipDeinterleave) != 0;
    clip.first = run.first;
    clip.end = run.end;
    clip.sampleRate = paramReal(block, kClipSampleRate);
    return clip;
}

ClipSaveObserver* observerOf(const BlockRecord& block) {
    return block.pointerWorkCount >= 2 && block.pointerWork != nullptr
               ? static_cast<ClipSaveObserver*>(block.pointerWork[1])
               : nullptr;
}

// The stream sample of a window index: the newest frame is the frame last counted.
std::int64_t streamSample(const BlockRecord& block, int index) {
    const int frameSize = paramInt(block, kClipFrameSize);
    return std::int64_t{block.integerWork[0]} * frameSize + index -
           (paramInt(block, kClipWindowLength) - frameSize);
}

std::string clipStem(const BlockRecord& block, const ClipRange& run, std::time_t now) {
    TextBuffer directory;
    TextBuffer prefix;
    std::string stamp;
    if (ClipSaveObserver* observer = observerOf(block)) {
        stamp = observer->clipStamp(streamSample(block, run.first));
    }
    if (stamp.empty()) {
        const double seconds =
            streamSeconds(run.first, block.integerWork[0], paramInt(block, kClipFrameSize),
                          paramReal(block, kClipSampleRate));
        stamp = clipStamp(paramInt(block, kClipStampMode), seconds, now);
    }
    return std::string(readTextParam(block, kClipDirectory, directory)) + "/" +
           readTextParam(block, kClipPrefix, prefix) + stamp;
}

std::string clipDirectory(const BlockRecord& block) {
    TextBuffer directory;
    return readTextParam(block, kClipDirectory, directory);
}

// A clip that finds no room is given up and the run goes on; any other failure ends it.
void reportClipFailure(BlockRecord& block, FileGuard* guard, const char* failure,
                       const ClipWriteReport& report) {
    if (guard == nullptr) {
        reportError(block, failure);
    } else if (isSpaceError(report.error)) {
        guard->clipRefused(clipDirectory(block), report.error);
    } else {
        reportError(block, guard->failure(failure, report.detail));
    }
}

// Between the probe for a free name and the rename another writer may take that name;
// the clip then looks for the next one, a few times at most.
constexpr int kNameAttempts = 8;

struct StoredClip {
    const char* failure = nullptr;
    std::string name;
    ClipWriteReport report;
};

// Writes the clip under the first free name of `stem`. A clip folder removed under a
// running station is made again once, so that the clip is still saved.
StoredClip storeClip(const ClipFormat& format, const std::string& stem, const ClipSamples& samples,
                     FileGuard* guard, const std::string& folder) {
    StoredClip stored;
    bool folderRemade = false;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        stored.name = freeClipName(stem, format.extension);
        stored.report = {};
        if (guard != nullptr) stored.report.pauseBeforeRename = guard->pauseBeforeRename;
        stored.failure = format.write(stored.name.c_str(), samples, &stored.report);
        if (stored.failure == nullptr) break;
        if (stored.report.error == ENOENT && guard != nullptr && !folderRemade) {
            folderRemade = guard->remakeVanishedFolder(folder);
            if (folderRemade) continue;
        }
        if (stored.report.error != EEXIST) break;
    }
    return stored;
}

// Returns the name the clip was saved under; empty when it was not saved.
std::string writeClip(BlockRecord& block, const ClipRange& run, std::FILE* announce,
                      std::time_t now) {
    const ClipFormat* format = clipFormat(paramInt(block, kClipFormatCode));
    if (format == nullptr) return "";
    FileGuard* guard = fileGuardOf(block);
    const std::string folder = clipDirectory(block);
    if (guard != nullptr && !guard->roomForClip(folder)) return "";
    const StoredClip stored =
        storeClip(*format, clipStem(block, run, now), clipSamples(block, run), guard, folder);
    if (stored.failure != nullptr) {
        reportClipFailure(block, guard, stored.failure, stored.report);
        return "";
    }
    const std::string& name = stored.name;
    if (guard != nullptr) guard->clipSaved(folder, name);
    ClipSaveObserver* observer = observerOf(block);
    if (observer != nullptr) observer->clipSaved(streamSample(block, run.end), name.c_str());
    if (observer == nullptr || observer->announceClips()) {
        // Flushed at once: the console of an unattended run may be a pipe or a file.
        std::fprintf(announce, "Saved clip %s\n", name.c_str());
        std::fflush(announce);
    }
    return name;
}

// Names and messages are built on the heap; running out of it must not unwind through
// the block.
std::string saveClip(BlockRecord& block, const ClipRange& run, std::FILE* announce,
                     std::time_t now) {
    try {
        return writeClip(block, run, announce, now);
    } catch (const std::bad_alloc&) {
        reportError(block, kClipCreateError);
        return "";
    }
}

void initializeSizes(BlockRecord* block) {
    const int windowLength = paramInt(*block, kClipWindowLength);
    block->paramCountExpected = kClipSaveParamCount;
    block->contStateCount = 0;
    block->discStateCount = 1;
    block->sampleTimeCount = 1;
    block->integerWorkCount = 1;
    block->realWorkCount = 0;
    block->pointerWorkCount = 2;  // the run's FileGuard, then the observer
    block->inputCount = 2;
    block->outputCount = 0;
    block->inputPorts[0].width = paramInt(*block, kClipChannels) * windowLength;
    block->inputPorts[0].directFeedthrough = 1;
    block->inputPorts[1].width = windowLength;
    block->inputPorts[1].directFeedthrough = 1;
}

void initializeConditions(BlockRecord* block) {
    block->integerWork[0] = 0;
}

void update(BlockRecord* block, int) {
    saveFinishedClips(*block, stdout, std::time(nullptr));
    countFrameWithoutClips(*block);
}

void terminate(BlockRecord* block) {
    // The last update already counted the frame the window ends with.
    --block->integerWork[0];
    saveRunInProgress(*block, stdout, std::time(nullptr));
}

}  // namespace

bool runEndsAtFrameStart(const double* const* enable, int windowLength, int newest) {
    return newest > 0 && newest < windowLength && enabledAt(enable, newest - 1) &&
           !enabledAt(enable, newest);
}

int runStart(const double* const* enable, int index) {
    while (index > 0 && enabledAt(enable, index - 1)) --index;
    return index;
}

bool nextFinishedRun(const double* const* enable, int windowLength, int newest, int from,
                     ClipRange& run) {
    int first = from;
    while (first < windowLength && !enabledAt(enable, first)) ++first;
    if (first == windowLength) return false;
    int end = std::max(first, newest);
    if (first == newest) first = runStart(enable, first);
    while (end < windowLength && enabledAt(enable, end)) ++end;
    if (end == windowLength) return false;
    run = {first, end};
    return true;
}

namespace {

// Looked at in every frame, so the scan goes through blocks of a fixed length that the
// compiler handles several samples at a time: a fall is an on sample followed by an off one.
constexpr int kFallScanBlock = 256;

BM7_FRAME_LOOP bool fallsInBlock(const double* __restrict previous,
                                 const double* __restrict frame) {
    long falls = 0;
    for (int j = 0; j < kFallScanBlock; ++j) falls |= isOn(previous[j]) & !isOn(frame[j]);
    return falls != 0;
}

}  // namespace

bool runEndsInFrame(double before, const double* frame, int length) {
    if (length <= 0) return false;
    bool falls = isOn(before) && !isOn(frame[0]);
    int i = 1;
    for (; i + kFallScanBlock <= length && !falls; i += kFallScanBlock)
        falls = fallsInBlock(frame + i - 1, frame + i);
    for (; i < length && !falls; ++i) falls = isOn(frame[i - 1]) && !isOn(frame[i]);
    return falls;
}

void countFrameWithoutClips(BlockRecord& block) {
    ++block.integerWork[0];
}

void saveFinishedClips(BlockRecord& block, std::FILE* announce, std::time_t now) {
    const int windowLength = paramInt(block, kClipWindowLength);
    if (windowLength <= 0 || paramInt(block, kClipChannels) <= 0) return;
    TextBuffer directory;
    if (*readTextParam(block, kClipDirectory, directory) == '\0') return;  // clips are off
    const int newest = windowLength - std::clamp(paramInt(block, kClipFrameSize), 0, windowLength);
    const double* const* enable = block.inputPorts[1].elementPointers;
    if (runEndsAtFrameStart(enable, windowLength, newest)) {
        saveClip(block, {runStart(enable, newest - 1), newest}, announce, now);
    }
    ClipRange run;
    for (int from = newest; nextFinishedRun(enable, windowLength, newest, from, run);
         from = run.end) {
        saveClip(block, run, announce, now);
    }
}

void saveRunInProgress(BlockRecord& block, std::FILE* announce, std::time_t now) {
    const int windowLength = paramInt(block, kClipWindowLength);
    if (windowLength <= 0 || paramInt(block, kClipChannels) <= 0) return;
    TextBuffer directory;
    if (*readTextParam(block, kClipDirectory, directory) == '\0') return;  // clips are off
    const double* const* enable = block.inputPorts[1].elementPointers;
    if (!enabledAt(enable, windowLength - 1)) return;
    saveClip(block, {runStart(enable, windowLength - 1), windowLength}, announce, now);
}

void setClipSaveObserver(BlockRecord& block, ClipSaveObserver* observer) {
    block.pointerWork[1] = observer;
}

void registerClipSave(BlockRecord* block) {
    MethodTable& methods = block->methods;
    methods.initializeSizes = initializeSizes;
    methods.initializeSampleTimes = inheritSampleTime;
    methods.initializeConditions.byRecord = initializeConditions;
    methods.outputs.byRecord = emptyTaskMethod;
    methods.update = update;
    methods.terminate = terminate;
}

}  // namespace bm7
