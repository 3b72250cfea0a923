// The pieces that keep a sound device's faults from hanging or cluttering the program:
// bounded library calls, the filter of the libraries' own complaint lines, and the
// schedule of tries for a lost device.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <string>
#include <vector>

#include "audio/bounded_call.h"
#include "audio/library_complaints.h"
#include "audio/retry_schedule.h"
#include "support/scratch_directory.h"

namespace bm7 {
namespace {

using namespace std::chrono_literals;

TEST(BoundedCall, WorkThatFinishesInTimeIsDoneWhenRunReturns) {
    BoundedCall call;
    int done = 0;
    EXPECT_TRUE(call.run([&] { done = 1; }, 60s));
    EXPECT_EQ(done, 1);
    EXPECT_FALSE(call.busy());
}

TEST(BoundedCall, HungWorkIsLeftRunningAndNoFurtherWorkStartsUntilItEnds) {
    BoundedCall call;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> ended{false};
    EXPECT_FALSE(call.run(
        [released, &ended] {
            released.wait();
            ended = true;
        },
        20ms));
    EXPECT_TRUE(call.busy());
    bool second = false;
    EXPECT_FALSE(call.run([&] { second = true; }, 60s));
    EXPECT_FALSE(second);

    release.set_value();
    for (int i = 0; i < 6000 && call.busy(); ++i) std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(ended);
    EXPECT_TRUE(call.run([&] { second = true; }, 60s));
    EXPECT_TRUE(second);
}

TEST(RetrySchedule, TriesAfterFiveSecondsThenDoublesTheWaitUpToAMinute) {
    RetrySchedule schedule({}, RetrySchedule::Clock::time_point{});
    std::vector<long long> waits;
    for (int i = 0; i < 7; ++i) {
        waits.push_back(
            std::chrono::duration_cast<std::chrono::seconds>(schedule.nextDelay()).count());
    }
    EXPECT_EQ(waits, (std::vector<long long>{5, 10, 20, 40, 60, 60, 60}));
}

TEST(RetrySchedule, ReportsOncePerHourOfAbsenceEvenAfterALongGap) {
    const RetrySchedule::Clock::time_point lost{};
    RetrySchedule schedule({}, lost);
    EXPECT_FALSE(schedule.reportDue(lost + 59min));
    EXPECT_TRUE(schedule.reportDue(lost + 60min));
    EXPECT_FALSE(schedule.reportDue(lost + 61min));
    // Three hours later in one go (a suspended machine): one line, then hourly again.
    EXPECT_TRUE(schedule.reportDue(lost + 4h + 1min));
    EXPECT_FALSE(schedule.reportDue(lost + 4h + 59min));
    EXPECT_TRUE(schedule.reportDue(lost + 5h));
}

TEST(LibraryComplaints, RecognisesTheSoundLibrariesLinesAndNothingElse) {
    EXPECT_TRUE(
        isLibraryComplaint("Expression 'alsa_snd_pcm_poll_descriptors_revents( "
                           "self->pcm, pfds, self->nfds, &revents )' failed in "
                           "'src/hostapi/alsa/pa_linux_alsa.c', line: 3665"));
    EXPECT_TRUE(isLibraryComplaint("ALSA lib pcm.c:2666:(snd_pcm_open_noupdate) Unknown PCM"));
    EXPECT_TRUE(isLibraryComplaint("Cannot connect to server socket err = No such file"));
    EXPECT_FALSE(isLibraryComplaint("No audio input"));
    EXPECT_FALSE(isLibraryComplaint("Sound input lost: No audio input; retrying"));
    EXPECT_FALSE(isLibraryComplaint(""));
}

// Runs `write` with the error stream sent to a file, and returns what reached the file.
template <typename Write>
std::string errorStreamDuring(const testing::ScratchDirectory& scratch, Write write) {
    const std::string path = scratch / "errors";
    std::FILE* file = std::fopen(path.c_str(), "w+");
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    dup2(fileno(file), STDERR_FILENO);
    write();
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    std::string text;
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;) text.push_back(static_cast<char>(c));
    std::fclose(file);
    return text;
}

TEST(LibraryComplaints, TheFilterPassesEveryOtherLineOnBeforeItIsGone) {
    const testing::ScratchDirectory scratch;
    const std::string passed = errorStreamDuring(scratch, [] {
        const LibraryComplaintFilter filter;
        std::fputs("Expression 'x' failed in 'y', line: 1\nkept line\n", stderr);
        // From another descriptor's point of view too: the libraries write to 2 directly.
        const char raw[] = "ALSA lib pcm.c: nothing\nlast, without newline";
        EXPECT_EQ(write(STDERR_FILENO, raw, sizeof raw - 1), ssize_t(sizeof raw - 1));
    });
    EXPECT_EQ(passed, "kept line\nlast, without newline");
}

TEST(LibraryComplaints, NothingIsFilteredForDebugging) {
    const testing::ScratchDirectory scratch;
    setenv("BM7_AUDIO_DEBUG", "1", 1);
    const std::string passed = errorStreamDuring(scratch, [] {
        const LibraryComplaintFilter filter;
        std::fputs("ALSA lib pcm.c: shown\n", stderr);
    });
    unsetenv("BM7_AUDIO_DEBUG");
    EXPECT_EQ(passed, "ALSA lib pcm.c: shown\n");
}

}  // namespace
}  // namespace bm7
