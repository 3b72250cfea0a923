#include "driver/stop_signals.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <thread>

namespace bm7 {
namespace {

// Each case runs in a process of its own under CTest, so the handlers installed here stay
// here; run together, the one that raises a signal comes last.

TEST(StopSignals, AWatcherWithoutASignalLeavesWithoutCallingBack) {
    ASSERT_TRUE(installStopSignals());
    bool woken = false;
    {
        const StopSignalWatcher watcher([&] { woken = true; });
    }
    EXPECT_FALSE(woken);
}

TEST(StopSignals, ASecondSignalDuringTheStopEndsTheProcessAtOnceWithStatusOne) {
    EXPECT_EXIT(
        {
            installStopSignals();
            std::raise(SIGTERM);
            std::raise(SIGINT);
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(1), "second stop signal");
}

TEST(StopSignals, AClosedPipeIsAnErrorToTheWriterInsteadOfAnEndOfTheProcess) {
    ASSERT_TRUE(installStopSignals());
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    close(ends[0]);
    const char byte = 'x';
    EXPECT_EQ(write(ends[1], &byte, 1), -1);
    EXPECT_EQ(errno, EPIPE);
    close(ends[1]);
}

TEST(StopSignals, NamesTheThreeStopSignalsAndNumbersAnyOther) {
    EXPECT_STREQ(stopSignalName(SIGTERM), "SIGTERM");
    EXPECT_STREQ(stopSignalName(SIGINT), "SIGINT");
    EXPECT_STREQ(stopSignalName(SIGHUP), "SIGHUP");
    EXPECT_STREQ(stopSignalName(SIGUSR1), "signal 10");
}

TEST(StopSignals, TheFirstSignalIsRecordedAndWakesTheWatcherOnce) {
    ASSERT_TRUE(installStopSignals());
    EXPECT_EQ(receivedStopSignal(), 0);
    std::atomic<int> wakes{0};
    {
        const StopSignalWatcher watcher([&] { ++wakes; });
        std::raise(SIGHUP);
        EXPECT_EQ(receivedStopSignal(), SIGHUP);
        for (int i = 0; i < 500 && wakes == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    EXPECT_EQ(wakes, 1);
    EXPECT_STREQ(stopSignalName(receivedStopSignal()), "SIGHUP");
}

}  // namespace
}  // namespace bm7
