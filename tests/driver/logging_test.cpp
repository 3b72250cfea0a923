#include "driver/logging.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "driver/driver_test_support.h"

namespace bm7 {
namespace {

using driver_test::CapturedStream;
using driver_test::kFrameStep;
using driver_test::readMatrixFile;
using driver_test::ScratchDirectory;
using driver_test::TestRoot;

std::vector<double> countingUp(int first, int last) {
    std::vector<double> values;
    for (int value = first; value <= last; ++value) values.push_back(value);
    return values;
}

// A model whose time and state are logged as the settings in `sim` say; each step
// logs the time `step + 1` and a state row derived from it.
class LoggedRun {
public:
    explicit LoggedRun(int stateWidth = 0) : model({kFrameStep}), state(stateWidth) {
        model.root.discStateCount = stateWidth;
        model.root.stateVector = state.data();
    }

    const char* start() { return startLogging(model.root, "rt_", out.get()); }
    void steps(int count) {
        for (int step = 0; step < count; ++step) {
            model.taskTimes[0] = ++stepsTaken;
            for (std::size_t col = 0; col < state.size(); ++col) {
                state[col] = stepsTaken * 10.0 + static_cast<double>(col);
            }
            logStep(model.root);
        }
    }
    void stop() { stopLogging(fileName.c_str(), model.root, out.get(), err.get()); }

    TestRoot model;
    std::vector<double> state;
    int stepsTaken = 0;
    ScratchDirectory directory;
    std::string fileName = directory.file("brakmoor7.nmx");
    CapturedStream out;
    CapturedStream err;
};

TEST(LoggingStart, LogsNothingAndWritesNoFileWhenNoNameIsSet) {
    LoggedRun run(2);
    ASSERT_EQ(run.start(), nullptr);
    ASSERT_NE(run.model.sim.logInfo, nullptr);
    EXPECT_EQ(run.model.sim.logInfo->variables, nullptr);
    run.steps(5);
    run.stop();

    EXPECT_FALSE(std::filesystem::exists(run.fileName));
    EXPECT_EQ(run.out.text(), "");
    EXPECT_EQ(run.err.text(), "");
    EXPECT_EQ(run.model.sim.logInfo, nullptr);
}

TEST(LoggingStart, SizesEachBufferForTheSampleInstantsUpToTheFinalTime) {
    LoggedRun run;
    run.model.sim.finalTime = 1.0;
    ASSERT_EQ(run.start(), nullptr);
    struct Case {
        int maxRows;
        int decimation;
        double sampleTime;
        int rows;
    };
    // 0, h, 2h and 3h: 2h falls short of 1.0, so 3h is the instant at or after it.
    const Case cases[] = {{0, 1, kFrameStep, 4}, {0, 1, -1.0, 4},       {0, 1, 0.0, 4},
                          {0, 3, kFrameStep, 2}, {3, 1, kFrameStep, 3}, {9, 1, kFrameStep, 4},
                          {0, 1, -2.0, 2},       {0, 1, 0.25, 5},       {0, 0, kFrameStep, 4},
                          {0, 1, -1e-300, 1}};
    for (const Case& c : cases) {
        LogVar* var = nullptr;
        ASSERT_EQ(createLogVar(run.model.root, "rt_", "x", c.maxRows, c.decimation, 2, c.sampleTime,
                               &var, run.out.get()),
                  nullptr);
        EXPECT_EQ(var->nRows, c.rows) << "maxRows " << c.maxRows << ", decimation " << c.decimation
                                      << ", sample time " << c.sampleTime;
        EXPECT_EQ(var->usedDefaultSize, 0);
    }
    EXPECT_EQ(run.out.text(), "");
    releaseLogging(run.model.sim);
}

TEST(LoggingStart, DefaultsTo1024RowsAndSaysSoWhenNothingLimitsTheRun) {
    LoggedRun run;
    run.model.sim.timeLogName = "tout";
    ASSERT_EQ(run.start(), nullptr);
    EXPECT_EQ(run.out.text(), "*** Using a default buffer of size 1024 for log variable tout\n");
    EXPECT_EQ(run.model.sim.logInfo->timeVar->nRows, 1024);
    EXPECT_EQ(run.model.sim.logInfo->timeVar->usedDefaultSize, 1);
    releaseLogging(run.model.sim);

    LoggedRun limited;
    limited.model.sim.timeLogName = "tout";
    limited.model.sim.logMaxRows = 5;
    ASSERT_EQ(limited.start(), nullptr);
    EXPECT_EQ(limited.out.text(), "");
    EXPECT_EQ(limited.model.sim.logInfo->timeVar->nRows, 5);
    releaseLogging(limited.model.sim);
}

TEST(LoggingStart, CutsNamesTo31CharactersAndSplitsTheOutputNames) {
    const std::string longName(40, 'n');
    LoggedRun run;
    std::vector<double> outputs(4);
    const int widths[] = {2, 1, 1};
    const std::string outputNames = "alpha,beta," + longName;
    run.model.root.outputVector = outputs.data();
    run.model.sim.timeLogName = longName.c_str();
    run.model.sim.outputLogNames = outputNames.c_str();
    run.model.sim.outputLogWidths = widths;
    run.model.sim.logMaxRows = 2;
    ASSERT_EQ(run.start(), nullptr);

    const LogInfo& info = *run.model.sim.logInfo;
    EXPECT_EQ(std::string(info.timeVar->name), "rt_" + longName.substr(0, 28));
    ASSERT_EQ(info.outputVarCount, 3);
    EXPECT_STREQ(info.outputVars[0]->name, "rt_alpha");
    EXPECT_STREQ(info.outputVars[1]->name, "rt_beta");
    EXPECT_EQ(std::string(info.outputVars[2]->name), "rt_" + longName.substr(0, 28));
    EXPECT_EQ(info.outputVars[0]->nCols, 2);
    releaseLogging(run.model.sim);
}

TEST(LoggingStart, RefusesABufferTooLargeToHold) {
    LoggedRun run;
    run.model.sim.timeLogName = "t";
    run.model.sim.fixedStepSize = 1.0;
    run.model.sim.finalTime = 3e9;
    EXPECT_STREQ(run.start(), "Memory allocation error");
    EXPECT_EQ(run.out.text(),
              "*** Error allocating memory for the circular buffer\n"
              "*** Details:\n"
              "       varName         = t\n"
              "       nRows           = 3000000001\n"
              "       nCols           = 1\n"
              "       sizeof(NmxReal) = 8\n");
    EXPECT_EQ(run.model.sim.logInfo->timeVar, nullptr);
    EXPECT_EQ(run.model.sim.logInfo->variables, nullptr);
    releaseLogging(run.model.sim);

    LoggedRun endless;
    endless.model.sim.timeLogName = "t";
    endless.model.sim.finalTime = 1e300;
    EXPECT_STREQ(endless.start(), "Memory allocation error");
    releaseLogging(endless.model.sim);
}

// Logs `updates` times into a time buffer of `maxRows` rows (0 = default size) and
// returns the one record written.
struct WrapOutcome {
    std::vector<double> values;
    std::string out;
};

WrapOutcome logTimeAndWrite(int maxRows, int updates) {
    LoggedRun run;
    run.model.sim.timeLogName = "t";
    run.model.sim.logMaxRows = maxRows;
    EXPECT_EQ(run.start(), nullptr);
    run.steps(updates);
    run.stop();
    EXPECT_EQ(run.err.text(), "");
    const auto records = readMatrixFile(run.fileName);
    EXPECT_EQ(records.size(), 1U);
    if (records.empty()) return {};
    EXPECT_EQ(records[0].name, "rt_t");
    EXPECT_EQ(records[0].cols, 1);
    EXPECT_EQ(records[0].rows, static_cast<int>(records[0].values.size()));
    return {records[0].values, run.out.text()};
}

TEST(LoggingWrap, KeepsTheNewestRowsOldestFirst) {
    const std::string created = "Created ";
    WrapOutcome tenIntoFour = logTimeAndWrite(4, 10);
    EXPECT_EQ(tenIntoFour.values, countingUp(7, 10));
    EXPECT_EQ(tenIntoFour.out.find("***"), std::string::npos) << tenIntoFour.out;

    WrapOutcome eightIntoFour = logTimeAndWrite(4, 8);
    EXPECT_EQ(eightIntoFour.values, countingUp(5, 8));
    EXPECT_EQ(eightIntoFour.out.find("***"), std::string::npos) << eightIntoFour.out;

    WrapOutcome threeIntoFour = logTimeAndWrite(4, 3);
    EXPECT_EQ(threeIntoFour.values, countingUp(1, 3));
}

TEST(LoggingWrap, WarnsWhenADefaultSizedBufferLostRows) {
    const std::string defaulted = "*** Using a default buffer of size 1024 for log variable t\n";
    WrapOutcome partWrapped = logTimeAndWrite(0, 2050);
    EXPECT_EQ(partWrapped.values, countingUp(1027, 2050));
    EXPECT_EQ(partWrapped.out.substr(0, defaulted.size()), defaulted);
    EXPECT_NE(partWrapped.out.find(
                  "*** Log variable rt_t has wrapped 2 times using a buffer size of 1024\n"
                  "*** To prevent wrapping, explicitly specify a buffer size of 2050 in your "
                  "Tessaline model.\nCreated "),
              std::string::npos)
        << partWrapped.out;

    // A whole number of turns loses rows just the same.
    WrapOutcome wholeTurns = logTimeAndWrite(0, 2048);
    EXPECT_EQ(wholeTurns.values, countingUp(1025, 2048));
    EXPECT_NE(wholeTurns.out.find("has wrapped 2 times using a buffer size of 1024\n"
                                  "*** To prevent wrapping, explicitly specify a buffer size of "
                                  "2048 in"),
              std::string::npos)
        << wholeTurns.out;
}

TEST(LoggingWrap, WritesRowsOfSeveralColumnsColumnAfterColumn) {
    LoggedRun run(3);
    run.model.sim.stateLogName = "x";
    run.model.sim.logMaxRows = 2;
    ASSERT_EQ(run.start(), nullptr);
    const double first[] = {1, 2, 3};
    const double second[] = {4, 5, 6};
    updateLogVar(*run.model.sim.logInfo->stateVar, first);
    updateLogVar(*run.model.sim.logInfo->stateVar, second);
    run.stop();

    const auto records = readMatrixFile(run.fileName);
    ASSERT_EQ(records.size(), 1U);
    EXPECT_EQ(records[0].type, 0);
    EXPECT_EQ(records[0].imagf, 0);
    EXPECT_EQ(records[0].rows, 2);
    EXPECT_EQ(records[0].cols, 3);
    EXPECT_EQ(records[0].values, (std::vector<double>{1, 4, 2, 5, 3, 6}));
}

TEST(LoggingWrap, RotatesEveryColumnOfAWrappedBufferWhateverTheCycleLengths) {
    std::mt19937 random(20261208);
    std::uniform_real_distribution<double> value(-1e6, 1e6);
    // (rows, updates): rotations by 4 of 6 (two cycles), by 3 of 7 (one), by 5 of 10.
    const std::pair<int, int> cases[] = {{6, 16}, {7, 17}, {10, 25}, {1, 5}};
    for (const auto& [rows, updates] : cases) {
        const int width = 3;
        LoggedRun run(width);
        run.model.sim.stateLogName = "x";
        run.model.sim.logMaxRows = rows;
        ASSERT_EQ(run.start(), nullptr);
        std::vector<std::vector<double>> logged;
        for (int update = 0; update < updates; ++update) {
            std::vector<double> row(width);
            for (double& element : row) element = value(random);
            updateLogVar(*run.model.sim.logInfo->stateVar, row.data());
            logged.push_back(row);
        }
        run.stop();

        std::vector<double> expected;
        for (int col = 0; col < width; ++col) {
            for (int row = updates - rows; row < updates; ++row)
                expected.push_back(logged[row][col]);
        }
        const auto records = readMatrixFile(run.fileName);
        ASSERT_EQ(records.size(), 1U);
        EXPECT_EQ(records[0].rows, rows);
        EXPECT_EQ(records[0].values, expected) << rows << " rows, " << updates << " updates";
    }
}

TEST(LoggingWrap, StoresTheFirstUpdateAndThenEveryDecimationTh) {
    LoggedRun run;
    run.model.sim.timeLogName = "t";
    run.model.sim.logMaxRows = 10;
    run.model.sim.logDecimation = 3;
    ASSERT_EQ(run.start(), nullptr);
    run.steps(10);
    run.stop();
    const auto records = readMatrixFile(run.fileName);
    ASSERT_EQ(records.size(), 1U);
    EXPECT_EQ(records[0].values, (std::vector<double>{1, 4, 7, 10}));
}

TEST(LoggingFile, HoldsEveryVariableWithDataInCreationOrder) {
    LoggedRun run(2);
    std::vector<double> outputs(3);
    const int widths[] = {2, 1};
    run.model.root.outputVector = outputs.data();
    run.model.sim.finalTime = 1.0;
    run.model.sim.timeLogName = "tout";
    run.model.sim.stateLogName = "xout";
    run.model.sim.outputLogNames = "yout,zout";
    run.model.sim.outputLogWidths = widths;
    run.model.sim.finalStateLogName = "xFinal";
    ASSERT_EQ(run.start(), nullptr);
    for (int step = 0; step < 4; ++step) {
        outputs = {step + 0.5, step + 0.25, -step - 1.0};
        run.steps(1);
    }
    run.stop();

    const auto records = readMatrixFile(run.fileName);
    ASSERT_EQ(records.size(), 5U);
    EXPECT_EQ(records[0].name, "rt_tout");
    EXPECT_EQ(records[0].values, (std::vector<double>{1, 2, 3, 4}));
    EXPECT_EQ(records[1].name, "rt_xout");
    EXPECT_EQ(records[1].cols, 2);
    EXPECT_EQ(records[1].values, (std::vector<double>{10, 20, 30, 40, 11, 21, 31, 41}));
    EXPECT_EQ(records[2].name, "rt_yout");
    EXPECT_EQ(records[2].values, (std::vector<double>{0.5, 1.5, 2.5, 3.5, 0.25, 1.25, 2.25, 3.25}));
    EXPECT_EQ(records[3].name, "rt_zout");
    EXPECT_EQ(records[3].values, (std::vector<double>{-1, -2, -3, -4}));
    EXPECT_EQ(records[4].name, "rt_xFinal");
    EXPECT_EQ(records[4].rows, 1);
    EXPECT_EQ(records[4].values, (std::vector<double>{40, 41}));
    EXPECT_EQ(run.out.text(), "Created " + run.fileName + "\n");
    EXPECT_EQ(run.model.sim.logInfo, nullptr);
}

TEST(LoggingFile, IsRemovedWhenNoVariableGotData) {
    LoggedRun run;
    run.model.sim.timeLogName = "t";
    run.model.sim.logMaxRows = 4;
    ASSERT_EQ(run.start(), nullptr);
    { std::ofstream(run.fileName) << "an older file"; }
    run.stop();
    EXPECT_FALSE(std::filesystem::exists(run.fileName));
    EXPECT_EQ(run.out.text(), "");
    EXPECT_EQ(run.err.text(), "");
}

TEST(LoggingFile, ReportsAFileThatCannotBeOpened) {
    LoggedRun run;
    run.fileName = run.directory.file("missing/brakmoor7.nmx");
    run.model.sim.timeLogName = "t";
    run.model.sim.logMaxRows = 4;
    ASSERT_EQ(run.start(), nullptr);
    run.steps(2);
    run.stop();
    EXPECT_EQ(run.err.text(), "Error opening " + run.fileName + ": No such file or directory\n");
    EXPECT_EQ(run.out.text(), "");
    EXPECT_EQ(run.model.sim.logInfo, nullptr);
}

TEST(LoggingFile, ReportsAFullDiskOnceAndKeepsTheCreatedLine) {
    // Small records fail only when the file is closed; large ones at the write itself.
    for (int rows : {3, 5000}) {
        LoggedRun run;
        run.fileName = "/dev/full";
        run.model.sim.timeLogName = "t";
        run.model.sim.logMaxRows = rows;
        ASSERT_EQ(run.start(), nullptr);
        run.steps(rows);
        run.stop();
        EXPECT_EQ(run.err.text(), "*** Error writing /dev/full: No space left on device\n")
            << rows << " rows";
        EXPECT_EQ(run.out.text(), "Created /dev/full\n");
    }
}

}  // namespace
}  // namespace bm7
