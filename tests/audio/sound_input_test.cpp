#include "audio/sound_input.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "scripted_layer.h"
#include "wave_in_harness.h"

namespace bm7::testing {
namespace {

// A WaveIn block on a scripted layer; whatever a test leaves allocated is freed at the end.
struct Rig {
    explicit Rig(const WaveInParams& params) : harness(params, &layer) {}
    ~Rig() { releaseBuffers(harness.block()); }

    BlockRecord& block() { return harness.block(); }
    void start() { callStart(block()); }
    void step() { callOutputs(block(), 0); }
    std::vector<double> frame() const {
        return {harness.frame(), harness.frame() + harness.frameWidth()};
    }
    std::string error() const { return harness.error() ? harness.error() : ""; }

    ScriptedLayer layer;
    WaveInHarness harness;
};

std::vector<std::uint8_t> littleEndian(const std::vector<int>& samples) {
    std::vector<std::uint8_t> bytes;
    for (int sample : samples) {
        const auto value = static_cast<std::uint16_t>(static_cast<std::int16_t>(sample));
        bytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(value >> 8));
    }
    return bytes;
}

std::vector<CaptureBuffer*> queueMembers(const BlockRecord& block, int headSlot) {
    std::vector<CaptureBuffer*> members;
    for (auto* b = static_cast<CaptureBuffer*>(block.pointerWork[headSlot]); b; b = b->next) {
        members.push_back(b);
    }
    return members;
}

void expectEveryBufferInExactlyOnePlace(Rig& rig) {
    const BlockRecord& block = rig.block();
    std::vector<CaptureBuffer*> places = queueMembers(block, kFreeHeadSlot);
    const std::vector<CaptureBuffer*> filled = queueMembers(block, kFilledHeadSlot);
    places.insert(places.end(), filled.begin(), filled.end());
    places.insert(places.end(), rig.layer.atLayer().begin(), rig.layer.atLayer().end());
    const int count = readSoundInputConfig(block).bufferCount;
    auto** table = static_cast<CaptureBuffer**>(block.pointerWork[kBufferTableSlot]);
    ASSERT_EQ(places.size(), static_cast<std::size_t>(count));
    EXPECT_EQ(std::set<CaptureBuffer*>(places.begin(), places.end()),
              std::set<CaptureBuffer*>(table, table + count));
    EXPECT_EQ(queuedAtDevice(block), static_cast<int>(rig.layer.atLayer().size()));
}

TEST(SoundInputStart, OpensWithThePcmFormatAndPrimesEveryBufferBeforeCaptureStarts) {
    Rig rig({2, 0, 8000, 16, 16, 3});
    rig.start();
    EXPECT_EQ(rig.error(), "");
    const CaptureFormat& format = rig.layer.format();
    EXPECT_EQ(format.formatTag, 1);
    EXPECT_EQ(format.channels, 2);
    EXPECT_EQ(format.samplesPerSecond, 8000U);
    EXPECT_EQ(format.blockAlign, 4);
    EXPECT_EQ(format.averageBytesPerSecond, 32000U);
    EXPECT_EQ(format.bitsPerSample, 16);
    EXPECT_EQ(format.extraSize, 0);
    EXPECT_EQ(rig.layer.log(), (std::vector<std::string>{"open", "prepare", "queue", "prepare",
                                                         "queue", "prepare", "queue", "start"}));
    for (CaptureBuffer* buffer : rig.layer.atLayer()) EXPECT_EQ(buffer->bufferLength, 64U);
    expectEveryBufferInExactlyOnePlace(rig);
}

TEST(SoundInputStart, AnErrorWhilePrimingStopsPrimingAndCaptureNeverStarts) {
    Rig failingQueue({1, 0, 8000, 16, 16, 5});
    failingQueue.layer.failCall("queue", 2, kCaptureNoMemory);
    failingQueue.start();
    EXPECT_EQ(failingQueue.error(), "Error allocating memory");
    EXPECT_EQ(failingQueue.layer.calls("queue"), 2);
    EXPECT_EQ(failingQueue.layer.calls("start"), 0);

    Rig failingPrepare({1, 0, 8000, 16, 16, 5});
    failingPrepare.layer.failCall("prepare", 3, kCaptureUnprepared);
    failingPrepare.start();
    EXPECT_EQ(failingPrepare.error(), "Buffer unprepared");
    EXPECT_EQ(failingPrepare.layer.calls("queue"), 2);
    EXPECT_EQ(failingPrepare.layer.calls("start"), 0);
}

TEST(SoundInputStart, AFailedOpenPreparesNothing) {
    Rig rig({1, 0, 8000, 16, 16, 2});
    rig.layer.failCall("open", 1, kCaptureAllocated);
    rig.start();
    EXPECT_EQ(rig.error(), "Sound input device busy");
    EXPECT_EQ(rig.layer.log(), std::vector<std::string>{"open"});
}

TEST(SoundInputStart, WithoutACaptureLayerTheDeviceIsMissing) {
    WaveInHarness harness({1, 0, 8000, 16, 16, 2}, nullptr);
    callStart(harness.block());
    EXPECT_STREQ(harness.error(), "Missing sound input device");
    releaseBuffers(harness.block());
}

TEST(DeviceErrors, TheSystemsTextWinsOverTheFixedMessage) {
    Rig rig({1, 0, 8000, 16, 16, 2});
    rig.layer.giveText(kCaptureAllocated, "the device is taken by another program");
    rig.layer.failCall("open", 1, kCaptureAllocated);
    rig.start();
    EXPECT_EQ(rig.error(), "the device is taken by another program");
}

TEST(DeviceErrors, EveryCodeWithoutATextGetsItsFixedMessage) {
    const std::vector<std::pair<int, std::string>> table = {
        {2, "Missing sound input device"},
        {4, "Sound input device busy"},
        {5, "Invalid device handle"},
        {6, "No sound input device driver"},
        {7, "Error allocating memory"},
        {32, "Sound format unsupported"},
        {33, "Active buffers prevent operation"},
        {34, "Buffer unprepared"},
        {1, "Unknown error"},
        {-9999, "Unknown error"},
    };
    Rig rig({1, 0, 8000, 16, 16, 2});
    EXPECT_FALSE(reportDeviceError(rig.block(), kCaptureOk));
    EXPECT_EQ(rig.error(), "");
    for (const auto& [code, message] : table) {
        EXPECT_TRUE(reportDeviceError(rig.block(), code));
        EXPECT_EQ(rig.error(), message) << code;
    }
}

TEST(SoundInputConversion, EightBitSamplesSpanMinusOneToJustBelowOne) {
    Rig rig({1, 0, 8000, 8, 4, 2});
    rig.start();
    rig.layer.deliver({0, 128, 255, 1});
    rig.step();
    EXPECT_EQ(rig.frame(), (std::vector<double>{-1.0, 0.0, 0.9921875, -0.9921875}));
}

TEST(SoundInputConversion, SixteenBitSamplesSpanMinusOneToJustBelowOne) {
    Rig rig({1, 0, 8000, 16, 5, 2});
    rig.start();
    rig.layer.deliver(littleEndian({-32768, 32767, 0, 1, -256}));
    rig.step();
    EXPECT_EQ(rig.frame(),
              (std::vector<double>{-1.0, 0.999969482421875, 0.0, 0.000030517578125, -0.0078125}));
}

TEST(SoundInputConversion, TwoChannelsComeOutInCaptureOrderOrAsOneColumnPerChannel) {
    const std::vector<int> leftRight = {100, -100, 200, -200, 300, -300};
    const double unit = 0.000030517578125;
    Rig captureOrder({2, 0, 8000, 16, 3, 2});
    captureOrder.start();
    captureOrder.layer.deliver(littleEndian(leftRight));
    captureOrder.step();
    EXPECT_EQ(captureOrder.frame(), (std::vector<double>{100 * unit, -100 * unit, 200 * unit,
                                                         -200 * unit, 300 * unit, -300 * unit}));
    Rig columns({2, 1, 8000, 16, 3, 2});
    columns.start();
    columns.layer.deliver(littleEndian(leftRight));
    columns.step();
    EXPECT_EQ(columns.frame(), (std::vector<double>{100 * unit, 200 * unit, 300 * unit, -100 * unit,
                                                    -200 * unit, -300 * unit}));
}

TEST(SoundInputConversion, AShortBufferEndsInSilenceEvenWhenItHeldOlderAudio) {
    Rig sixteen({1, 0, 8000, 16, 4, 1});
    sixteen.start();
    sixteen.layer.deliver(littleEndian({1000, 1000, 1000, 1000}));
    sixteen.step();
    sixteen.layer.deliver(littleEndian({-32768, 32767}));
    sixteen.step();
    EXPECT_EQ(sixteen.frame(), (std::vector<double>{-1.0, 0.999969482421875, 0.0, 0.0}));

    Rig eight({1, 0, 8000, 8, 4, 1});
    eight.start();
    eight.layer.deliver({200, 200, 200, 200});
    eight.step();
    eight.layer.deliver({255});
    eight.step();
    EXPECT_EQ(eight.frame(), (std::vector<double>{0.9921875, -1.0, -1.0, -1.0}));
}

TEST(SoundInputConversion, AnUnsupportedWidthLeavesTheFrameButStillRecyclesTheBuffer) {
    Rig rig({1, 0, 8000, 24, 2, 2});
    rig.start();
    rig.harness.block().outputPorts[0].signal[0] = 0.25;
    rig.layer.deliver({1, 2, 3, 4, 5, 6});
    rig.step();
    EXPECT_EQ(rig.error(), "");
    EXPECT_EQ(rig.frame()[0], 0.25);
    expectEveryBufferInExactlyOnePlace(rig);
}

TEST(SoundInputStreaming, RandomArrivalsComeOutInOrderWithEveryBufferAlwaysInOnePlace) {
    constexpr int kFrameSize = 32;
    constexpr int kFrames = 300;
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    std::vector<int> signal(kFrameSize * kFrames);
    for (int& value : signal) value = sample(random);

    Rig rig({1, 0, 8000, 16, kFrameSize, 5});
    rig.start();
    std::vector<double> received;
    int delivered = 0;
    while (static_cast<int>(received.size()) < kFrames * kFrameSize) {
        const bool canDeliver = delivered < kFrames && !rig.layer.atLayer().empty();
        const bool canTake = !queueMembers(rig.block(), kFilledHeadSlot).empty();
        if (canDeliver && (!canTake || random() % 2 == 0)) {
            const auto from = signal.begin() + delivered * kFrameSize;
            rig.layer.deliver(littleEndian(std::vector<int>(from, from + kFrameSize)));
            ++delivered;
        } else {
            rig.step();
            const std::vector<double> frame = rig.frame();
            received.insert(received.end(), frame.begin(), frame.end());
        }
        expectEveryBufferInExactlyOnePlace(rig);
    }
    ASSERT_EQ(rig.error(), "");
    for (std::size_t i = 0; i < signal.size(); ++i) {
        ASSERT_EQ(received[i], signal[i] / 32768.0) << i;
    }
}

TEST(SoundInputLimit, AtMost85BuffersAreAtTheLayerWhateverTheBufferCount) {
    Rig rig({1, 0, 8000, 16, 4, 90});
    rig.start();
    EXPECT_EQ(rig.layer.atLayer().size(), 85U);
    EXPECT_EQ(queueMembers(rig.block(), kFreeHeadSlot).size(), 5U);
    rig.layer.deliver(littleEndian({1, 2, 3, 4}));
    rig.step();
    EXPECT_EQ(rig.layer.atLayer().size(), 85U);
    expectEveryBufferInExactlyOnePlace(rig);
}

TEST(SoundInputWait, NoBufferWithinThePlayingTimeOfAllBuffersIsNoAudioInput) {
    Rig rig({1, 0, 1000, 16, 50, 2});  // 2 x 50 / 1000 = 0.1 s
    rig.start();
    const auto before = std::chrono::steady_clock::now();
    rig.step();
    const auto waited = std::chrono::steady_clock::now() - before;
    EXPECT_EQ(rig.error(), "No audio input");
    EXPECT_GE(waited, std::chrono::milliseconds(100));
    EXPECT_EQ(rig.layer.atLayer().size(), 2U);
}

TEST(SoundInputWait, ABufferReturnedOnAnotherThreadEndsTheWait) {
    Rig rig({1, 0, 1000, 16, 2, 2000});  // a timeout of 4 s that must not be reached
    rig.start();
    std::thread device([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        rig.layer.deliver(littleEndian({16384, -16384}));
    });
    rig.step();
    device.join();
    EXPECT_EQ(rig.error(), "");
    EXPECT_EQ(rig.frame(), (std::vector<double>{0.5, -0.5}));
}

TEST(SoundInputWait, AnInterruptionEndsTheWaitWithoutAnErrorAndTheFrameIsSilence) {
    Rig rig({1, 0, 1000, 16, 2, 2000});  // a timeout of 4 s that must not be reached
    rig.start();
    rig.layer.deliver(littleEndian({16384, -16384}));
    rig.step();
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        rig.layer.interruptWait();
    });
    rig.step();
    stopper.join();
    EXPECT_EQ(rig.error(), "");
    EXPECT_EQ(rig.frame(), (std::vector<double>{0.0, 0.0}));
    EXPECT_EQ(rig.harness.simInfo().stopRequested, 1);
    expectEveryBufferInExactlyOnePlace(rig);
}

TEST(SoundInputWait, AudioAlreadyCapturedIsUsedEvenAfterAnInterruption) {
    Rig rig({1, 0, 1000, 16, 2, 2000});
    rig.start();
    rig.layer.deliver(littleEndian({16384, -16384}));
    rig.layer.interruptWait();
    rig.step();
    EXPECT_EQ(rig.frame(), (std::vector<double>{0.5, -0.5}));
    EXPECT_EQ(rig.harness.simInfo().stopRequested, 0);
}

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A live source: eight buffers of a quarter of a second, taken three at a time.
struct BatchRig : Rig {
    BatchRig() : Rig({1, 0, 8, 16, 2, 8}) {
        layer.batch = 3;
        start();
    }
};

TEST(SoundInputBatches, TheModelWakesForAWholeBatchThenTakesItsBuffersWithoutWaiting) {
    BatchRig rig;
    const Clock::time_point start = Clock::now();
    std::thread device([&] {
        for (int sample : {1, 2, 3}) {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            rig.layer.deliver(littleEndian({sample * 8192, 0}));
        }
    });
    rig.step();
    device.join();
    EXPECT_GE(secondsSince(start), 0.09);
    EXPECT_EQ(rig.frame(), (std::vector<double>{0.25, 0.0}));
    for (double expected : {0.5, 0.75}) {
        const Clock::time_point before = Clock::now();
        rig.step();
        EXPECT_LT(secondsSince(before), 0.05);
        EXPECT_EQ(rig.frame(), (std::vector<double>{expected, 0.0}));
    }
    EXPECT_EQ(rig.error(), "");
    expectEveryBufferInExactlyOnePlace(rig);
}

TEST(SoundInputBatches, TheSourcesLastBufferEndsTheWaitForABatch) {
    BatchRig rig;
    const Clock::time_point start = Clock::now();
    std::thread device([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        rig.layer.deliver(littleEndian({8192, 0}), kBufferEndOfStream);
    });
    rig.step();
    device.join();
    EXPECT_LT(secondsSince(start), 0.5);  // a batch gives up after a second
    EXPECT_EQ(rig.frame(), (std::vector<double>{0.25, 0.0}));
}

// A source that stops in the middle of a batch: what came is taken once the batch is
// overdue, and the run hears of no audio two seconds (all eight buffers) after the last
// buffer came, as when a source stops between batches, not two seconds after that.
TEST(SoundInputBatches, ASourceStoppingInTheMiddleOfABatchIsNoAudioInputAsSoonAsBetween) {
    BatchRig rig;
    const Clock::time_point start = Clock::now();
    std::thread device([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        rig.layer.deliver(littleEndian({8192, 0}));
    });
    rig.step();
    device.join();
    EXPECT_GE(secondsSince(start), 0.9);
    EXPECT_EQ(rig.frame(), (std::vector<double>{0.25, 0.0}));
    EXPECT_EQ(rig.error(), "");
    rig.step();
    EXPECT_EQ(rig.error(), "No audio input");
    EXPECT_GE(secondsSince(start), 2.0);
    EXPECT_LT(secondsSince(start), 2.6);
}

TEST(SoundInputRecovery, ALostSourceEndsTheWaitAtOnceAndWithoutRecoveryIsNoAudioInput) {
    Rig rig({1, 0, 1000, 16, 2, 2000});
    rig.start();
    rig.layer.loseSource();
    rig.step();
    EXPECT_EQ(rig.error(), "No audio input");
    EXPECT_EQ(rig.layer.recoverReasons(), std::vector<std::string>{"(lost)"});
}

TEST(SoundInputRecovery, ARecoveredSourceDeliversIntoTheSameStepWithItsBuffersKept) {
    Rig rig({1, 0, 1000, 16, 2, 4});  // a timeout of 8 ms
    rig.start();
    int recoveries = 0;
    rig.layer.onRecover = [&] {
        // Gone for two timeouts, then back with every buffer still at the layer.
        if (++recoveries < 3) return true;
        rig.layer.deliver(littleEndian({-16384, 16384}));
        return true;
    };
    rig.step();
    EXPECT_EQ(rig.error(), "");
    EXPECT_EQ(rig.layer.recoverReasons(),
              (std::vector<std::string>{"No audio input", "No audio input", "No audio input"}));
    EXPECT_EQ(rig.frame(), (std::vector<double>{-0.5, 0.5}));
    expectEveryBufferInExactlyOnePlace(rig);
}

TEST(SoundInputWait, AFailedUnprepareIsReportedButTheFrameIsStillConverted) {
    Rig rig({1, 0, 8000, 16, 1, 2});
    rig.start();
    rig.layer.failCall("unprepare", 1, kCaptureInvalidHandle);
    rig.layer.deliver(littleEndian({-32768}));
    rig.step();
    EXPECT_EQ(rig.error(), "Invalid device handle");
    EXPECT_EQ(rig.frame(), std::vector<double>{-1.0});
}

TEST(SoundInputStop, ResetReturnsEveryBufferThenAllAreReleasedAndTheDeviceClosed) {
    Rig rig({1, 0, 8000, 16, 4, 3});
    rig.start();
    rig.layer.deliver(littleEndian({1, 2}));
    callTerminate(rig.block());
    EXPECT_EQ(rig.error(), "");
    const std::vector<std::string> tail(rig.layer.log().end() - 5, rig.layer.log().end());
    EXPECT_EQ(tail,
              (std::vector<std::string>{"reset", "unprepare", "unprepare", "unprepare", "close"}));
    EXPECT_EQ(rig.block().pointerWork[kBufferTableSlot], nullptr);
    EXPECT_EQ(rig.block().pointerWork[kFilledHeadSlot], nullptr);
    releaseBuffers(rig.block());  // a second release frees nothing
}

TEST(SoundInputStop, AFailedResetLeavesBuffersAndDeviceAsTheyAre) {
    Rig rig({1, 0, 8000, 16, 4, 3});
    rig.start();
    rig.layer.failCall("reset", 1, kCaptureStillPlaying);
    callTerminate(rig.block());
    EXPECT_EQ(rig.error(), "Active buffers prevent operation");
    EXPECT_EQ(rig.layer.calls("unprepare"), 0);
    EXPECT_EQ(rig.layer.calls("close"), 0);
    ASSERT_NE(rig.block().pointerWork[kBufferTableSlot], nullptr);
    expectEveryBufferInExactlyOnePlace(rig);
    callTerminate(rig.block());
    EXPECT_EQ(rig.layer.calls("close"), 1);
}

TEST(WaveIn, DeclaresAFrameOfChannelsTimesFrameSizeAtTheFramePeriod) {
    WaveInHarness harness(kModelWaveIn, nullptr);
    const BlockRecord& block = harness.block();
    EXPECT_EQ(harness.frameWidth(), 8192);
    EXPECT_EQ(block.samplePeriods[0], 8192.0 / 22050.0);
    EXPECT_EQ(block.sampleOffsets[0], 0.0);
    EXPECT_EQ(block.paramCountExpected, 6);
    EXPECT_EQ(block.integerWorkCount, 2);  // queued buffers, audio samples in the frame
    EXPECT_EQ(block.pointerWorkCount, 6);
    EXPECT_FALSE(block.methods.initializeConditions);
    EXPECT_EQ(block.methods.update, nullptr);

    WaveInHarness stereo({2, 1, 44100, 16, 1000.5, 2}, nullptr);
    EXPECT_EQ(stereo.frameWidth(), 2002);
    EXPECT_EQ(stereo.block().samplePeriods[0], 1001.0 / 44100.0);
}

TEST(WaveIn, TheFrameOfTheLastBufferOfAFiniteSourceEndsTheRun) {
    Rig rig({1, 0, 8000, 16, 2, 2});
    rig.start();
    rig.layer.deliver(littleEndian({1, 2}));
    rig.step();
    EXPECT_EQ(rig.harness.simInfo().stopRequested, 0);
    rig.layer.deliver(littleEndian({3, 4}), kBufferEndOfStream);
    rig.step();
    EXPECT_EQ(rig.harness.simInfo().stopRequested, 1);
    EXPECT_EQ(rig.frame(), (std::vector<double>{3 / 32768.0, 4 / 32768.0}));
}

}  // namespace
}  // namespace bm7::testing
