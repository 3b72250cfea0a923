#include "model/detector_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "detector_harness.h"

namespace bm7::testing {
namespace {

using detector::Signals;

std::vector<std::string> clipNames(const ScratchDirectory& scratch) {
    std::vector<std::string> names;
    const std::filesystem::path calls = scratch.path() / "Calls";
    if (!std::filesystem::exists(calls)) return names;
    for (const auto& entry : std::filesystem::directory_iterator(calls)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("Dick_", 0) == 0) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(DetectorInSilence, RequestsResetForExactlyTheFirst9830SamplesAndNeverRisesOrFalls) {
    SteppedDetector run(std::vector<std::int16_t>(6 * kFrame, 0));
    std::vector<double> reset;
    for (int step = 0; step < 4; ++step) {
        run.step();
        const Signals& s = run.signals();
        reset.insert(reset.end(), s.resetRequest, s.resetRequest + kFrame);
        for (int i = 0; i < kFrame; ++i) {
            ASSERT_EQ(s.riseDetected[i], 0.0) << step << " " << i;
            ASSERT_EQ(s.fallDetected[i], 0.0) << step << " " << i;
        }
    }
    const auto firstClear = std::find(reset.begin(), reset.end(), 0.0) - reset.begin();
    EXPECT_EQ(firstClear, 9830);
    EXPECT_TRUE(std::all_of(reset.begin() + 9830, reset.end(), [](double r) { return r == 0.0; }));
}

TEST(DetectorInSilence, SavesNoClipAndLogsMinusInfinityAtTheFirstHour) {
    SteppedDetector run(std::vector<std::int16_t>(6 * kFrame, 0));
    for (int step = 0; step < 6; ++step) run.step();
    EXPECT_TRUE(clipNames(run.scratch()).empty());
    std::ifstream log(run.scratch() / "Calls/LogDick.txt");
    std::string line;
    ASSERT_TRUE(std::getline(log, line));
    EXPECT_EQ(line.size(), 24U + 1U + 5U);
    EXPECT_EQ(line.substr(24), " -inf ");
    EXPECT_FALSE(std::getline(log, line));
}

TEST(DetectorStop, AStopFileEndsTheRunAtTheNextCheck) {
    SteppedDetector run(std::vector<std::int16_t>(12 * kFrame, 0));
    for (int step = 0; step < 4; ++step) run.step();
    std::ofstream(run.scratch() / "stop.txt") << "stop";
    run.step();  // step 4: no check
    EXPECT_EQ(run.root().simInfo->stopRequested, 0);
    run.step();  // step 5: no check
    EXPECT_EQ(run.root().simInfo->stopRequested, 0);
    run.step();  // step 6: the check finds the file
    EXPECT_EQ(run.root().simInfo->stopRequested, 1);
}

}  // namespace
}  // namespace bm7::testing
