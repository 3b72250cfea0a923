// The detector model: 80 block instances wired to the model's signal storage, and the
// arithmetic between them, from the captured frame to the clip files, the hourly level
// line and the stop test. The driver runs it through the Model interface.
#pragma once

#include <array>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "audio/capture_layer.h"
#include "driver/block.h"
#include "driver/huge_pages.h"
#include "driver/model.h"
#include "files/clip_save.h"
#include "files/file_guard.h"
#include "files/file_settings.h"
#include "model/detection_report.h"
#include "model/parameters.h"
#include "model/stored_spectra.h"

namespace bm7::detector {

// What a user may choose on the command line; everything else is fixed.
struct ModelSettings {
    FileSettings files;
    // Where the file guard warns of clips refused for space; null: nowhere, for a program
    // that reports them itself (a run without a level log only).
    std::FILE* fileWarnings = stderr;
};

// Positions of the children in registration order; the model calls them by position.
enum Child : int {
    kDeinterleave = 0,
    kClock = 1,
    kWaveIn = 2,
    kBandFifo = 3,
    kBandFft = 4,
    kBandIfft = 5,
    kPowerDelay = 6,
    kEnergyIntegrate = 7,
    kPeakDelay = 8,
    kHoldOffCounter = 9,
    kEnvelopeIntegrate = 10,
    kStage1Downsample = 11,
    kStage1Branches = 12,  // FIFO, FFT(u), IFFT for each of the eight branches
    kStage2Downsample = 36,
    kStage2Branches = 37,
    kNarrowZeroPad = 61,
    kNarrowFft = 62,
    kNarrowIfft = 63,
    kNarrowIntegrate = 64,
    kWideZeroPad = 65,
    kWideFft = 66,
    kWideIfft = 67,
    kWideIntegrate = 68,
    kUpsampleHold = 69,
    kFlipFlop = 70,
    kPulseExtend = 71,
    kEdgeDelay = 72,
    kShiftRegister = 73,
    kClipDelay = 74,
    kClipAudioFifo = 75,
    kClipGateFifo = 76,
    kClipSave = 77,
    kFileExist = 78,
    kToLogFile = 79,
    kChildCount = 80,
};

// One FFT overlap-save filter: FIFO window, spectrum, product and inverse. The product
// is the inverse's input in the block table, but the model has the inverse form each
// product bin where it reads it, from the spectrum's bins up to the middle only, so the
// product signals and the spectrum's upper real parts stay as they started (the upper
// imaginary parts are the forward transform's scratch).
struct FilterSignals {
    double* window = nullptr;
    double* spectrum = nullptr;
    double* productRe = nullptr;
    double* productIm = nullptr;
    double* inverse = nullptr;
};

// One overlap-add modulation filter: padded block, spectrum, product (never stored, as
// above), inverse, sums.
struct ModulationSignals {
    double* padded = nullptr;
    double* spectrum = nullptr;
    double* productRe = nullptr;
    double* productIm = nullptr;
    double* inverse = nullptr;
    double* tail = nullptr;  // copy of the overlap tail during the step
    double* sum = nullptr;   // IFFT values plus tail, 200 values; the first 128 are the output
    double* power = nullptr;
    double* energy = nullptr;
};

// Every signal of the model, carved from the root's one signal area.
struct Signals {
    double* clockCount;
    double* clockTime;
    double* audioFrame;
    double* selectedSignal;
    FilterSignals band;
    double* bandPower;
    double* delayedPower;
    double* smoothedEnergy;
    double* currentEnergy;
    double* pastEnergy;
    double* fallDetected;
    double* holdOffCount;
    double* holdOffActive;
    double* resetRequest;
    double* riseDetected;
    double* setRequest;
    double* envelope;
    std::array<double*, kBranchCount> stage1Phases;
    std::array<FilterSignals, kBranchCount> stage1;
    double* stage1Output;
    std::array<double*, kBranchCount> stage2Phases;
    std::array<FilterSignals, kBranchCount> stage2;
    double* stage2Output;
    ModulationSignals narrow;
    ModulationSignals wide;
    double* songPresent;
    double* songPresentHeld;
    double* flipFlopOut;
    double* pulseCount;
    double* detection;
    double* delayedDetection;
    double* detectionOnset;
    double* oldestOnsetTime;
    double* valveOpen;
    double* clipGate;
    double* delayedAudio;
    double* clipAudioWindow;
    double* clipGateWindow;
    double* frameEnergySum;
    double* hourlyBlock;
    double* hourlyLevelDb;
    double* stopValue;
};

class DetectorModel final : public Model {
public:
    explicit DetectorModel(ModelSettings settings = {});
    ~DetectorModel() override;
    DetectorModel(const DetectorModel&) = delete;
    DetectorModel& operator=(const DetectorModel&) = delete;

    BlockRecord* registerModel() override;
    void declareModelSizes() override;
    void declareModelSampleTimes() override;
    void start() override;
    void outputs(int task) override;
    void update(int task) override;
    void terminate() override;
    int capturedStepsWaiting() override;

    // The audio source of the WaveIn block; not owned. Set before the run starts.
    void setCaptureLayer(CaptureLayer* layer) { captureLayer_ = layer; }
    // Hears of every finished gate run, and of each clip saved in place of standard
    // output; not owned, null for none. Set before the run starts.
    void setDetectionListener(DetectionListener* listener);

    BlockRecord& root() { return root_; }
    const FileGuard& fileGuard() const { return fileGuard_; }
    BlockRecord& child(int index) { return *children_[static_cast<std::size_t>(index)]; }
    const Signals& signals() const { return signals_; }
    std::size_t signalAreaSize() const { return signalArea_.size(); }
    // The whole signal area, every signal in the order laid out, for checks of a step.
    const double* signalArea() const { return signalArea_.data(); }

private:
    // A child's record with everything it points to: path, parameters, ports.
    struct ChildStorage {
        BlockRecord record;
        std::string path;
        std::vector<std::vector<double>> paramRuns;
        std::vector<ParamValue> params;
        std::vector<InputPort> inputPorts;
        std::vector<OutputPort> outputPorts;
        std::vector<std::vector<const double*>> elementPointers;
        double period = 0.0;
        double offset = 0.0;
        int taskId = 0;
    };

    bool runsAt(int rate) const;
    void runSelectChannel();
    void runDetectorChain(int task);
    void transformAndWeigh(int fft, const std::vector<double>& storedSpectrum);
    void runRecognizer(int task);
    void runFilterBank(int firstChild, const std::array<std::vector<double>, kBranchCount>& spectra,
                       int task);
    void runModulationFilter(int firstChild, ModulationSignals& filter,
                             const std::vector<double>& spectrum, const double* overlapTail,
                             int task);
    void runDecisionChain(int task);
    void noteAudioEnd(int audioSamples);
    void finishRunsOnly(int judgedSamples);
    void readHourlyBlock();
    void writeLevel();
    void computeHourlyLevel();
    void updateTail(ModulationSignals& filter, double* overlapTail);
    void watchClips();
    void hourlyFileChecks();

    void buildChildren();
    void layOutSignals();
    void attachSlices();

    ModelSettings settings_;
    StoredSpectra spectra_;
    SimInfo simInfo_;
    BlockRecord root_;
    double taskTimes_[kRateCount] = {};
    int sampleHits_[kRateCount] = {};
    double rootPeriods_[kRateCount] = {};
    double rootOffsets_[kRateCount] = {};
    int rootTaskIds_[kRateCount] = {};
    int modes_[2] = {};

    // The areas every step runs through.
    HugePageVector<double> signalArea_;
    HugePageVector<double> discreteArea_;
    HugePageVector<double> realWorkArea_;
    std::vector<int> integerArea_;
    std::vector<void*> pointerArea_;
    Signals signals_{};

    std::array<std::unique_ptr<ChildStorage>, kChildCount> storage_;
    std::array<BlockRecord*, kChildCount> children_{};

    // Model-owned states.
    double* narrowOverlapTail_ = nullptr;
    double* wideOverlapTail_ = nullptr;
    double* levelBuffer_ = nullptr;
    void** levelPositions_ = nullptr;  // read position, write position, as element addresses
    double branchAEnable_ = 0.0;
    double lastClipGate_ = 0.0;    // the previous frame's last clip gate sample
    std::int64_t frameStart_ = 0;  // the stream index of the current frame's first sample
    // Where the gate stops being judged from audio (see noteAudioEnd); -1 while audio
    // flows. judgedSamples_ is the part of the current frame before it.
    std::int64_t judgedEnd_ = -1;
    int judgedSamples_ = kFrameLength;
    bool clipRunEnds_ = false;  // a gate run ends in this frame: Clip & Save needs its windows
    CaptureLayer* captureLayer_ = nullptr;
    FileGuard fileGuard_;       // reached by Clip & Save and To Log File
    ClipRetention retention_;   // told by the guard of every clip saved
    std::string startProblem_;  // keeps a start-up message alive for the error slot

    // Passes what Clip & Save does to the detection tracker and the listener.
    class ClipWatcher final : public ClipSaveObserver {
    public:
        explicit ClipWatcher(DetectorModel& model) : model_(model) {}
        std::string clipStamp(std::int64_t first) override;
        void clipSaved(std::int64_t end, const char* name) override;
        bool announceClips() const override;

    private:
        DetectorModel& model_;
    };
    DetectionListener* listener_ = nullptr;
    DetectionTracker tracker_;
    ClipWatcher clipWatcher_{*this};
};

}  // namespace bm7::detector
