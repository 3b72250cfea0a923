#include "driver/block.h"

#include <gtest/gtest.h>

#include <vector>

namespace bm7 {
namespace {

TEST(Parameters, IntegersRoundHalfUpAndCountsTruncate) {
    const double scalar[] = {1, 1, 2.5};
    const double below[] = {1, 1, 2.4999999};
    const double negative[] = {1, 1, -2.5};
    const double column[] = {2.9, 1.7, 512, 1};
    const ParamValue params[] = {{scalar}, {below}, {negative}, {column}};
    BlockRecord block;
    block.params = params;
    EXPECT_EQ(paramInt(block, 0), 3);
    EXPECT_EQ(paramInt(block, 1), 2);
    EXPECT_EQ(paramInt(block, 2), -2);
    EXPECT_EQ(paramRows(block, 3), 2);
    EXPECT_EQ(paramCols(block, 3), 1);
    EXPECT_EQ(paramReal(block, 3, 1), 1.0);
}

TEST(Parameters, TextIsColsCharacterCodesWithoutTerminator) {
    const double text[] = {1, 4, 'D', 'i', 'c', 'k', 'X'};
    const ParamValue params[] = {{text}};
    BlockRecord block;
    block.params = params;
    EXPECT_EQ(paramText(block, 0), "Dick");
}

struct Calls {
    std::vector<const char*> log;
};

Calls* callsOf(BlockRecord* block) {
    return static_cast<Calls*>(block->pointerWork[0]);
}

TEST(MethodTable, EachStyleIsCalledInItsOwnFormAndNullSlotsAreSkipped) {
    Calls calls;
    void* work[] = {&calls};
    double state[1] = {0};
    double output[1] = {0};
    const double input = 7.0;
    const double* inputs[] = {&input};

    BlockRecord byRecord;
    byRecord.pointerWork = work;
    byRecord.methods.initializeConditions.byRecord = [](BlockRecord* b) {
        callsOf(b)->log.push_back("conditions");
    };
    byRecord.methods.outputs.byRecord = [](BlockRecord* b, int) {
        callsOf(b)->log.push_back("outputs");
    };
    callInitializeConditions(byRecord);
    callOutputs(byRecord, 0);
    callUpdate(byRecord, 0);
    callStart(byRecord);
    callTerminate(byRecord);
    EXPECT_EQ(calls.log, (std::vector<const char*>{"conditions", "outputs"}));

    BlockRecord withVectors;
    withVectors.pointerWork = work;
    withVectors.stateVector = state;
    withVectors.outputVector = output;
    withVectors.inputPointers = inputs;
    withVectors.methods.initializeConditions.withVectors = [](double* x, BlockRecord*) {
        x[0] = 3.0;
    };
    withVectors.methods.outputs.withVectors = [](double* y, double* x, const double* const* u,
                                                 BlockRecord*, int) { y[0] = x[0] + *u[0]; };
    callInitializeConditions(withVectors);
    callOutputs(withVectors, 0);
    EXPECT_EQ(output[0], 10.0);
}

TEST(MethodTable, AnEmptyMethodIsAFilledSlot) {
    MethodTable table;
    EXPECT_FALSE(table.initializeConditions);
    table.initializeConditions.withVectors = emptyVectorConditions;
    EXPECT_TRUE(table.initializeConditions);
    EXPECT_FALSE(table.outputs);
}

TEST(Errors, TheLastReportSurvivesInTheErrorRecord) {
    BlockRecord root;
    root.errorRecord = &root;
    BlockRecord child;
    child.errorRecord = &root;
    reportError(child, "first");
    reportError(child, "second");
    EXPECT_STREQ(root.errorStatus, "second");
    EXPECT_EQ(child.errorStatus, nullptr);
}

TEST(Rates, ABlockRunsWhenTheHitOfItsTaskIsSet) {
    int hits[] = {1, 0, 1};
    int task[] = {1};
    SimInfo info;
    info.sampleHits = hits;
    BlockRecord block;
    block.simInfo = &info;
    block.sampleTimeTaskIds = task;
    EXPECT_FALSE(rateHits(block));
    task[0] = 2;
    EXPECT_TRUE(rateHits(block));
}

TEST(ContiguousRun, OnlyPointersToConsecutiveElementsFormARun) {
    std::vector<double> signal(6, 0.0);
    std::vector<const double*> consecutive;
    for (const double& element : signal) consecutive.push_back(&element);
    EXPECT_EQ(contiguousRun(consecutive.data(), 6), signal.data());
    EXPECT_EQ(contiguousRun(consecutive.data() + 2, 4), signal.data() + 2);

    std::vector<const double*> repeated = consecutive;
    repeated[5] = repeated[4];  // the same element twice, as a held signal would be
    EXPECT_EQ(contiguousRun(repeated.data(), 6), nullptr);
    EXPECT_EQ(contiguousRun(repeated.data(), 5), signal.data());
    std::vector<const double*> reversed(consecutive.rbegin(), consecutive.rend());
    EXPECT_EQ(contiguousRun(reversed.data(), 6), nullptr);
    EXPECT_EQ(contiguousRun(consecutive.data(), 0), nullptr);
    EXPECT_EQ(contiguousRun(nullptr, 3), nullptr);
}

}  // namespace
}  // namespace bm7
