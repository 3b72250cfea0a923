#include "blocks/fft_kernel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "blocks/naive_dft.h"
#include "blocks/per_group_fft.h"

namespace bm7 {
namespace {

using blocktest::randomFrame;

// The transform with the passes of one instruction set, or as the program chooses them.
struct Build {
    const char* name;
    bool forced;
    InstructionSet set;
};

void runBuild(const Build& build, double* re, double* im, int n) {
    if (build.forced) {
        complexFftUsing(build.set, re, im, n);
    } else {
        complexFft(re, im, n);
    }
}

void expectSameBits(const Build& build, std::vector<double> re, std::vector<double> im) {
    const int n = static_cast<int>(re.size());
    std::vector<double> wantRe = re, wantIm = im;
    blocktest::perGroupFft(wantRe.data(), wantIm.data(), n);
    runBuild(build, re.data(), im.data(), n);
    EXPECT_EQ(std::memcmp(re.data(), wantRe.data(), re.size() * sizeof(double)), 0) << n;
    EXPECT_EQ(std::memcmp(im.data(), wantIm.data(), im.size() * sizeof(double)), 0) << n;
}

std::vector<double> filled(int n, double value) {
    return std::vector<double>(n, value);
}

// Every build of the passes is held to the reference bits, each forced in turn, and so is
// the choice the program makes; a build the processor cannot run is skipped.
class ComplexFftBits : public ::testing::TestWithParam<Build> {
protected:
    void SetUp() override {
        if (GetParam().forced && !processorHas(GetParam().set))
            GTEST_SKIP() << "this processor lacks " << GetParam().name;
    }
};

TEST_P(ComplexFftBits, RandomFramesOfEverySizeMatchPerGroupEvaluationExactly) {
    for (int n = 1; n <= 16384; n *= 2)
        expectSameBits(GetParam(), randomFrame(n, 11u + n), randomFrame(n, 23u + n));
}

TEST_P(ComplexFftBits, ImpulsesConstantsAndAlternatingSignsMatchExactly) {
    for (int n : {64, 128, 256, 512, 1024, 4096, 8192}) {
        std::vector<double> impulse = filled(n, 0.0);
        impulse[0] = 1.0;
        std::vector<double> late = filled(n, 0.0);
        late[n - 3] = -2.5;
        std::vector<double> alternating(n);
        for (int t = 0; t < n; ++t) alternating[t] = t % 2 ? -1.0 : 1.0;
        expectSameBits(GetParam(), impulse, filled(n, 0.0));
        expectSameBits(GetParam(), filled(n, 0.0), late);
        expectSameBits(GetParam(), filled(n, 1.0), filled(n, -0.0));
        expectSameBits(GetParam(), alternating, alternating);
    }
}

INSTANTIATE_TEST_SUITE_P(
    EachBuild, ComplexFftBits,
    ::testing::Values(Build{"Baseline", true, InstructionSet::kBaseline},
                      Build{"Avx2", true, InstructionSet::kAvx2},
                      Build{"Avx512", true, InstructionSet::kAvx512},
                      Build{"ChosenAtRunTime", false, InstructionSet::kBaseline}),
    [](const ::testing::TestParamInfo<Build>& info) { return std::string(info.param.name); });

TEST(ComplexFftBuilds, EveryProcessorRunsTheBaselineBuild) {
    EXPECT_TRUE(processorHas(InstructionSet::kBaseline));
}

TEST(ComplexFftAccuracy, RandomFramesAgreeWithADirectSum) {
    for (int n : {1, 2, 8, 64, 1024}) {
        std::vector<double> re = randomFrame(n, 5u), im = randomFrame(n, 7u);
        const blocktest::LongSpectrum want = blocktest::naiveDft(re, im, -1);
        complexFft(re.data(), im.data(), n);
        EXPECT_LE(blocktest::relativeError(re.data(), im.data(), want), 1e-14) << n;
    }
}

// Model instances run one per thread; a size first used by several of them at once must
// still be built once and give every thread the same bits.
TEST(ComplexFftThreads, ThreadsMeetingANewSizeAtOnceGetIdenticalResults) {
    const int n = 1 << 14;
    const std::vector<double> re = randomFrame(n, 61u), im = randomFrame(n, 62u);
    std::vector<std::vector<double>> results(4);
    std::vector<std::thread> threads;
    for (auto& result : results)
        threads.emplace_back([&] {
            std::vector<double> workRe = re, workIm = im;
            complexFft(workRe.data(), workIm.data(), n);
            result = workRe;
            result.insert(result.end(), workIm.begin(), workIm.end());
        });
    for (std::thread& thread : threads) thread.join();
    std::vector<double> wantRe = re, wantIm = im;
    blocktest::perGroupFft(wantRe.data(), wantIm.data(), n);
    wantRe.insert(wantRe.end(), wantIm.begin(), wantIm.end());
    for (const auto& result : results)
        EXPECT_EQ(std::memcmp(result.data(), wantRe.data(), wantRe.size() * sizeof(double)), 0);
}

TEST(ComplexFftSizes, OnlyPowersOfTwoAreAccepted) {
    EXPECT_TRUE(isFftSize(1));
    EXPECT_TRUE(isFftSize(8192));
    EXPECT_TRUE(isFftSize(1 << 30));
    EXPECT_FALSE(isFftSize(0));
    EXPECT_FALSE(isFftSize(-4));
    EXPECT_FALSE(isFftSize(6));
    EXPECT_FALSE(isFftSize(1LL << 31));
}

}  // namespace
}  // namespace bm7
