#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/detector_model.h"

namespace bm7::detector {
namespace {

const std::string kDcs = "brakmoor7/Detect, Clip & Save/";
const std::string kDr = kDcs + "Detector/Dicksissel Recognizer/";

struct Expected {
    std::string path;
    std::vector<double> firstParams;  // leading scalar parameters
    int rate;
};

std::vector<std::string> filterPaths(const std::string& group) {
    return {group + "/FIFO/S-Function", group + "/Real FFT/FFT(u)", group + "/Real IFFT/IFFT"};
}

std::vector<std::string> expectedPaths() {
    std::vector<std::string> paths = {
        kDcs + "Select Channel/Deinterleave/Deinterleave/S-Function",
        kDcs + "Overload Check Valve/Digital Clock/Counter/S-Function",
        "brakmoor7/WaveIn/S-Function",
    };
    const auto append = [&paths](const std::vector<std::string>& more) {
        paths.insert(paths.end(), more.begin(), more.end());
    };
    append(filterPaths(kDcs + "Detector/FIR Filter"));
    append({kDcs + "Detector/Delay1/S-Function", kDcs + "Detector/Integrate/S-Function",
            kDcs + "Detector/Peak detector/Delay/S-Function",
            kDcs + "Detector/Peak detector/Counter/S-Function", kDr + "Integrate/S-Function",
            kDr + "Downsample by 10/S-Function"});
    const char* branches[] = {"FIR Filter",  "FIR Filter1", "FIR Filter2", "FIR Filter3",
                              "FIR Filter4", "FIR Filter5", "FIR Filter6", "FIR Filter7"};
    for (const char* branch : branches) append(filterPaths(kDr + "Downsample by 10/" + branch));
    append({kDr + "Downsample by 8/S-Function"});
    for (const char* branch : branches) append(filterPaths(kDr + "Downsample by 8/" + branch));
    for (const char* group : {"FIR Filter2", "FIR Filter3"}) {
        append({kDr + group + "/Zero Pad/Zero Pad", kDr + group + "/Real FFT/FFT(u)",
                kDr + group + "/Real IFFT/IFFT",
                kDr + (std::string(group) == "FIR Filter2" ? "Integrate1" : "Integrate2") +
                    "/S-Function"});
    }
    append({kDr + "Upsample & Hold/S-Function",
            kDcs + "Detector/Peak detector/Pulse Limited Flip Flop/S-Function1",
            kDcs + "Pulse Extend/Counter3/S-Function",
            kDcs + "Overload Check Valve/Edge Detect/Delay/S-Function",
            kDcs + "Overload Check Valve/Gated Shift Register/S-Function",
            kDcs + "Delay/S-Function", kDcs + "Clip & Save/FIFO/S-Function",
            kDcs + "Clip & Save/FIFO1/S-Function", kDcs + "Clip & Save/S-Function",
            "brakmoor7/File Exist/S-Function", kDcs + "Detector/To Log File/S-Function"});
    return paths;
}

class Registration : public ::testing::Test {
protected:
    void SetUp() override {
        root = model.registerModel();
        model.declareModelSizes();
        model.declareModelSampleTimes();
    }
    DetectorModel model;
    BlockRecord* root = nullptr;
};

TEST_F(Registration, ChildrenComeInTheirFixedOrderWithPathsAndNames) {
    const std::vector<std::string> paths = expectedPaths();
    ASSERT_EQ(paths.size(), 80U);
    ASSERT_EQ(root->childCount, 80);
    for (int i = 0; i < 80; ++i) {
        const BlockRecord& child = *root->children[i];
        EXPECT_EQ(child.path, paths[static_cast<std::size_t>(i)]) << i;
        const std::string path = child.path;
        EXPECT_EQ(child.name, path.substr(path.rfind('/') + 1)) << i;
    }
}

TEST_F(Registration, RootCountsEqualTheSizesOfItsAreas) {
    EXPECT_STREQ(root->name, "brakmoor7");
    EXPECT_EQ(root->errorRecord, root);
    EXPECT_EQ(root->discStateCount, 94260);
    EXPECT_EQ(root->realWorkCount, 19388);
    EXPECT_EQ(root->integerWorkCount, 37);
    EXPECT_EQ(root->pointerWorkCount, 17);
    EXPECT_EQ(root->modeCount, 2);
    EXPECT_EQ(root->sampleTimeCount, 3);
    EXPECT_EQ(root->contStateCount, 0);
    EXPECT_EQ(root->stateVector, root->discreteStates);
    EXPECT_EQ(root->samplePeriods[0], 0.3715192743764172);
    EXPECT_EQ(root->samplePeriods[1], 1.114557823129252);
    EXPECT_EQ(root->samplePeriods[2], 3600.021768707483);
    EXPECT_EQ(root->simInfo->fixedStepSize, 0.3715192743764172);
}

TEST_F(Registration, EveryChildSharesTheRootsRecordsAndRunsAtItsTableRate) {
    for (int i = 0; i < 80; ++i) {
        const BlockRecord& child = *root->children[i];
        EXPECT_EQ(child.simInfo, root->simInfo) << i;
        EXPECT_EQ(child.errorRecord, root) << i;
        EXPECT_EQ(child.root, root) << i;
        const int rate = i == kFileExist ? 1 : i == kToLogFile ? 2 : 0;
        EXPECT_EQ(child.sampleTimeTaskIds[0], rate) << i;
        EXPECT_EQ(child.samplePeriods[0], root->samplePeriods[rate]) << i;
        EXPECT_EQ(child.sampleOffsets[0], 0.0) << i;
        EXPECT_EQ(child.paramCount, child.paramCountExpected) << i;
    }
}

TEST_F(Registration, VectorBlocksCarryTheTableWidthsNotTheirDeclaredOnes) {
    const struct {
        int child, in, out;
    } widths[] = {{kBandFft, 16384, 32768},
                  {kBandIfft, 32768, 32768},
                  {kStage1Branches + 1, 2048, 4096},
                  {kStage1Branches + 2, 4096, 4096},
                  {kStage2Branches + 1, 256, 512},
                  {kStage2Branches + 2, 512, 512},
                  {kNarrowZeroPad, 128, 512},
                  {kWideFft, 512, 1024},
                  {kWideIfft, 1024, 1024}};
    for (const auto& w : widths) {
        EXPECT_EQ(model.child(w.child).inputCount, w.in) << w.child;
        EXPECT_EQ(model.child(w.child).outputCount, w.out) << w.child;
    }
}

TEST_F(Registration, PortsAndParametersFollowTheInstanceTable) {
    const BlockRecord& clock = model.child(kClock);
    EXPECT_EQ(clock.inputCount, 0);
    EXPECT_EQ(clock.outputPorts[0].width, 8192);
    EXPECT_EQ(paramReal(clock, 8), 463050.0);
    EXPECT_EQ(paramReal(model.child(kHoldOffCounter), 8), 9830.4);
    const BlockRecord& stage1 = model.child(kStage1Downsample);
    EXPECT_EQ(stage1.outputCount, 8);
    EXPECT_EQ(stage1.outputPorts[7].width, 1024);
    EXPECT_EQ(paramCols(stage1, 2), 8);
    EXPECT_EQ(model.child(kStage2Downsample).outputPorts[0].width, 128);
    const BlockRecord& zeroPad = model.child(kNarrowZeroPad);
    EXPECT_EQ(paramRows(zeroPad, 0), 2);
    EXPECT_EQ(paramReal(zeroPad, 0, 0), 512.0);
    const BlockRecord& flipFlop = model.child(kFlipFlop);
    EXPECT_EQ(flipFlop.inputCount, 2);
    EXPECT_EQ(paramReal(flipFlop, 2), 2205.0);
    EXPECT_EQ(paramReal(flipFlop, 3), 8820.0);
    const BlockRecord& clip = model.child(kClipSave);
    EXPECT_EQ(clip.inputPorts[0].width, 32768);
    EXPECT_EQ(clip.inputPorts[1].width, 32768);
    EXPECT_EQ(paramText(clip, 4), "Dick");
    EXPECT_EQ(paramText(clip, 5), "Calls");
    EXPECT_EQ(paramText(model.child(kFileExist), 0), "stop.txt");
    EXPECT_EQ(paramText(model.child(kToLogFile), 2), "Calls/LogDick.txt");
    EXPECT_EQ(model.child(kToLogFile).inputPorts[0].width, 1);
    // Each input element is read through its own pointer into the producer's signal.
    EXPECT_EQ(model.child(kBandFifo).inputPorts[0].elementPointers[5],
              model.signals().selectedSignal + 5);
    EXPECT_EQ(model.child(kBandIfft).inputPointers[16384], model.signals().band.productIm);
}

TEST_F(Registration, OnlyWaveInHasAStartAndItHasNoInitialConditions) {
    for (int i = 0; i < 80; ++i) {
        const BlockRecord& child = model.child(i);
        EXPECT_EQ(child.methods.start != nullptr, i == kWaveIn) << i;
        const bool noConditions = i == kWaveIn || i == kDeinterleave || i == kFileExist;
        EXPECT_EQ(static_cast<bool>(child.methods.initializeConditions), !noConditions) << i;
        EXPECT_TRUE(child.methods.outputs) << i;
    }
}

}  // namespace
}  // namespace bm7::detector
