// A model step must not allocate: this program counts every operator new made on the
// model's thread while it steps the detector.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "detector_harness.h"

// AddressSanitizer keeps its own operator new, which a replacement would fight, so the
// count is taken in the normal build only.
#if defined(__SANITIZE_ADDRESS__)
#define BM7_COUNTS_ALLOCATIONS 0
#else
#define BM7_COUNTS_ALLOCATIONS 1
#endif

namespace {

thread_local bool counting = false;
thread_local long allocations = 0;

}  // namespace

#if BM7_COUNTS_ALLOCATIONS
void* operator new(std::size_t size) {
    if (counting) ++allocations;
    if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
    throw std::bad_alloc();
}

// The replacement new above takes its memory from malloc, so free is its match.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
#pragma GCC diagnostic pop
#endif

namespace bm7::testing {
namespace {

// Saving a clip opens a file, which allocates; every other step must not.
TEST(ModelStep, AHundredStepsOfOutputsAndUpdateAllocateNothing) {
    if (!BM7_COUNTS_ALLOCATIONS) GTEST_SKIP() << "allocations are counted in the normal build";
    counting = true;
    ::operator delete(::operator new(sizeof(int)));  // the counter sees what it should
    counting = false;
    ASSERT_EQ(allocations, 1);
    allocations = 0;
    SteppedDetector run(toPcm(quietNoise(110 * kFrame, 3)));
    run.step();  // the first step may meet what start left for it
    counting = true;
    for (int step = 0; step < 100; ++step) run.step();
    counting = false;
    EXPECT_EQ(allocations, 0);
}

// Takes the reports into room made before the steps.
class CountingListener final : public detector::DetectionListener {
public:
    void detected(const detector::Detection& detection) override {
        if (count < kRoom) ends[count++] = detection.gateEnd;
    }
    static constexpr int kRoom = 16;
    std::int64_t ends[kRoom] = {};
    int count = 0;
};

TEST(ModelStep, StepsThatReportDetectionsAllocateNothing) {
    if (!BM7_COUNTS_ALLOCATIONS) GTEST_SKIP() << "allocations are counted in the normal build";
    const char* source = std::getenv("BM7_SOURCE_DIR");
    const std::vector<std::int16_t> demo =
        readWave(std::string(source != nullptr ? source : ".") + "/data/demo.wav");
    ASSERT_FALSE(demo.empty());
    CountingListener listener;
    // Without file outputs, as the archive scan runs it: no clip is opened.
    SteppedDetector run(demo, &listener, false);
    run.step();
    allocations = 0;
    counting = true;
    while (run.root().simInfo->stopRequested == 0) run.step();
    counting = false;
    EXPECT_EQ(allocations, 0);
    EXPECT_EQ(listener.count, 5);
}

}  // namespace
}  // namespace bm7::testing
