#include "files/clip_save.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "files/clip_name.h"
#include "files/file_guard.h"
#include "files/files_fixture.h"
#include "support/captured_stream.h"
#include "support/small_tmpfs.h"

namespace bm7 {
namespace {

using testing::fileBytes;
using testing::scalar;
using testing::ScratchDirectory;
using testing::SmallTmpfs;
using testing::TestBlock;
using testing::touch;

constexpr std::time_t kMarch5th2024 = 1709622489;  // 2024-03-05 07:08:09 UTC

struct ClipSetup {
    int frameSize = 8;
    int windowLength = 32;
    int channels = 1;
    std::string prefix = "c";
    std::string directory;
    int format = 6;  // raw doubles: the file shows exactly which samples were saved
    int stampMode = kStampStream;
    double sampleRate = 1.0;  // stream stamps count samples
};

std::unique_ptr<TestBlock> clipSave(const ClipSetup& setup) {
    auto block = std::make_unique<TestBlock>(
        std::vector<std::vector<double>>{
            scalar(setup.frameSize), scalar(setup.windowLength), scalar(setup.channels), scalar(0),
            textParameter(setup.prefix), textParameter(setup.directory), scalar(setup.format),
            scalar(setup.stampMode), scalar(setup.sampleRate)},
        std::vector<int>{setup.windowLength * setup.channels, setup.windowLength});
    registerClipSave(&block->record);
    block->record.methods.initializeSizes(&block->record);
    block->record.methods.initializeConditions.byRecord(&block->record);
    // The audio at each window index is the index itself.
    for (std::size_t a = 0; a < block->input(0).size(); ++a) block->input(0)[a] = double(a);
    return block;
}

void enable(TestBlock& block, int first, int end, double value = 1.0) {
    for (int a = first; a < end; ++a) block.input(1)[static_cast<std::size_t>(a)] = value;
}

// Announcements of saved clips, captured in memory.
using Console = testing::CapturedStream;

// A saved raw-double clip: its file name and the first and last audio values in it.
struct Saved {
    std::string name;
    double first;
    double last;
    bool operator==(const Saved&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Saved& saved) {
    return out << saved.name << " [" << saved.first << ", " << saved.last << "]";
}

std::vector<Saved> savedClips(const ScratchDirectory& dir) {
    std::vector<Saved> saved;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        const std::string bytes = fileBytes(entry.path());
        std::vector<double> values(bytes.size() / sizeof(double));
        std::memcpy(values.data(), bytes.data(), values.size() * sizeof(double));
        saved.push_back({entry.path().filename(), values.front(), values.back()});
    }
    std::sort(saved.begin(), saved.end(),
              [](const Saved& a, const Saved& b) { return a.name < b.name; });
    return saved;
}

void saveFrame(TestBlock& block, Console& console, std::time_t now = kMarch5th2024) {
    saveFinishedClips(block.record, console.get(), now);
    ++block.record.integerWork[0];
}

TEST(ClipSaveScan, SavesNothingWhileTheEnableIsOffInTheNewestFrame) {
    ScratchDirectory dir;
    auto block = clipSave({.directory = dir.path()});
    enable(*block, 3, 10);  // a run that ended in an earlier frame
    Console console;
    saveFrame(*block, console);
    EXPECT_TRUE(savedClips(dir).empty());
    EXPECT_EQ(console.text(), "");
    EXPECT_EQ(block->error(), nullptr);
}

TEST(ClipSaveScan, SavesEachRunFromItsTrueBeginningToItsLastSample) {
    struct Case {
        int first, end;
        Saved saved;
    };
    // The newest frame is window indices 24 to 31; NaN counts as off.
    const Case cases[] = {
        {26, 29, {"c_000.00.26_00.flt", 26, 28}},  // inside the newest frame
        {20, 27, {"c_000.00.20_00.flt", 20, 26}},  // began in an older frame
        {0, 25, {"c_000.00.00_00.flt", 0, 24}},    // began before the window
    };
    for (const Case& c : cases) {
        ScratchDirectory dir;
        auto block = clipSave({.directory = dir.path()});
        enable(*block, 0, 32, std::nan(""));
        enable(*block, c.first, c.end);
        Console console;
        saveFrame(*block, console);
        EXPECT_EQ(savedClips(dir), std::vector<Saved>{c.saved});
        EXPECT_EQ(console.text(), "Saved clip " + (dir / c.saved.name) + "\n");
    }
}

TEST(ClipSaveScan, SavesARunStillOnAtTheNewestSampleOnlyInTheFrameWhereItEnds) {
    ScratchDirectory dir;
    auto block = clipSave({.directory = dir.path()});
    Console console;
    enable(*block, 28, 32);
    saveFrame(*block, console);
    EXPECT_TRUE(savedClips(dir).empty());
    // The window moves on by one frame; the run is now indices 20 to 26.
    std::fill(block->input(1).begin(), block->input(1).end(), 0.0);
    enable(*block, 20, 27);
    saveFrame(*block, console);
    EXPECT_EQ(savedClips(dir), (std::vector<Saved>{{"c_000.00.28_00.flt", 20, 26}}));
}

TEST(ClipSaveEndOfRun, TheRunStillOnWhenTheRunEndsIsSavedAsFarAsItGoesAndStampedLikeTheFrame) {
    ScratchDirectory dir;
    auto block = clipSave({.directory = dir.path()});
    enable(*block, 3, 6);  // finished long ago: not saved again
    enable(*block, 20, 32);
    Console console;
    saveFrame(*block, console);
    EXPECT_TRUE(savedClips(dir).empty());
    ::testing::internal::CaptureStdout();
    block->record.methods.terminate(&block->record);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "Saved clip " + (dir / "c_000.00.20_00.flt") + "\n");
    EXPECT_EQ(savedClips(dir), (std::vector<Saved>{{"c_000.00.20_00.flt", 20, 31}}));
}

TEST(ClipSaveEndOfRun, NothingIsSavedWhenNoRunIsOnAtTheNewestSample) {
    ScratchDirectory dir;
    auto block = clipSave({.directory = dir.path()});
    enable(*block, 20, 31);
    Console console;
    saveFrame(*block, console);  // saves the run that ended in the newest frame
    EXPECT_EQ(savedClips(dir).size(), 1U);
    saveRunInProgress(block->record, console.get(), kMarch5th2024);
    EXPECT_EQ(savedClips(dir).size(), 1U);
}

TEST(ClipSaveScan, SavesARunThatEndsExactlyWhereTheNewestFrameBegins) {
    ScratchDirectory dir;
    auto block = clipSave({.directory = dir.path()});
    Console console;
    enable(*block, 18, 24);
    enable(*block, 26, 28);
    saveFrame(*block, console);
    EXPECT_EQ(savedClips(dir),
              (std::vector<Saved>{{"c_000.00.18_00.flt", 18, 23}, {"c_000.00.26_00.flt", 26, 27}}));
}

TEST(ClipSaveScan, TwoRunsEndingInOneFrameGetConsecutiveSuffixesInTimeOrder) {
    ScratchDirectory dir;
    auto block = clipSave({.directory = dir.path(), .stampMode = kStampUtc});
    Console console;
    enable(*block, 10, 25);
    enable(*block, 27, 30);
    saveFrame(*block, console);
    EXPECT_EQ(savedClips(dir), (std::vector<Saved>{{"c_2024-03-05_07.08.09_00.flt", 10, 24},
                                                   {"c_2024-03-05_07.08.09_01.flt", 27, 29}}));
    EXPECT_EQ(console.text(), "Saved clip " + (dir / "c_2024-03-05_07.08.09_00.flt") +
                                  "\nSaved clip " + (dir / "c_2024-03-05_07.08.09_01.flt") + "\n");
}

// A run [first, end) of a whole signal, as a window sliding over it frame by frame
// must save it: in the frame holding its end, cut at that window's start.
std::vector<Saved> expectedClips(const std::vector<double>& gate, int frameSize, int windowLength) {
    std::vector<Saved> expected;
    const int length = static_cast<int>(gate.size());
    for (int t = 0; t < length;) {
        if (gate[static_cast<std::size_t>(t)] == 0.0) {
            ++t;
            continue;
        }
        int end = t;
        while (end < length && gate[static_cast<std::size_t>(end)] != 0.0) ++end;
        if (end < length) {
            const int frame = end / frameSize;
            const int first = std::max(t, (frame + 1) * frameSize - windowLength);
            const int seconds = first + windowLength - frameSize;
            char name[64];
            std::snprintf(name, sizeof name, "c_000.%.2d.%.2d_00.flt", seconds / 60, seconds % 60);
            expected.push_back({name, double(first), double(end - 1)});
        }
        t = end;
    }
    std::sort(expected.begin(), expected.end(),
              [](const Saved& a, const Saved& b) { return a.name < b.name; });
    return expected;
}

// Steps Clip & Save frame by frame over a long random gate and checks that it saves every
// run exactly once. With lazyWindows, as the detector model runs it, the windows are
// built only in frames where runEndsInFrame says a run ends, and hold junk otherwise.
void saveEveryRunOfARandomGate(bool lazyWindows) {
    constexpr int kFrameSize = 8;
    constexpr int kWindowLength = 32;
    constexpr int kFrames = 120;
    std::mt19937 random(2024);
    std::uniform_int_distribution<int> offLength(1, 14);
    std::uniform_int_distribution<int> onLength(1, 40);
    std::vector<double> gate;
    while (gate.size() < kFrames * kFrameSize) {
        gate.insert(gate.end(), static_cast<std::size_t>(offLength(random)), 0.0);
        gate.insert(gate.end(), static_cast<std::size_t>(onLength(random)), 1.0);
    }
    gate.resize(kFrames * kFrameSize);
    int endsAtFrameStart = 0;
    for (int t = kFrameSize; t < kFrames * kFrameSize; t += kFrameSize)
        endsAtFrameStart += gate[static_cast<std::size_t>(t) - 1] != 0.0 && gate[t] == 0.0;
    EXPECT_GT(endsAtFrameStart, 2);

    ScratchDirectory dir;
    auto block = clipSave({.directory = dir.path()});
    Console console;
    int framesSkipped = 0;
    for (int frame = 0; frame < kFrames; ++frame) {
        const std::size_t newest = static_cast<std::size_t>(frame) * kFrameSize;
        const double before = frame == 0 ? 0.0 : gate[newest - 1];
        if (lazyWindows && !runEndsInFrame(before, gate.data() + newest, kFrameSize)) {
            std::fill(block->input(0).begin(), block->input(0).end(), -7.0);
            std::fill(block->input(1).begin(), block->input(1).end(), frame % 2 ? 1.0 : 0.0);
            countFrameWithoutClips(block->record);
            ++framesSkipped;
            continue;
        }
        for (int a = 0; a < kWindowLength; ++a) {
            const int t = (frame + 1) * kFrameSize - kWindowLength + a;
            block->input(0)[static_cast<std::size_t>(a)] = t;
            block->input(1)[static_cast<std::size_t>(a)] =
                t < 0 ? 0.0 : gate[static_cast<std::size_t>(t)];
        }
        saveFrame(*block, console);
    }
    if (lazyWindows) {
        EXPECT_GT(framesSkipped, kFrames / 4);
    }
    const std::vector<Saved> expected = expectedClips(gate, kFrameSize, kWindowLength);
    EXPECT_GT(expected.size(), 20U);
    EXPECT_EQ(savedClips(dir), expected);
    EXPECT_EQ(block->error(), nullptr);
}

TEST(ClipSaveScan, FrameByFrameSavesEveryRunOfALongRandomGateExactlyOnce) {
    saveEveryRunOfARandomGate(false);
}

TEST(ClipSaveScan, WindowsBuiltOnlyInFramesWhereARunEndsGiveTheSameClips) {
    saveEveryRunOfARandomGate(true);
}

TEST(ClipSaveScan, ARunEndsInAFrameAtItsFirstFallIncludingOneRightAtItsStart) {
    const double on[] = {1.0, 1.0, 1.0, 1.0};
    const double off[] = {0.0, 0.0, 0.0, 0.0};
    const double falling[] = {0.0, 1.0, 1.0, 0.0};
    const double rising[] = {0.0, 0.0, 1.0, 1.0};
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double nanInside[] = {1.0, nan, 1.0, 1.0};
    EXPECT_FALSE(runEndsInFrame(1.0, on, 4));
    EXPECT_FALSE(runEndsInFrame(0.0, off, 4));
    EXPECT_TRUE(runEndsInFrame(1.0, off, 4));
    EXPECT_TRUE(runEndsInFrame(-2.0, off, 4));
    EXPECT_TRUE(runEndsInFrame(0.0, falling, 4));
    EXPECT_FALSE(runEndsInFrame(0.0, rising, 4));
    EXPECT_TRUE(runEndsInFrame(0.0, nanInside, 4));  // NaN counts as off
    EXPECT_FALSE(runEndsInFrame(nan, rising, 4));
}

TEST(ClipSaveScan, ALongFrameIsSeenToEndARunWhereverItsOnlyFallLies) {
    constexpr int kLength = 1000;
    for (int fall : {1, 2, 255, 256, 257, 511, 512, 513, 768, 997, 998, 999}) {
        std::vector<double> frame(kLength, 0.0);
        std::fill(frame.begin(), frame.begin() + fall, 1.0);
        EXPECT_TRUE(runEndsInFrame(0.0, frame.data(), kLength)) << fall;
        frame[static_cast<std::size_t>(fall)] = 1.0;  // the run now goes on one sample more
        const bool stillEnds = fall + 1 < kLength;
        EXPECT_EQ(runEndsInFrame(0.0, frame.data(), kLength), stillEnds) << fall;
    }
    EXPECT_FALSE(runEndsInFrame(1.0, std::vector<double>(kLength, 1.0).data(), kLength));
}

TEST(ClipNames, TheModelsParametersNameAClipAfterItsStreamTime) {
    ScratchDirectory dir;
    auto block = clipSave({.frameSize = 8192,
                           .windowLength = 32768,
                           .prefix = "Dick",
                           .directory = dir.path(),
                           .format = 1,
                           .sampleRate = 22050});
    block->record.integerWork[0] = 100;
    enable(*block, 30000, 30010);
    Console console;
    saveFinishedClips(block->record, console.get(), 0);
    const std::string name = dir / "Dick_000.00.38_00.wav";
    EXPECT_EQ(fileBytes(name).size(), 44U + 20U);
    EXPECT_EQ(console.text(), "Saved clip " + name + "\n");
}

TEST(ClipNames, StreamStampsCountHoursMinutesAndSecondsBeyondThirtyTwoBits) {
    EXPECT_EQ(streamStamp(3600.0), "_001.00.00");
    EXPECT_EQ(streamStamp(3599.99), "_000.59.59");
    EXPECT_EQ(streamStamp(0.0), "_000.00.00");
    EXPECT_EQ(streamStamp(38.512), "_000.00.38");
    // 28 hours of audio at 22050 Hz is more than 2^31 samples.
    const int framesSeen = 271318;
    EXPECT_EQ(streamSeconds(2944, framesSeen, 8192, 22050.0), 100800.0);
    EXPECT_EQ(streamStamp(streamSeconds(2944, framesSeen, 8192, 22050.0)), "_028.00.00");
    EXPECT_EQ(streamStamp(streamSeconds(0, 300000, 8192, 22050.0)), "_030.57.35");
    // A broken rate gives no stamp rather than a garbage one.
    EXPECT_EQ(streamStamp(streamSeconds(10, 0, 8192, 0.0)), "");
}

TEST(ClipNames, CalendarStampsAreTheTimeOfSavingInUtcOrLocalTime) {
    EXPECT_EQ(calendarStamp(kMarch5th2024, true), "_2024-03-05_07.08.09");
    EXPECT_EQ(clipStamp(kStampUtc, 0.0, kMarch5th2024), "_2024-03-05_07.08.09");
    const std::regex shape("_\\d{4}-(0[1-9]|1[0-2])-\\d\\d_\\d\\d\\.\\d\\d\\.\\d\\d");
    EXPECT_TRUE(std::regex_match(clipStamp(kStampLocal, 0.0, kMarch5th2024), shape));
    EXPECT_TRUE(std::regex_match(clipStamp(kStampLocal, 0.0, std::time(nullptr)), shape));
    EXPECT_EQ(clipStamp(kStampStream, 61.5, kMarch5th2024), "_000.01.01");
    EXPECT_EQ(clipStamp(0, 61.5, kMarch5th2024), "");
    EXPECT_EQ(clipStamp(4, 61.5, kMarch5th2024), "");
}

TEST(ClipNames, TheSuffixSkipsEveryNameTakenAndGoesOnWithThreeDigitsPastNinetyNine) {
    ScratchDirectory dir;
    const std::string stem = dir / "Dick_000.00.38";
    touch(stem + "_00.wav");
    EXPECT_EQ(freeClipName(stem, ".wav"), stem + "_01.wav");
    // A link to nothing and a folder are taken names too: a clip must not replace them.
    std::filesystem::create_symlink(dir / "nowhere", stem + "_01.wav");
    std::filesystem::create_directory(stem + "_02.wav");
    for (int suffix = 3; suffix < 100; ++suffix) {
        char name[16];
        std::snprintf(name, sizeof name, "_%.2d.wav", suffix);
        touch(stem + name);
    }
    EXPECT_EQ(freeClipName(stem, ".wav"), stem + "_100.wav");
    touch(stem + "_100.wav");
    EXPECT_EQ(freeClipName(stem, ".wav"), stem + "_101.wav");

    auto block = clipSave({.directory = dir.path(), .format = 1, .stampMode = 0});
    touch(dir / "c_00.wav");
    enable(*block, 26, 28);
    Console console;
    saveFrame(*block, console);
    EXPECT_EQ(fileBytes(dir / "c_00.wav"), "taken");
    EXPECT_EQ(fileBytes(dir / "c_01.wav").size(), 44U + 4U);
}

TEST(ClipSaveBlock, DeclaresTwoWindowInputsAndInheritsItsRate) {
    ScratchDirectory dir;
    auto block =
        clipSave({.frameSize = 8, .windowLength = 32, .channels = 2, .directory = dir.path()});
    const BlockRecord& record = block->record;
    EXPECT_EQ(record.paramCountExpected, 9);
    EXPECT_EQ(record.discStateCount, 1);
    EXPECT_EQ(record.integerWorkCount, 1);
    EXPECT_EQ(record.inputCount, 2);
    EXPECT_EQ(record.outputCount, 0);
    EXPECT_EQ(record.inputPorts[0].width, 64);
    EXPECT_EQ(record.inputPorts[1].width, 32);
    EXPECT_EQ(record.inputPorts[0].directFeedthrough, 1);
    EXPECT_EQ(record.inputPorts[1].directFeedthrough, 1);
    record.methods.initializeSampleTimes(&block->record);
    EXPECT_EQ(block->period(), -1.0);
    EXPECT_EQ(block->offset(), 1.0);
    EXPECT_FALSE(record.methods.start);
    EXPECT_FALSE(record.methods.derivatives);
}

TEST(ClipSaveBlock, UpdateAnnouncesOnStandardOutputAndCountsTheFrame) {
    ScratchDirectory dir;
    auto block = clipSave({.directory = dir.path()});
    block->record.integerWork[0] = 7;
    block->record.methods.initializeConditions.byRecord(&block->record);
    EXPECT_EQ(block->record.integerWork[0], 0);
    enable(*block, 26, 28);
    ::testing::internal::CaptureStdout();
    block->record.methods.update(&block->record, 0);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "Saved clip " + (dir / "c_000.00.26_00.flt") + "\n");
    EXPECT_EQ(block->record.integerWork[0], 1);
}

// Records what the block asks of it and tells it.
class RecordingObserver final : public ClipSaveObserver {
public:
    std::string clipStamp(std::int64_t first) override {
        stampedAt.push_back(first);
        return stamp;
    }
    void clipSaved(std::int64_t end, const char* name) override { saved.emplace_back(end, name); }
    bool announceClips() const override { return announce; }
    bool announce = false;
    std::string stamp;
    std::vector<std::int64_t> stampedAt;
    std::vector<std::pair<std::int64_t, std::string>> saved;
};

TEST(ClipSaveObserving, AQuietObserverStampsEachClipAndHearsOfItInPlaceOfTheConsole) {
    ScratchDirectory dir;
    auto block = clipSave({.directory = dir.path()});
    RecordingObserver observer;
    observer.stamp = "_2026-05-12_04.31.07";
    setClipSaveObserver(block->record, &observer);
    block->record.integerWork[0] = 5;  // the newest frame is stream samples 40 to 47
    enable(*block, 20, 27);
    Console console;
    saveFrame(*block, console);
    EXPECT_EQ(console.text(), "");
    EXPECT_EQ(observer.stampedAt, std::vector<std::int64_t>{36});
    const std::string name = dir / "c_2026-05-12_04.31.07_00.flt";
    EXPECT_EQ(observer.saved, (std::vector<std::pair<std::int64_t, std::string>>{{43, name}}));
    EXPECT_EQ(savedClips(dir), (std::vector<Saved>{{"c_2026-05-12_04.31.07_00.flt", 20, 26}}));
}

TEST(ClipSaveObserving, AnObserverMayLeaveTheAnnouncementOnTheConsole) {
    ScratchDirectory dir;
    auto block = clipSave({.directory = dir.path()});
    RecordingObserver observer;
    observer.announce = true;
    setClipSaveObserver(block->record, &observer);
    enable(*block, 26, 28);
    Console console;
    saveFrame(*block, console);
    EXPECT_EQ(console.text(), "Saved clip " + (dir / "c_000.00.26_00.flt") + "\n");
    EXPECT_EQ(observer.saved.size(), 1u);
}

TEST(ClipSaveObserving, AnEmptyStampFromTheObserverKeepsTheBlocksOwn) {
    ScratchDirectory dir;
    auto block = clipSave({.directory = dir.path()});
    RecordingObserver observer;
    setClipSaveObserver(block->record, &observer);
    enable(*block, 26, 28);
    Console console;
    saveFrame(*block, console);
    EXPECT_EQ(savedClips(dir), (std::vector<Saved>{{"c_000.00.26_00.flt", 26, 27}}));
}

TEST(ClipSaveObserving, AnEmptyDirectoryTurnsClipsOff) {
    auto block = clipSave({.directory = ""});
    RecordingObserver observer;
    setClipSaveObserver(block->record, &observer);
    enable(*block, 26, 28);
    Console console;
    saveFrame(*block, console);
    EXPECT_TRUE(observer.saved.empty());
    EXPECT_EQ(block->error(), nullptr);
}

TEST(ClipSaveFailures, AFailedClipIsReportedWithItsMessage) {
    ScratchDirectory dir;
    auto missing = clipSave({.directory = dir / "missing"});
    enable(*missing, 26, 28);
    Console console;
    saveFrame(*missing, console);
    EXPECT_STREQ(missing->error(), "Error creating clip file");
    EXPECT_EQ(console.text(), "");

    // With every two-digit name of the first run taken, its clip goes on to three digits.
    auto block = clipSave({.directory = dir.path()});
    for (int suffix = 0; suffix < 100; ++suffix) {
        char name[32];
        std::snprintf(name, sizeof name, "c_000.00.20_%.2d.flt", suffix);
        std::filesystem::create_directory(dir / name);
    }
    enable(*block, 20, 25);
    enable(*block, 27, 30);
    saveFrame(*block, console);
    EXPECT_EQ(block->error(), nullptr);
    EXPECT_EQ(console.text(), "Saved clip " + (dir / "c_000.00.20_100.flt") + "\nSaved clip " +
                                  (dir / "c_000.00.27_00.flt") + "\n");
    std::filesystem::remove_all(dir.path());
    std::filesystem::create_directory(dir.path());

    auto aiff = clipSave({.channels = 3, .directory = dir.path(), .format = 8});
    enable(*aiff, 26, 28);
    saveFrame(*aiff, console);
    EXPECT_STREQ(aiff->error(), "AIFF clip file can only save up to two channels.");
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(ClipSaveFailures, AnUnknownFormatSavesNothingAndReportsNothing) {
    ScratchDirectory dir;
    auto block = clipSave({.directory = dir.path(), .format = 9});
    enable(*block, 26, 28);
    Console console;
    saveFrame(*block, console);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    EXPECT_EQ(block->error(), nullptr);
}

// A Clip & Save block that reaches a FileGuard, as the model's does; the guard's warnings
// are captured.
struct GuardedClipSave {
    GuardedClipSave(const std::string& directory, std::uint64_t minFreeBytes)
        : guard(minFreeBytes, 0.0, warnings.get()), block(clipSave({.directory = directory})) {
        block->record.pointerWork = slots;
        placeFileGuard(block->record, &guard);
    }
    // Saves one clip of the frame at `frame` frames into the run.
    void saveOneClip(int frame, Console& console) {
        std::fill(block->input(1).begin(), block->input(1).end(), 0.0);
        block->record.integerWork[0] = frame;
        enable(*block, 26, 28);
        saveFrame(*block, console);
    }

    Console warnings;
    FileGuard guard;
    std::unique_ptr<TestBlock> block;
    void* slots[2] = {};  // the guard, then the observer
};

// Fills a file system until it refuses another byte.
void fill(const std::string& filler) {
    std::FILE* file = std::fopen(filler.c_str(), "wb");
    const std::vector<char> chunk(4096, 'x');
    while (std::fwrite(chunk.data(), 1, chunk.size(), file) == chunk.size()) {
    }
    std::fclose(file);
}

std::vector<std::string> namesIn(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(ClipSaveSpaceGuard, RefusesClipsBelowTheLimitWithOneWarningAndCountsThemHourly) {
    ScratchDirectory dir;
    GuardedClipSave saver(dir.path(), std::uint64_t{1} << 62);
    Console console;
    for (int frame = 0; frame < 3; ++frame) saver.saveOneClip(frame, console);
    EXPECT_EQ(saver.block->error(), nullptr);
    EXPECT_EQ(console.text(), "");
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    const std::string first = saver.warnings.text();
    EXPECT_NE(first.find("clips are not saved until space returns"), std::string::npos) << first;
    EXPECT_EQ(std::count(first.begin(), first.end(), '\n'), 1) << first;

    saver.guard.reportRefusals();
    const std::string hourly = saver.warnings.text().substr(first.size());
    EXPECT_NE(hourly.find("3 clips were not saved for lack of space"), std::string::npos) << hourly;
    EXPECT_NE(hourly.find(dir.path().string()), std::string::npos) << hourly;
    saver.guard.reportRefusals();
    EXPECT_EQ(saver.warnings.text().substr(first.size()), hourly);
}

TEST(ClipSaveSpaceGuard, SavesAgainByItselfOnceSpaceReturns) {
    SmallTmpfs disk("256k");
    if (!disk.available()) GTEST_SKIP() << "no tmpfs: " << disk.why();
    GuardedClipSave saver(disk.path(), 64 * 1024);
    fill(disk / "filler");
    Console console;
    saver.saveOneClip(0, console);
    EXPECT_EQ(console.text(), "");
    std::filesystem::remove(disk / "filler");
    saver.saveOneClip(1, console);
    EXPECT_EQ(saver.block->error(), nullptr);
    EXPECT_EQ(console.text(), "Saved clip " + (disk / "c_000.00.34_00.flt") + "\n");
    EXPECT_EQ(namesIn(disk.path()), std::vector<std::string>{"c_000.00.34_00.flt"});
    const std::string warnings = saver.warnings.text();
    EXPECT_NE(warnings.find("saving clips again"), std::string::npos) << warnings;
    EXPECT_NE(warnings.find("1 clip was not saved"), std::string::npos) << warnings;
}

TEST(ClipSaveSpaceGuard, AClipThatRunsOutOfSpaceIsGivenUpWithoutATraceAndTheRunGoesOn) {
    SmallTmpfs disk("64k");
    if (!disk.available()) GTEST_SKIP() << "no tmpfs: " << disk.why();
    GuardedClipSave saver(disk.path(), 0);
    fill(disk / "filler");
    Console console;
    saver.saveOneClip(0, console);
    EXPECT_EQ(saver.block->error(), nullptr);
    EXPECT_EQ(namesIn(disk.path()), std::vector<std::string>{"filler"});
    EXPECT_NE(saver.warnings.text().find("clips are not saved"), std::string::npos);
    std::filesystem::remove(disk / "filler");
    saver.saveOneClip(1, console);
    EXPECT_EQ(namesIn(disk.path()), std::vector<std::string>{"c_000.00.34_00.flt"});
}

TEST(ClipSaveFailures, AVanishedFolderIsMadeAgainWithAWarningAndTheClipSaved) {
    ScratchDirectory dir;
    GuardedClipSave saver(dir / "Calls", 0);
    Console console;
    saver.saveOneClip(0, console);
    EXPECT_EQ(saver.block->error(), nullptr);
    EXPECT_EQ(namesIn(dir / "Calls"), std::vector<std::string>{"c_000.00.26_00.flt"});
    EXPECT_NE(saver.warnings.text().find("the clip folder " + (dir / "Calls") + " had vanished"),
              std::string::npos)
        << saver.warnings.text();
}

TEST(ClipSaveFailures, AFailureOtherThanSpaceOrAVanishedFolderEndsTheRunNamingFileAndReason) {
    ScratchDirectory dir;
    touch(dir / "Calls");
    GuardedClipSave saver(dir / "Calls", 0);
    Console console;
    saver.saveOneClip(0, console);
    const std::string error = saver.block->error();
    EXPECT_EQ(error.substr(0, error.find('\n')), "Error creating clip file");
    EXPECT_NE(error.find(dir / "Calls/"), std::string::npos) << error;
    EXPECT_NE(error.find("Not a directory"), std::string::npos) << error;
}

}  // namespace
}  // namespace bm7
