#include "model/detector_model.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <new>
#include <utility>

#include "audio/sound_input.h"
#include "audio/wave_in.h"
#include "blocks/fifo.h"
#include "blocks/real_fft.h"
#include "blocks/real_ifft.h"
#include "driver/frame_loop.h"
#include "driver/nonfinite.h"
#include "files/clip_retention.h"
#include "files/clip_save.h"
#include "files/start_checks.h"
#include "files/stop_file.h"
#include "model/integrate.h"

namespace bm7::detector {

namespace {

// Hands out consecutive runs of one zero-filled area; the area is sized once all runs
// are known, so no pointer moves afterwards.
class SignalCarver {
public:
    void take(double*& slot, int count) {
        pending_.push_back({&slot, used_});
        used_ += static_cast<std::size_t>(count);
    }
    void finish(HugePageVector<double>& area) {
        area.assign(used_, 0.0);
        for (const Pending& p : pending_) *p.slot = area.data() + p.offset;
    }

private:
    struct Pending {
        double** slot;
        std::size_t offset;
    };
    std::vector<Pending> pending_;
    std::size_t used_ = 0;
};

void takeFilter(SignalCarver& carve, FilterSignals& f, int length) {
    carve.take(f.window, length);
    carve.take(f.spectrum, 2 * length);
    carve.take(f.productRe, length);
    carve.take(f.productIm, length);
    carve.take(f.inverse, 2 * length);
}

void takeModulation(SignalCarver& carve, ModulationSignals& m) {
    carve.take(m.padded, kModulationFftLength);
    carve.take(m.spectrum, 2 * kModulationFftLength);
    carve.take(m.productRe, kModulationFftLength);
    carve.take(m.productIm, kModulationFftLength);
    carve.take(m.inverse, 2 * kModulationFftLength);
    carve.take(m.tail, kTailLength);
    carve.take(m.sum, kTailLength);
    carve.take(m.power, kStage2Length);
    carve.take(m.energy, kStage2Length);
}

// The element-wise steps between two blocks. Each works on whole frames through
// unaliased pointers, joins its tests without short-circuits and writes one signal per
// loop, so the compiler may process several samples at once; every sample still gets
// exactly its own operations in their written order.

BM7_FRAME_LOOP void scaleClock(const double* __restrict count, double* __restrict time) {
    for (int i = 0; i < kFrameLength; ++i) time[i] = clockGain * count[i];
}

BM7_FRAME_LOOP void squareFrame(const double* __restrict newest, double* __restrict power) {
    for (int i = 0; i < kFrameLength; ++i) power[i] = newest[i] * newest[i];
}

BM7_FRAME_LOOP void addBias(double bias, const double* __restrict in, double* __restrict out) {
    for (int i = 0; i < kFrameLength; ++i) out[i] = bias + in[i];
}

// The fall ratio is a reciprocal times a product, rounded twice, and must stay so.
BM7_FRAME_LOOP void detectFall(const double* __restrict current,
                               const double* __restrict pastEnergy,
                               double* __restrict fallDetected) {
    for (int i = 0; i < kFrameLength; ++i) {
        const double past = pastEnergyBias + pastEnergy[i];
        const double fall = (1.0 / current[i]) * past;
        fallDetected[i] = fall > peakRatioThreshold ? 1.0 : 0.0;
    }
}

BM7_FRAME_LOOP void detectRise(Signals& s) {
    const double* __restrict holdOffCount = s.holdOffCount;
    const double* __restrict fallDetected = s.fallDetected;
    const double* __restrict current = s.currentEnergy;
    const double* __restrict pastEnergy = s.pastEnergy;
    double* __restrict holdOffActive = s.holdOffActive;
    double* __restrict resetRequest = s.resetRequest;
    double* __restrict riseDetected = s.riseDetected;
    for (int i = 0; i < kFrameLength; ++i) {
        holdOffActive[i] = holdOffCount[i] > holdOffThreshold ? 1.0 : 0.0;
    }
    for (int i = 0; i < kFrameLength; ++i) {
        resetRequest[i] = ((fallDetected[i] != 0.0) | (holdOffActive[i] != 0.0)) ? 1.0 : 0.0;
    }
    for (int i = 0; i < kFrameLength; ++i) {
        const double past = pastEnergyBias + pastEnergy[i];
        const double rise = current[i] / past;
        riseDetected[i] = rise > peakRatioThreshold ? 1.0 : 0.0;
    }
}

BM7_FRAME_LOOP void requestSet(const double* __restrict rise, const double* __restrict songHeld,
                               double* __restrict setRequest) {
    for (int i = 0; i < kFrameLength; ++i) {
        setRequest[i] = ((rise[i] != 0.0) & (songHeld[i] != 0.0)) ? 1.0 : 0.0;
    }
}

BM7_FRAME_LOOP void thresholdPulses(const double* __restrict pulseCount,
                                    double* __restrict detection) {
    for (int i = 0; i < kFrameLength; ++i)
        detection[i] = pulseCount[i] > pulseThreshold ? 1.0 : 0.0;
}

// An onset is a detection whose delayed copy is zero or NaN, that is neither below nor
// above zero.
BM7_FRAME_LOOP void findOnsets(const double* __restrict detection, const double* __restrict delayed,
                               double* __restrict onset) {
    for (int i = 0; i < kFrameLength; ++i) {
        const bool notBefore = !((delayed[i] < 0.0) | (delayed[i] > 0.0));
        onset[i] = (notBefore & (detection[i] != 0.0)) ? 1.0 : 0.0;
    }
}

BM7_FRAME_LOOP void gateClips(Signals& s) {
    const double* __restrict clockTime = s.clockTime;
    const double* __restrict oldestOnset = s.oldestOnsetTime;
    const double* __restrict detection = s.detection;
    double* __restrict valveOpen = s.valveOpen;
    double* __restrict clipGate = s.clipGate;
    for (int i = 0; i < kFrameLength; ++i) {
        const double elapsed = clockTime[i] - oldestOnset[i];
        valveOpen[i] = elapsed > overloadWindow ? 1.0 : 0.0;
    }
    for (int i = 0; i < kFrameLength; ++i) {
        clipGate[i] = ((detection[i] != 0.0) & (valveOpen[i] != 0.0)) ? 1.0 : 0.0;
    }
}

// Sums the newest `length` outputs of the eight branches in the given order, each sum
// left to right; several sums at once, but each in that order.
BM7_FRAME_LOOP void addBranchOutputs(const double* __restrict b0, const double* __restrict b1,
                                     const double* __restrict b2, const double* __restrict b3,
                                     const double* __restrict b4, const double* __restrict b5,
                                     const double* __restrict b6, const double* __restrict b7,
                                     int length, double* __restrict sum) {
    for (int k = 0; k < length; ++k) {
        sum[k] = b0[k] + b1[k] + b2[k] + b3[k] + b4[k] + b5[k] + b6[k] + b7[k];
    }
}

void sumBranches(const std::array<FilterSignals, kBranchCount>& bank,
                 const std::array<int, kBranchCount>& order, int length, double* sum) {
    const auto newest = [&](int b) {
        return bank[static_cast<std::size_t>(order[static_cast<std::size_t>(b)])].inverse + length;
    };
    addBranchOutputs(newest(0), newest(1), newest(2), newest(3), newest(4), newest(5), newest(6),
                     newest(7), length, sum);
}

}  // namespace

DetectorModel::DetectorModel(ModelSettings settings)
    : settings_(std::move(settings)),
      spectra_(buildStoredSpectra()),
      fileGuard_(settings_.files.minFreeBytes, settings_.files.minFreePercent,
                 settings_.fileWarnings),
      retention_(settings_.files.keepDays, systemClocks(), stdout, stderr) {
    if (settings_.files.keepDays > 0) fileGuard_.ageSavedClipsIn(&retention_);
}

DetectorModel::~DetectorModel() = default;

void DetectorModel::layOutSignals() {
    SignalCarver carve;
    Signals& s = signals_;
    const int F = kFrameLength;
    for (double** slot : {&s.clockCount, &s.clockTime, &s.audioFrame, &s.selectedSignal}) {
        carve.take(*slot, F);
    }
    takeFilter(carve, s.band, kBandFftLength);
    for (double** slot : {&s.bandPower, &s.delayedPower, &s.smoothedEnergy, &s.currentEnergy,
                          &s.pastEnergy, &s.fallDetected, &s.holdOffCount, &s.holdOffActive,
                          &s.resetRequest, &s.riseDetected, &s.setRequest, &s.envelope}) {
        carve.take(*slot, F);
    }
    for (int p = 0; p < kBranchCount; ++p) {
        carve.take(s.stage1Phases[p], kStage1Length);
        takeFilter(carve, s.stage1[p], kStage1FftLength);
    }
    carve.take(s.stage1Output, kStage1Length);
    for (int p = 0; p < kBranchCount; ++p) {
        carve.take(s.stage2Phases[p], kStage2Length);
        takeFilter(carve, s.stage2[p], kStage2FftLength);
    }
    carve.take(s.stage2Output, kStage2Length);
    takeModulation(carve, s.narrow);
    takeModulation(carve, s.wide);
    carve.take(s.songPresent, kStage2Length);
    for (double** slot :
         {&s.songPresentHeld, &s.flipFlopOut, &s.pulseCount, &s.detection, &s.delayedDetection,
          &s.detectionOnset, &s.oldestOnsetTime, &s.valveOpen, &s.clipGate, &s.delayedAudio}) {
        carve.take(*slot, F);
    }
    carve.take(s.clipAudioWindow, kClipWindowLength);
    carve.take(s.clipGateWindow, kClipWindowLength);
    carve.take(s.frameEnergySum, 1);
    carve.take(s.hourlyBlock, kLevelBlock);
    carve.take(s.hourlyLevelDb, 1);
    carve.take(s.stopValue, 1);
    carve.finish(signalArea_);
}

// Every child gets consecutive slices of the root's areas, in registration order, as
// large as it declared; the model's own states follow the children's.
void DetectorModel::attachSlices() {
    std::size_t states = 0, reals = 0, integers = 0, pointers = 0;
    const auto declared = [](int count) { return static_cast<std::size_t>(std::max(count, 0)); };
    for (BlockRecord* child : children_) {
        states += declared(child->discStateCount);
        reals += declared(child->realWorkCount);
        integers += declared(child->integerWorkCount);
        pointers += declared(child->pointerWorkCount);
    }
    const bool fits = states + 2 * kTailLength <= kDiscreteStateArea &&
                      reals + kLevelStorage <= kRealWorkArea && integers <= kIntegerWorkArea &&
                      pointers + 2 <= kPointerWorkArea;
    if (!fits) reportError(root_, "Model storage areas are too small for the blocks' declarations");
    discreteArea_.assign(std::max<std::size_t>(states + 2 * kTailLength, kDiscreteStateArea), 0.0);
    realWorkArea_.assign(std::max<std::size_t>(reals + kLevelStorage, kRealWorkArea), 0.0);
    integerArea_.assign(std::max<std::size_t>(integers, kIntegerWorkArea), 0);
    pointerArea_.assign(std::max<std::size_t>(pointers + 2, kPointerWorkArea), nullptr);
    states = reals = integers = pointers = 0;
    for (BlockRecord* child : children_) {
        child->discreteStates = discreteArea_.data() + states;
        child->realWork = realWorkArea_.data() + reals;
        child->integerWork = integerArea_.data() + integers;
        child->pointerWork = pointerArea_.data() + pointers;
        if (child->methods.outputs.withVectors) child->stateVector = child->discreteStates;
        states += declared(child->discStateCount);
        reals += declared(child->realWorkCount);
        integers += declared(child->integerWorkCount);
        pointers += declared(child->pointerWorkCount);
    }
    narrowOverlapTail_ = discreteArea_.data() + states;
    wideOverlapTail_ = narrowOverlapTail_ + kTailLength;
    levelBuffer_ = realWorkArea_.data() + reals;
    levelPositions_ = pointerArea_.data() + pointers;
}

BlockRecord* DetectorModel::registerModel() {
    simInfo_ = SimInfo{};
    root_ = BlockRecord{};
    root_.simInfo = &simInfo_;
    simInfo_.taskTimes = taskTimes_;
    simInfo_.sampleHits = sampleHits_;
    root_.samplePeriods = rootPeriods_;
    root_.sampleOffsets = rootOffsets_;
    root_.sampleTimeTaskIds = rootTaskIds_;
    root_.errorRecord = &root_;
    root_.name = "brakmoor7";
    root_.path = "brakmoor7";
    simInfo_.fixedStepSize = kRatePeriods[baseRate];
    root_.modes = modes_;
    root_.childCount = kChildCount;

    layOutSignals();
    buildChildren();
    attachSlices();
    watchClips();
    placeCaptureLayer(child(kWaveIn), captureLayer_);
    placeFileGuard(child(kClipSave), &fileGuard_);
    placeFileGuard(child(kToLogFile), &fileGuard_);
    root_.children = children_.data();
    root_.discreteStates = discreteArea_.data();
    root_.stateVector = discreteArea_.data();
    root_.realWork = realWorkArea_.data();
    root_.integerWork = integerArea_.data();
    root_.pointerWork = pointerArea_.data();
    return &root_;
}

void DetectorModel::declareModelSizes() {
    root_.contStateCount = 0;
    root_.discStateCount = static_cast<int>(discreteArea_.size());
    root_.outputCount = 0;
    root_.inputCount = 0;
    root_.directFeedthrough = 0;
    root_.sampleTimeCount = kRateCount;
    root_.integerWorkCount = static_cast<int>(integerArea_.size());
    root_.realWorkCount = static_cast<int>(realWorkArea_.size());
    root_.pointerWorkCount = static_cast<int>(pointerArea_.size());
    root_.modeCount = kModeCount;
}

void DetectorModel::declareModelSampleTimes() {
    for (int rate = 0; rate < kRateCount; ++rate) {
        rootPeriods_[rate] = kRatePeriods[rate];
        rootOffsets_[rate] = 0.0;
    }
}

bool DetectorModel::runsAt(int rate) const {
    return simInfo_.timingReady == 1 && sampleHits_[rootTaskIds_[rate]] != 0;
}

void DetectorModel::start() {
    // A monitor left alone must not die at its first detection for want of a folder.
    startProblem_ = prepareRunFiles(settings_.files, stderr);
    // Lets a test kill a clip writer in the middle of a clip.
    if (const char* pause = std::getenv("BM7_TEST_CLIP_PAUSE_MS")) {
        fileGuard_.pauseBeforeRename = std::atoi(pause);
    }
    if (!startProblem_.empty()) {
        reportError(root_, startProblem_.c_str());
        return;
    }
    for (int index : {kClock, kBandFifo, kBandFft, kBandIfft, kPowerDelay, kEnergyIntegrate,
                      kPeakDelay, kHoldOffCounter}) {
        callInitializeConditions(child(index));
    }
    std::fill_n(narrowOverlapTail_, kTailLength, tailInitialNarrow);
    std::copy_n(narrowOverlapTail_, kTailLength, signals_.narrow.tail);
    callInitializeConditions(child(kEnvelopeIntegrate));
    for (int stage : {kStage1Downsample, kStage2Downsample}) {
        callInitializeConditions(child(stage));
        for (int index = stage + 1; index < stage + 1 + 3 * kBranchCount; ++index) {
            callInitializeConditions(child(index));
        }
    }
    // The captured frame is one run, which the channel selection copies in one block.
    findInputRuns(child(kDeinterleave));
    // The filters' windows are read in every frame, so they slide in place.
    slideWindowInPlace(&child(kBandFifo));
    for (int first : {kStage1Branches, kStage2Branches}) {
        for (int p = 0; p < kBranchCount; ++p) slideWindowInPlace(&child(first + 3 * p));
    }
    for (int index : {kNarrowZeroPad, kNarrowFft, kNarrowIfft, kNarrowIntegrate}) {
        callInitializeConditions(child(index));
    }
    std::fill_n(wideOverlapTail_, kTailLength, tailInitialWide);
    std::copy_n(wideOverlapTail_, kTailLength, signals_.wide.tail);
    for (int index : {kWideZeroPad, kWideFft, kWideIfft, kWideIntegrate, kUpsampleHold, kFlipFlop,
                      kPulseExtend, kEdgeDelay, kShiftRegister}) {
        callInitializeConditions(child(index));
    }
    std::fill(levelBuffer_ + kLevelBlock, levelBuffer_ + kLevelStorage, levelBufferInitial);
    levelPositions_[0] = levelBuffer_ + kLevelBlock;
    levelPositions_[1] = levelBuffer_;
    for (int index : {kClipDelay, kClipAudioFifo, kClipGateFifo, kClipSave, kToLogFile}) {
        callInitializeConditions(child(index));
    }
    lastClipGate_ = 0.0;  // the gate window's history starts as zeros
    frameStart_ = 0;
    judgedEnd_ = -1;
    judgedSamples_ = kFrameLength;
    clipRunEnds_ = false;
    callStart(child(kWaveIn));
    tracker_.reset();
    modes_[0] = 0;
    modes_[1] = 0;
}

void DetectorModel::outputs(int task) {
    Signals& s = signals_;
    if (runsAt(baseRate)) {
        callOutputs(child(kClock), task);
        scaleClock(s.clockCount, s.clockTime);
        callOutputs(child(kWaveIn), task);
        noteAudioEnd(audioSamplesInFrame(child(kWaveIn)));
        branchAEnable_ = channelSelect == 0.0 ? 1.0 : 0.0;
    }
    runSelectChannel();
    if (runsAt(baseRate)) {
        runDetectorChain(task);
        runRecognizer(task);
        requestSet(s.riseDetected, s.songPresentHeld, s.setRequest);
        runDecisionChain(task);
    }
    if (runsAt(hourlyRate)) readHourlyBlock();
    if (runsAt(baseRate)) writeLevel();
    if (runsAt(hourlyRate)) computeHourlyLevel();
    if (runsAt(baseRate)) {
        // Clip & Save reads its two windows only in a frame where a gate run ends, and
        // rebuilding them every frame would cost more than all the model's other copies.
        callOutputs(child(kClipDelay), task);
        clipRunEnds_ = runEndsInFrame(lastClipGate_, s.clipGate, kFrameLength);
        // A run still on at the frame's end is saved as it stands when the program's run
        // ends with this frame, so its windows are kept current too.
        const double newestGate = s.clipGate[kFrameLength - 1];
        if (clipRunEnds_ || newestGate < 0.0 || newestGate > 0.0) {
            callOutputs(child(kClipAudioFifo), task);
            callOutputs(child(kClipGateFifo), task);
        }
        callOutputs(child(kClipSave), task);
    }
    if (runsAt(checkRate)) callOutputs(child(kFileExist), task);
    if (runsAt(hourlyRate)) callOutputs(child(kToLogFile), task);
}

// Two enabled sections choose the detector's input: A deinterleaves the captured frame,
// B passes it through. Each runs while its enable is positive; its mode word remembers
// whether it ran, so a disabled section leaves its output as it was.
void DetectorModel::runSelectChannel() {
    const bool base = runsAt(baseRate);
    const bool enableA = base ? branchAEnable_ > 0.0 : modes_[0] != 0;
    const bool enableB = base ? channelSelect > 0.0 : modes_[1] != 0;
    modes_[0] = enableA ? 1 : 0;
    if (enableA && base) callOutputs(child(kDeinterleave), 0);
    modes_[1] = enableB ? 1 : 0;
    if (enableB && base) {
        std::copy_n(signals_.audioFrame, kFrameLength, signals_.selectedSignal);
    }
}

// A filter's Real FFT, then its Real IFFT of the spectrum times the stored one. The
// forward transform stops at the middle bin, since the inverse forms its products there
// and reads the upper bins through their conjugates.
void DetectorModel::transformAndWeigh(int fft, const std::vector<double>& storedSpectrum) {
    realFftLowerHalf(child(fft));
    realIfftOfProduct(child(fft + 1), child(fft).outputVector, storedSpectrum.data());
}

void DetectorModel::runDetectorChain(int task) {
    Signals& s = signals_;
    const int F = kFrameLength;
    callOutputs(child(kBandFifo), task);
    transformAndWeigh(kBandFft, spectra_.band);
    squareFrame(s.band.inverse + F, s.bandPower);
    callOutputs(child(kPowerDelay), task);
    // The envelope belongs to the recognizer, but its input is ready here, and its
    // running sum goes faster beside the energy's than after it; so does the frame's
    // energy sum, which the level log reads.
    integrateOutputsTogether(child(kEnergyIntegrate), child(kEnvelopeIntegrate), s.frameEnergySum);
    addBias(currentEnergyBias, s.smoothedEnergy, s.currentEnergy);
    callOutputs(child(kPeakDelay), task);
    detectFall(s.currentEnergy, s.pastEnergy, s.fallDetected);
    callOutputs(child(kHoldOffCounter), task);
    detectRise(s);
}

void DetectorModel::runFilterBank(int firstChild,
                                  const std::array<std::vector<double>, kBranchCount>& spectra,
                                  int task) {
    for (int p = 0; p < kBranchCount; ++p) {
        const int fifo = firstChild + 3 * p;
        callOutputs(child(fifo), task);
        transformAndWeigh(fifo + 1, spectra[static_cast<std::size_t>(p)]);
    }
}

// Overlap-add of a 201-tap filter on 128-sample blocks: 128 sums go out now, the next
// 200 are carried in the tail.
void DetectorModel::runModulationFilter(int firstChild, ModulationSignals& m,
                                        const std::vector<double>& spectrum,
                                        const double* overlapTail, int task) {
    std::copy_n(overlapTail, kTailLength, m.tail);
    callOutputs(child(firstChild), task);
    transformAndWeigh(firstChild + 1, spectrum);
    for (int j = 0; j < kTailLength; ++j) m.sum[j] = m.inverse[j] + m.tail[j];
    for (int j = 0; j < kStage2Length; ++j) m.power[j] = m.sum[j] * m.sum[j];
    callOutputs(child(firstChild + 3), task);
}

void DetectorModel::runRecognizer(int task) {
    Signals& s = signals_;
    callOutputs(child(kStage1Downsample), task);
    runFilterBank(kStage1Branches, spectra_.stage1, task);
    // The branch sums keep the accumulation order the filter bank was tuned with.
    sumBranches(s.stage1, {1, 3, 5, 7, 0, 2, 4, 6}, kStage1Length, s.stage1Output);
    callOutputs(child(kStage2Downsample), task);
    runFilterBank(kStage2Branches, spectra_.stage2, task);
    sumBranches(s.stage2, {2, 1, 0, 5, 7, 4, 3, 6}, kStage2Length, s.stage2Output);
    runModulationFilter(kNarrowZeroPad, s.narrow, spectra_.narrow, narrowOverlapTail_, task);
    runModulationFilter(kWideZeroPad, s.wide, spectra_.wide, wideOverlapTail_, task);
    double* ratios = tracker_.frameRatios();
    for (int j = 0; j < kStage2Length; ++j) {
        const double ratio = s.narrow.energy[j] / s.wide.energy[j];
        s.songPresent[j] = ratio > songRatioThreshold ? 1.0 : 0.0;
        ratios[j] = ratio;  // kept for the detection report, which reads the same value
    }
    callOutputs(child(kUpsampleHold), task);
}

void DetectorModel::runDecisionChain(int task) {
    Signals& s = signals_;
    callOutputs(child(kFlipFlop), task);
    callOutputs(child(kPulseExtend), task);
    thresholdPulses(s.pulseCount, s.detection);
    callOutputs(child(kEdgeDelay), task);
    findOnsets(s.detection, s.delayedDetection, s.detectionOnset);
    callOutputs(child(kShiftRegister), task);
    gateClips(s);
    if (judgedSamples_ < kFrameLength) finishRunsOnly(judgedSamples_);
}

// When the audio ends (a recording, or a stop), silence follows it, so that a song under
// way is completed. The onset test sees the band power kBandPowerDelay samples late, so the
// gate is judged from audio that long after the end; after that its energies are the
// padding's rounding errors, whose ratios make onsets and song ratios of no song.
void DetectorModel::noteAudioEnd(int audioSamples) {
    if (audioSamples < kFrameLength && judgedEnd_ < 0) {
        judgedEnd_ = frameStart_ + audioSamples + kBandPowerDelay;
    }
    const std::int64_t left = judgedEnd_ < 0 ? kFrameLength : judgedEnd_ - frameStart_;
    judgedSamples_ = static_cast<int>(std::clamp<std::int64_t>(left, 0, kFrameLength));
}

// The samples no longer judged from audio may keep a run of the clip gate on, but never
// open one.
void DetectorModel::finishRunsOnly(int judgedSamples) {
    double* gate = signals_.clipGate;
    int closed = judgedSamples;
    if (isOn(judgedSamples > 0 ? gate[judgedSamples - 1] : lastClipGate_)) {
        while (closed < kFrameLength && isOn(gate[closed])) ++closed;
    }
    std::fill(gate + closed, gate + kFrameLength, 0.0);
}

// The hourly block is read before the frame's sum is written, so the first hour reads
// the initial values.
void DetectorModel::readHourlyBlock() {
    double* read = static_cast<double*>(levelPositions_[0]);
    const long position = read - levelBuffer_;
    const long available = kLevelStorage - position;
    if (available >= kLevelBlock) {
        std::copy_n(read, kLevelBlock, signals_.hourlyBlock);
        read = available == kLevelBlock ? levelBuffer_ : read + kLevelBlock;
    } else {
        std::copy_n(read, available, signals_.hourlyBlock);
        std::copy_n(levelBuffer_, kLevelBlock - available, signals_.hourlyBlock + available);
        read = levelBuffer_ + (kLevelBlock - available);
    }
    levelPositions_[0] = read;
}

void DetectorModel::writeLevel() {
    double* write = static_cast<double*>(levelPositions_[1]);
    *write = signals_.frameEnergySum[0];
    ++write;
    levelPositions_[1] = write == levelBuffer_ + kLevelStorage ? levelBuffer_ : write;
}

void DetectorModel::computeHourlyLevel() {
    double sum = signals_.hourlyBlock[0];
    for (int i = 1; i < kLevelBlock; ++i) sum += signals_.hourlyBlock[i];
    const double mean = levelScale * sum;
    const double level = mean > 0.0 ? std::log10(mean) : rtMinusInf;
    signals_.hourlyLevelDb[0] = levelDbFactor * level;
}

void DetectorModel::updateTail(ModulationSignals& m, double* overlapTail) {
    const int carried = kTailLength - kStage2Length;  // 72
    std::copy_n(m.sum + kStage2Length, carried, overlapTail);
    std::copy_n(m.inverse + kTailLength, kStage2Length, overlapTail + carried);
}

void DetectorModel::update(int task) {
    if (runsAt(baseRate)) {
        callUpdate(child(kClock), task);
        for (int index : {kBandFifo, kPowerDelay, kEnergyIntegrate, kPeakDelay, kHoldOffCounter}) {
            callUpdate(child(index), task);
        }
        updateTail(signals_.narrow, narrowOverlapTail_);
        callUpdate(child(kEnvelopeIntegrate), task);
        for (int p = 0; p < kBranchCount; ++p) callUpdate(child(kStage1Branches + 3 * p), task);
        for (int p = 0; p < kBranchCount; ++p) callUpdate(child(kStage2Branches + 3 * p), task);
        callUpdate(child(kNarrowIntegrate), task);
        updateTail(signals_.wide, wideOverlapTail_);
        for (int index : {kWideIntegrate, kFlipFlop, kPulseExtend, kEdgeDelay}) {
            callUpdate(child(index), task);
        }
        for (int index : {kClipDelay, kClipAudioFifo, kClipGateFifo})
            callUpdate(child(index), task);
        if (clipRunEnds_) {
            callUpdate(child(kClipSave), task);
        } else {
            countFrameWithoutClips(child(kClipSave));
        }
        lastClipGate_ = signals_.clipGate[kFrameLength - 1];
        // After Clip & Save, so that a run ending here knows its clip.
        if (listener_ != nullptr) {
            tracker_.trackFrame(frameStart_, signals_.clipGate, signals_.currentEnergy,
                                judgedSamples_, *listener_);
        }
        frameStart_ += kFrameLength;
    }
    if (runsAt(hourlyRate)) {
        callUpdate(child(kToLogFile), task);
        hourlyFileChecks();
    }
    if (runsAt(checkRate)) {
        const double stop = signals_.stopValue[0];
        if (stop != 0.0 && !std::isnan(stop) && simInfo_.stopRequested == 0) {
            simInfo_.stopRequested = 1;
            retireStopFile(settings_.files.stopFile, stderr);
        }
    }
}

// Hourly housekeeping builds names on the heap; a failure to get memory skips an hour
// rather than unwinding through the step.
void DetectorModel::hourlyFileChecks() {
    try {
        fileGuard_.reportRefusals();
        if (settings_.files.keepDays > 0) {
            retention_.hourlyCheck(child(kClipSave));
        }
    } catch (const std::bad_alloc&) {
    }
}

void DetectorModel::terminate() {
    callTerminate(child(kClock));
    callTerminate(child(kWaveIn));
    callTerminate(child(kDeinterleave));
    for (int index = kBandFifo; index < kChildCount; ++index) callTerminate(child(index));
    // After Clip & Save has saved the run still under way, so that its report names the clip.
    if (listener_ != nullptr) tracker_.finish(frameStart_, *listener_);
    fileGuard_.reportRefusals();
}

int DetectorModel::capturedStepsWaiting() {
    return filledBuffersWaiting(child(kWaveIn));
}

void DetectorModel::setDetectionListener(DetectionListener* listener) {
    listener_ = listener;
    if (children_[kClipSave] != nullptr) watchClips();
}

void DetectorModel::watchClips() {
    setClipSaveObserver(child(kClipSave), listener_ != nullptr ? &clipWatcher_ : nullptr);
}

std::string DetectorModel::ClipWatcher::clipStamp(std::int64_t first) {
    return model_.listener_->clipStamp(first - kClipAudioDelay);
}

void DetectorModel::ClipWatcher::clipSaved(std::int64_t end, const char* name) {
    model_.tracker_.noteClip(end, name);
}

bool DetectorModel::ClipWatcher::announceClips() const {
    return model_.listener_->announceClips();
}

}  // namespace bm7::detector
