// Registration: builds the root record, SimInfo, the storage areas and the 80 child
// records in their fixed order, each wired to its parameters and signals.
#include <cstring>
#include <initializer_list>
#include <utility>

#include "audio/wave_in.h"
#include "blocks/counter.h"
#include "blocks/deinterleave.h"
#include "blocks/downsample.h"
#include "blocks/fifo.h"
#include "blocks/real_fft.h"
#include "blocks/real_ifft.h"
#include "blocks/upsample_hold.h"
#include "blocks/zero_pad.h"
#include "files/clip_save.h"
#include "files/file_exist.h"
#include "files/file_settings.h"
#include "files/to_log_file.h"
#include "model/delay.h"
#include "model/detector_model.h"
#include "model/gated_shift_register.h"
#include "model/integrate.h"
#include "model/pulse_limited_flip_flop.h"

namespace bm7::detector {

namespace {

constexpr const char* kModelPath = "brakmoor7";
constexpr const char* kDcs = "brakmoor7/Detect, Clip & Save";
constexpr const char* kRecognizer = "brakmoor7/Detect, Clip & Save/Detector/Dicksissel Recognizer";

using Param = std::vector<double>;

Param scalar(double value) {
    return {1, 1, value};
}

Param row(std::initializer_list<double> values) {
    Param run{1, static_cast<double>(values.size())};
    run.insert(run.end(), values);
    return run;
}

Param column(std::initializer_list<double> values) {
    Param run{static_cast<double>(values.size()), 1};
    run.insert(run.end(), values);
    return run;
}

std::vector<Param> scalars(std::initializer_list<double> values) {
    std::vector<Param> params;
    for (double value : values) params.push_back(scalar(value));
    return params;
}

// A run of the signal storage that an input port reads.
struct Run {
    double* signal;
    int width;
};

std::string branchName(int branch) {
    return branch == 0 ? "FIR Filter" : "FIR Filter" + std::to_string(branch);
}

// Everything registration needs to know of one child.
struct ChildWiring {
    std::string path;
    BlockMethod registerKind;
    std::vector<Param> params;
    std::vector<Run> inputs;   // one per port; style 1: the runs gathered in order
    std::vector<Run> outputs;  // one per port; style 1: the output vector
    int rate = baseRate;
    bool vectorStyle = false;  // Real FFT, Real IFFT, Zero Pad
};

// The children in registration order, each with its kind, parameters and the signals
// its ports read and write.
class WiringTable {
public:
    WiringTable(const Signals& signals, const FileSettings& files) : s(signals), files(files) {
        wirings.reserve(kChildCount);
        addDetector();
        addRecognizer();
        addDecisionAndFiles();
    }
    std::vector<ChildWiring> wirings;

private:
    static constexpr int F = kFrameLength;

    void add(ChildWiring wiring) { wirings.push_back(std::move(wiring)); }

    // FIFO window, Real FFT and Real IFFT of one overlap-save filter.
    void filter(const std::string& group, const FilterSignals& f, Run input, int window) {
        const int bins = 2 * window;
        add({group + "/FIFO/S-Function",
             registerFifo,
             scalars({double(input.width), double(window), 1, 0}),
             {input},
             {{f.window, window}}});
        add({group + "/Real FFT/FFT(u)",
             registerRealFft,
             {scalar(-1)},
             {{f.window, window}},
             {{f.spectrum, bins}},
             baseRate,
             true});
        add({group + "/Real IFFT/IFFT",
             registerRealIfft,
             {scalar(-1)},
             {{f.productRe, window}, {f.productIm, window}},
             {{f.inverse, bins}},
             baseRate,
             true});
    }

    // Zero Pad, Real FFT and Real IFFT of one overlap-add modulation filter.
    void modulation(const std::string& group, const ModulationSignals& m) {
        const int n = kModulationFftLength;
        add({group + "/Zero Pad/Zero Pad",
             registerZeroPad,
             {column({512, 1})},
             {{s.stage2Output, kStage2Length}},
             {{m.padded, n}},
             baseRate,
             true});
        add({group + "/Real FFT/FFT(u)",
             registerRealFft,
             {scalar(-1)},
             {{m.padded, n}},
             {{m.spectrum, 2 * n}},
             baseRate,
             true});
        add({group + "/Real IFFT/IFFT",
             registerRealIfft,
             {scalar(-1)},
             {{m.productRe, n}, {m.productIm, n}},
             {{m.inverse, 2 * n}},
             baseRate,
             true});
    }

    void integrate(const std::string& path, int frame, int window, Run input, double* output) {
        add({path,
             registerIntegrate,
             scalars({double(frame), 0, double(window), 1, 1, 0}),
             {input},
             {{output, frame}}});
    }

    void downsample(const std::string& path, Run input,
                    const std::array<double*, kBranchCount>& phases) {
        std::vector<Run> outputs;
        for (double* phase : phases) outputs.push_back({phase, input.width / kBranchCount});
        add({path,
             registerDownsample,
             {scalar(input.width), scalar(kBranchCount), row({1, 2, 3, 4, 5, 6, 7, 8})},
             {input},
             outputs});
    }

    void addDetector() {
        add({dcs + "/Select Channel/Deinterleave/Deinterleave/S-Function",
             registerDeinterleave,
             scalars({1, F}),
             {{s.audioFrame, F}},
             {{s.selectedSignal, F}}});
        add({dcs + "/Overload Check Valve/Digital Clock/Counter/S-Function",
             registerCounter,
             scalars({F, 0, 0, 0, 0, 0, 0, 0, 463050, 1, 1, kRatePeriods[baseRate]}),
             {},
             {{s.clockCount, F}}});
        add({std::string(kModelPath) + "/WaveIn/S-Function",
             registerWaveIn,
             scalars({1, 0, kSampleRate, 16, F, 33}),
             {},
             {{s.audioFrame, F}}});
        filter(dcs + "/Detector/FIR Filter", s.band, {s.selectedSignal, F}, kBandFftLength);
        add({dcs + "/Detector/Delay1/S-Function",
             registerDelay,
             scalars({F, kBandPowerDelay, 1, 1}),
             {{s.bandPower, F}},
             {{s.delayedPower, F}}});
        integrate(dcs + "/Detector/Integrate/S-Function", F, 1103, {s.delayedPower, F},
                  s.smoothedEnergy);
        add({dcs + "/Detector/Peak detector/Delay/S-Function",
             registerDelay,
             scalars({F, 441, 1, 0}),
             {{s.currentEnergy, F}},
             {{s.pastEnergy, F}}});
        add({dcs + "/Detector/Peak detector/Counter/S-Function",
             registerCounter,
             scalars({F, 0, 0, 0, 1, 0, 1, 0, 9830.4, 1, 1, kRatePeriods[baseRate]}),
             {},
             {{s.holdOffCount, F}}});
    }

    void addRecognizer() {
        integrate(dr + "/Integrate/S-Function", F, 100, {s.bandPower, F}, s.envelope);
        downsample(dr + "/Downsample by 10/S-Function", {s.envelope, F}, s.stage1Phases);
        for (int p = 0; p < kBranchCount; ++p) {
            filter(dr + "/Downsample by 10/" + branchName(p), s.stage1[p],
                   {s.stage1Phases[p], kStage1Length}, kStage1FftLength);
        }
        downsample(dr + "/Downsample by 8/S-Function", {s.stage1Output, kStage1Length},
                   s.stage2Phases);
        for (int p = 0; p < kBranchCount; ++p) {
            filter(dr + "/Downsample by 8/" + branchName(p), s.stage2[p],
                   {s.stage2Phases[p], kStage2Length}, kStage2FftLength);
        }
        modulation(dr + "/FIR Filter2", s.narrow);
        integrate(dr + "/Integrate1/S-Function", kStage2Length, 310,
                  {s.narrow.power, kStage2Length}, s.narrow.energy);
        modulation(dr + "/FIR Filter3", s.wide);
        integrate(dr + "/Integrate2/S-Function", kStage2Length, 310, {s.wide.power, kStage2Length},
                  s.wide.energy);
        add({dr + "/Upsample & Hold/S-Function",
             registerUpsampleHold,
             {scalar(kStage2Length), scalar(64), row({1})},
             {{s.songPresent, kStage2Length}},
             {{s.songPresentHeld, F}}});
    }

    void addDecisionAndFiles() {
        add({dcs + "/Detector/Peak detector/Pulse Limited Flip Flop/S-Function1",
             registerPulseLimitedFlipFlop,
             scalars({F, 0, 2205, 8820, 1, 0}),
             {{s.resetRequest, F}, {s.setRequest, F}},
             {{s.flipFlopOut, F}}});
        add({dcs + "/Pulse Extend/Counter3/S-Function",
             registerCounter,
             scalars({F, 0, 0, 1, 1, 10001, 1, 0, 0, 1, 0, -1}),
             {{s.flipFlopOut, F}},
             {{s.pulseCount, F}}});
        add({dcs + "/Overload Check Valve/Edge Detect/Delay/S-Function",
             registerDelay,
             scalars({F, 1, 1, 1}),
             {{s.detection, F}},
             {{s.delayedDetection, F}}});
        add({dcs + "/Overload Check Valve/Gated Shift Register/S-Function",
             registerGatedShiftRegister,
             scalars({F, 25, 1, 1}),
             {{s.clockTime, F}, {s.detectionOnset, F}},
             {{s.oldestOnsetTime, F}}});
        add({dcs + "/Delay/S-Function",
             registerDelay,
             scalars({F, kClipAudioDelay, 1, 0}),
             {{s.audioFrame, F}},
             {{s.delayedAudio, F}}});
        add({dcs + "/Clip & Save/FIFO/S-Function",
             registerFifo,
             scalars({F, kClipWindowLength, 1, 0}),
             {{s.delayedAudio, F}},
             {{s.clipAudioWindow, kClipWindowLength}}});
        add({dcs + "/Clip & Save/FIFO1/S-Function",
             registerFifo,
             scalars({F, kClipWindowLength, 1, 0}),
             {{s.clipGate, F}},
             {{s.clipGateWindow, kClipWindowLength}}});
        std::vector<Param> clipParams = scalars({F, kClipWindowLength, 1, 0});
        clipParams.push_back(textParameter(files.clipPrefix));
        clipParams.push_back(textParameter(files.clipDirectory));
        clipParams.push_back(scalar(files.clipFormat));
        clipParams.push_back(scalar(files.stampMode));
        clipParams.push_back(scalar(kSampleRate));
        add({dcs + "/Clip & Save/S-Function",
             registerClipSave,
             std::move(clipParams),
             {{s.clipAudioWindow, kClipWindowLength}, {s.clipGateWindow, kClipWindowLength}},
             {}});
        add({std::string(kModelPath) + "/File Exist/S-Function",
             registerFileExist,
             {textParameter(files.stopFile), scalar(kRatePeriods[checkRate])},
             {},
             {{s.stopValue, 1}},
             checkRate});
        add({dcs + "/Detector/To Log File/S-Function",
             registerToLogFile,
             {scalar(1), scalar(1), textParameter(files.logFile)},
             {{s.hourlyLevelDb, 1}},
             {},
             hourlyRate});
    }

    const Signals& s;
    const FileSettings& files;
    const std::string dcs = kDcs;
    const std::string dr = kRecognizer;
};

}  // namespace

void DetectorModel::buildChildren() {
    std::vector<ChildWiring> wirings = WiringTable(signals_, settings_.files).wirings;
    for (int index = 0; index < kChildCount; ++index) {
        ChildWiring& wiring = wirings[static_cast<std::size_t>(index)];
        auto storage = std::make_unique<ChildStorage>();
        ChildStorage& c = *storage;
        BlockRecord& r = c.record;
        c.path = std::move(wiring.path);
        c.paramRuns = std::move(wiring.params);
        for (const Param& run : c.paramRuns) c.params.push_back({run.data()});

        r.sampleTimeCount = 1;
        r.samplePeriods = &c.period;
        r.sampleOffsets = &c.offset;
        r.sampleTimeTaskIds = &c.taskId;
        r.simInfo = &simInfo_;
        if (wiring.vectorStyle) {
            std::vector<const double*> pointers;
            for (const Run& run : wiring.inputs) {
                for (int i = 0; i < run.width; ++i) pointers.push_back(run.signal + i);
            }
            c.elementPointers.push_back(std::move(pointers));
            r.inputPointers = c.elementPointers.back().data();
            r.outputVector = wiring.outputs.front().signal;
        } else {
            for (const Run& run : wiring.inputs) {
                std::vector<const double*> pointers;
                for (int i = 0; i < run.width; ++i) pointers.push_back(run.signal + i);
                c.elementPointers.push_back(std::move(pointers));
            }
            for (std::size_t port = 0; port < wiring.inputs.size(); ++port) {
                c.inputPorts.push_back(
                    {wiring.inputs[port].width, 1, c.elementPointers[port].data()});
            }
            for (const Run& run : wiring.outputs) {
                c.outputPorts.push_back({run.width, run.signal});
            }
            r.inputCount = static_cast<int>(c.inputPorts.size());
            r.outputCount = static_cast<int>(c.outputPorts.size());
            r.inputPorts = c.inputPorts.data();
            r.outputPorts = c.outputPorts.data();
        }
        r.path = c.path.c_str();
        r.name = r.path + c.path.rfind('/') + 1;
        r.root = &root_;
        r.errorRecord = root_.errorRecord;
        r.paramCount = static_cast<int>(c.params.size());
        r.params = c.params.data();

        wiring.registerKind(&r);
        if (r.methods.initializeSizes) r.methods.initializeSizes(&r);
        if (r.methods.initializeSampleTimes) r.methods.initializeSampleTimes(&r);
        c.period = kRatePeriods[wiring.rate];
        c.offset = 0.0;
        c.taskId = wiring.rate;
        if (wiring.vectorStyle) {
            int inputWidth = 0;
            for (const Run& run : wiring.inputs) inputWidth += run.width;
            r.inputCount = inputWidth;
            r.outputCount = wiring.outputs.front().width;
        }
        children_[static_cast<std::size_t>(index)] = &r;
        storage_[static_cast<std::size_t>(index)] = std::move(storage);
    }
}

}  // namespace bm7::detector
