#include "audio/file_capture.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <numbers>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "audio/sound_input.h"
#include "audio/wave_in.h"
#include "driver/driver_test_support.h"
#include "driver/model.h"
#include "driver/run.h"
#include "wave_in_harness.h"

namespace bm7::testing {
namespace {

class FileInput : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = ::testing::TempDir() + "bm7_file_input_XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        directory_ = pattern;
    }
    void TearDown() override {
        for (const std::string& path : created_) std::remove(path.c_str());
        rmdir(directory_.c_str());
    }

    std::string pathOf(const std::string& name) {
        created_.push_back(directory_ + "/" + name);
        return created_.back();
    }

    // Writes interleaved samples scaled to -1..1.
    std::string writeSound(const std::string& name, int format, int rate, int channels,
                           const std::vector<double>& samples) {
        const std::string path = pathOf(name);
        SF_INFO info{};
        info.samplerate = rate;
        info.channels = channels;
        info.format = format;
        SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
        EXPECT_NE(file, nullptr) << sf_strerror(nullptr);
        if (file == nullptr) return path;
        sf_writef_double(file, samples.data(), static_cast<sf_count_t>(samples.size()) / channels);
        sf_close(file);
        return path;
    }

    std::string writeSixteenBit(const std::string& name, const std::vector<short>& samples,
                                int container = SF_FORMAT_WAV) {
        const std::string path = pathOf(name);
        SF_INFO info{};
        info.samplerate = 22050;
        info.channels = 1;
        info.format = container | SF_FORMAT_PCM_16;
        SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
        EXPECT_NE(file, nullptr) << sf_strerror(nullptr);
        if (file == nullptr) return path;
        sf_writef_short(file, samples.data(), static_cast<sf_count_t>(samples.size()));
        sf_close(file);
        return path;
    }

    std::string writeText(const std::string& name, const std::string& text) {
        const std::string path = pathOf(name);
        std::FILE* file = std::fopen(path.c_str(), "w");
        std::fputs(text.c_str(), file);
        std::fclose(file);
        return path;
    }

private:
    std::string directory_;
    std::vector<std::string> created_;
};

struct Capture {
    RunOutcome outcome;
    std::vector<double> samples;
    std::vector<int> audioSamples;  // of each frame, as the block tells the model
};

Capture captureFile(const std::string& path, int channel = 0, bool realtime = false,
                    const WaveInParams& params = kModelWaveIn) {
    FileCapture layer(path, channel, realtime);
    WaveInHarness harness(params, &layer);
    Capture capture;
    capture.outcome = runWaveIn(harness, [&](const double* frame, int width) {
        capture.samples.insert(capture.samples.end(), frame, frame + width);
        capture.audioSamples.push_back(audioSamplesInFrame(harness.block()));
    });
    return capture;
}

std::vector<short> randomSixteenBit(std::size_t count, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    std::vector<short> samples(count);
    for (short& value : samples) value = static_cast<short>(sample(random));
    samples[0] = -32768;
    samples[1] = 32767;
    return samples;
}

// The frequency of a sine from its upward zero crossings, interpolated between samples.
double sineFrequency(const std::vector<double>& samples, std::size_t from, std::size_t to,
                     double rate) {
    double first = -1.0;
    double last = -1.0;
    int crossings = 0;
    for (std::size_t i = from; i + 1 < to; ++i) {
        if (samples[i] < 0.0 && samples[i + 1] >= 0.0) {
            const double at = i + samples[i] / (samples[i] - samples[i + 1]);
            if (first < 0.0) first = at;
            last = at;
            ++crossings;
        }
    }
    return (crossings - 1) * rate / (last - first);
}

std::vector<double> stereoSines(double rate, double seconds, double left, double right) {
    const auto frames = static_cast<std::size_t>(rate * seconds);
    std::vector<double> samples(frames * 2);
    for (std::size_t i = 0; i < frames; ++i) {
        samples[2 * i] = 0.5 * std::sin(2.0 * std::numbers::pi * left * i / rate);
        samples[2 * i + 1] = 0.5 * std::sin(2.0 * std::numbers::pi * right * i / rate);
    }
    return samples;
}

// The smallest model around a WaveIn block, for runs by the program's own driver.
class WaveInModel : public Model {
public:
    explicit WaveInModel(CaptureLayer& layer)
        : layer_(layer), root_({8192.0 / 22050.0}), waveIn_(kModelWaveIn, &layer) {
        waveIn_.block().errorRecord = &root_.root;
        waveIn_.block().simInfo = &root_.sim;
    }
    // A failed run ends without terminate; stop the capture as the end of the process would.
    ~WaveInModel() override {
        if (terminated_) return;
        layer_.reset();
        releaseBuffers(waveIn_.block());
    }

    BlockRecord* registerModel() override { return &root_.root; }
    void declareModelSizes() override {}
    void declareModelSampleTimes() override {}
    void start() override { callStart(waveIn_.block()); }
    void outputs(int task) override {
        callOutputs(waveIn_.block(), task);
        ++frames;
    }
    void update(int) override {}
    void terminate() override {
        callTerminate(waveIn_.block());
        terminated_ = true;
    }

    int frames = 0;

private:
    CaptureLayer& layer_;
    driver_test::TestRoot root_;
    WaveInHarness waveIn_;
    bool terminated_ = false;
};

struct ProgramRun {
    int status = 0;
    int frames = 0;
    std::string errors;
};

ProgramRun runProgramOnFile(const std::string& path) {
    driver_test::CapturedStream out;
    driver_test::CapturedStream err;
    FileCapture layer(path, 0, false);
    layer.setWarningStream(err.get());
    WaveInModel model(layer);
    ProgramRun run;
    run.status = runProgram(CommandLine{}, model, out.get(), err.get());
    run.frames = model.frames;
    run.errors = err.text();
    return run;
}

TEST_F(FileInput, TheProgramEndsNormallyAtTheEndOfTheFileAndFailsOnABadOne) {
    const ProgramRun complete =
        runProgramOnFile(writeSixteenBit("a.wav", randomSixteenBit(20480, 1)));
    EXPECT_EQ(complete.status, 0);
    EXPECT_EQ(complete.frames, 3 + 6);
    EXPECT_EQ(complete.errors, "");

    const std::string text = writeText("a.txt", "not audio\n");
    const ProgramRun refused = runProgramOnFile(text);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.frames, 0);
    EXPECT_EQ(refused.errors.rfind("Cannot read audio file \"" + text + "\": ", 0), 0U)
        << refused.errors;
    EXPECT_EQ(refused.errors.back(), '\n');
}

TEST_F(FileInput, ASixteenBitFileAtTheCaptureRatePassesBitForBitThenSixFramesOfSilence) {
    const std::vector<short> recording = randomSixteenBit(20480, 11);  // 2.5 frames
    const Capture capture = captureFile(writeSixteenBit("noise.wav", recording));
    EXPECT_EQ(capture.outcome.exitStatus, 0) << capture.outcome.message;
    ASSERT_EQ(capture.outcome.frames, 3 + 6);
    // The silence is no audio: the model completes runs on it but starts none.
    EXPECT_EQ(capture.audioSamples, (std::vector<int>{8192, 8192, 4096, 0, 0, 0, 0, 0, 0}));
    for (std::size_t i = 0; i < recording.size(); ++i) {
        ASSERT_EQ(capture.samples[i], recording[i] / 32768.0) << i;
    }
    for (std::size_t i = recording.size(); i < capture.samples.size(); ++i) {
        ASSERT_EQ(capture.samples[i], 0.0) << i;
    }
}

// The reader is woken for batches of returned buffers; with any number of buffers in
// circulation, the file must still flow through in order and to its end.
TEST_F(FileInput, EveryBufferCountCarriesALongFileInOrderToItsEnd) {
    const std::vector<short> recording = randomSixteenBit(40 * 1024, 13);  // 40 short frames
    const std::string path = writeSixteenBit("long.wav", recording);
    for (double buffers : {1.0, 2.0, 3.0, 5.0, 33.0}) {
        const Capture capture = captureFile(path, 0, false, {1, 0, 22050, 16, 1024, buffers});
        ASSERT_EQ(capture.outcome.exitStatus, 0) << buffers << " " << capture.outcome.message;
        ASSERT_EQ(capture.outcome.frames, 40 + 6) << buffers;
        for (std::size_t i = 0; i < recording.size(); ++i) {
            ASSERT_EQ(capture.samples[i], recording[i] / 32768.0) << buffers << " " << i;
        }
    }
}

// Mono 16-bit files skip the float round trip; the byte order of the file and the
// capture's sample width must not matter to the values that arrive.
TEST_F(FileInput, ABigEndianSixteenBitFileArrivesUnchangedInBothCaptureWidths) {
    const std::vector<short> recording = randomSixteenBit(5000, 14);
    const std::string path = writeSixteenBit("noise.aiff", recording, SF_FORMAT_AIFF);

    const Capture wide = captureFile(path, 0, false, {1, 0, 22050, 16, 1024, 4});
    ASSERT_EQ(wide.outcome.exitStatus, 0) << wide.outcome.message;
    const Capture narrow = captureFile(path, 0, false, {1, 0, 22050, 8, 1024, 4});
    ASSERT_EQ(narrow.outcome.exitStatus, 0) << narrow.outcome.message;
    for (std::size_t i = 0; i < recording.size(); ++i) {
        ASSERT_EQ(wide.samples[i], recording[i] / 32768.0) << i;
        ASSERT_EQ(narrow.samples[i], (recording[i] >> 8) / 128.0) << i;
    }
    for (std::size_t i = recording.size(); i < wide.samples.size(); ++i) {
        ASSERT_EQ(wide.samples[i], 0.0) << i;
    }
}

TEST_F(FileInput, AFileEndingOnAFrameBoundaryIsFollowedByExactlySixSilentFrames) {
    const Capture capture = captureFile(writeSixteenBit("two.wav", randomSixteenBit(16384, 12)));
    EXPECT_EQ(capture.outcome.exitStatus, 0);
    EXPECT_EQ(capture.outcome.frames, 2 + 6);
    EXPECT_EQ(capture.audioSamples, (std::vector<int>{8192, 8192, 0, 0, 0, 0, 0, 0}));
}

TEST_F(FileInput, AFortyEightKilohertzStereoFileIsResampledKeepingEachChannelsFrequency) {
    const std::string path = writeSound("sines.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2,
                                        stereoSines(48000, 3.0, 1000.0, 3000.0));
    const Capture left = captureFile(path);
    ASSERT_EQ(left.outcome.exitStatus, 0) << left.outcome.message;
    const std::size_t length = 3 * 22050;
    EXPECT_EQ(left.outcome.frames, static_cast<int>((length + 8191) / 8192) + 6);
    EXPECT_NEAR(sineFrequency(left.samples, 2205, length - 2205, 22050.0), 1000.0, 1.0);

    const Capture right = captureFile(path, 2);
    ASSERT_EQ(right.outcome.exitStatus, 0) << right.outcome.message;
    EXPECT_NEAR(sineFrequency(right.samples, 2205, length - 2205, 22050.0), 3000.0, 1.0);
}

TEST_F(FileInput, FloatSamplesRoundToTheNearestSixteenBitValueAndClipAtFullScale) {
    const Capture capture =
        captureFile(writeSound("float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 22050, 1,
                               {0.5, -0.25, 1.0 / 65536 * 3, -1.0, 1.0, 1.5, -1.5, std::nan("")}));
    ASSERT_EQ(capture.outcome.exitStatus, 0) << capture.outcome.message;
    const std::vector<double> expected = {
        0.5, -0.25, 2.0 / 32768, -1.0, 32767 / 32768.0, 32767 / 32768.0, -1.0, 0.0};
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(capture.samples[i], expected[i]) << i;
}

TEST_F(FileInput, AMissingEmptyOrNonAudioFileEndsTheRunAtStartNamingTheFile) {
    const std::vector<std::string> paths = {
        pathOf("missing.wav"),
        writeText("notes.txt", "these are field notes, not audio\n"),
        writeSound("empty.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050, 1, {}),
    };
    for (const std::string& path : paths) {
        const Capture capture = captureFile(path);
        EXPECT_EQ(capture.outcome.exitStatus, 1) << path;
        EXPECT_EQ(capture.outcome.frames, 0) << path;
        EXPECT_NE(capture.outcome.message.find("\"" + path + "\""), std::string::npos)
            << capture.outcome.message;
    }
}

TEST_F(FileInput, AChannelTheFileDoesNotHaveEndsTheRunAtStart) {
    const std::string path =
        writeSound("stereo.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050, 2, {0.1, 0.2, 0.3, 0.4});
    const Capture capture = captureFile(path, 3);
    EXPECT_EQ(capture.outcome.exitStatus, 1);
    EXPECT_NE(capture.outcome.message.find("no channel 3"), std::string::npos)
        << capture.outcome.message;
}

TEST_F(FileInput, PacedDeliveryTakesThePlayingTimeAndChangesNoSample) {
    const std::vector<short> recording = randomSixteenBit(4410, 13);
    const WaveInParams smallFrames = {1, 0, 22050, 16, 1024, 4};
    const auto before = std::chrono::steady_clock::now();
    const Capture capture =
        captureFile(writeSixteenBit("paced.wav", recording), 0, true, smallFrames);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - before;
    ASSERT_EQ(capture.outcome.exitStatus, 0) << capture.outcome.message;
    EXPECT_EQ(capture.outcome.frames, 5 + 6);
    EXPECT_GE(took.count(), (4410.0 + 6 * 1024) / 22050);
    for (std::size_t i = 0; i < recording.size(); ++i) {
        ASSERT_EQ(capture.samples[i], recording[i] / 32768.0) << i;
    }
}

// A paced worker is woken by a returned buffer only while it waits for one. A model
// slower than real time hands each buffer back after its time has passed, so the worker
// waits for it every frame: a missed wake-up would stall the run here.
TEST_F(FileInput, PacedDeliveryToAModelSlowerThanRealTimeDeliversEveryFrame) {
    const std::vector<short> recording = randomSixteenBit(3000, 17);
    FileCapture layer(writeSixteenBit("paced_slow.wav", recording), 0, true);
    WaveInHarness harness({1, 0, 22050, 16, 512, 2}, &layer);
    std::vector<double> samples;
    const RunOutcome outcome = runWaveIn(harness, [&](const double* frame, int width) {
        samples.insert(samples.end(), frame, frame + width);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));  // a 512-sample frame is 23 ms
    });
    ASSERT_EQ(outcome.exitStatus, 0) << outcome.message;
    EXPECT_EQ(outcome.frames, 6 + 6);
    for (std::size_t i = 0; i < recording.size(); ++i)
        ASSERT_EQ(samples[i], recording[i] / 32768.0) << i;
}

// A paced file stands for a live source: with the station's 33 buffers the model is
// handed its frames sixteen at a time, each frame no earlier than its audio would have
// been recorded.
TEST_F(FileInput, PacedDeliveryHandsOverBatchesOfFramesAndNoFrameEarly) {
    constexpr int kFrames = 42;
    constexpr double kFrameSeconds = 512.0 / 22050;
    const std::vector<short> recording = randomSixteenBit(kFrames * 512, 19);
    FileCapture layer(writeSixteenBit("paced_batches.wav", recording), 0, true);
    WaveInHarness harness({1, 0, 22050, 16, 512, 33}, &layer);
    std::vector<double> arrivals;
    const auto start = std::chrono::steady_clock::now();
    const RunOutcome outcome = runWaveIn(harness, [&](const double*, int) {
        arrivals.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    });
    ASSERT_EQ(outcome.exitStatus, 0) << outcome.message;
    ASSERT_EQ(arrivals.size(), std::size_t{kFrames + 6});
    int wakeUps = 1;
    for (std::size_t i = 0; i < arrivals.size(); ++i) {
        EXPECT_GE(arrivals[i], (i + 1) * kFrameSeconds) << "frame " << i << " came early";
        if (i > 0 && arrivals[i] - arrivals[i - 1] > kFrameSeconds / 2) ++wakeUps;
    }
    EXPECT_LE(wakeUps, 4);  // 48 frames in batches of 16: three, or four with a late one
}

// A paced worker holds a batch back until its last buffer is due; a stop request must
// not leave what was recorded meanwhile unanalysed, so interruptWait hands it over
// before it returns, and nothing that was not yet recorded.
TEST_F(FileInput, AnInterruptedPacedFileHandsOverTheAudioRecordedSoFar) {
    constexpr int kFrame = 4096;  // a batch then takes three seconds to come due
    constexpr double kFrameSeconds = kFrame / 22050.0;
    FileCapture layer(writeSixteenBit("paced_stop.wav", randomSixteenBit(40 * kFrame, 23)), 0,
                      true);
    CaptureFormat format;
    format.channels = 1;
    format.samplesPerSecond = 22050;
    format.averageBytesPerSecond = 44100;
    format.blockAlign = 2;
    format.bitsPerSample = 16;
    std::atomic<int> returned{0};
    const auto count = [](void* instance, CaptureBuffer*) {
        ++*static_cast<std::atomic<int>*>(instance);
    };
    ASSERT_EQ(layer.open(format, count, &returned), kCaptureOk);
    std::vector<std::vector<std::uint8_t>> storage(33, std::vector<std::uint8_t>(2 * kFrame));
    std::vector<CaptureBuffer> buffers(33);
    for (std::size_t i = 0; i < buffers.size(); ++i) {
        buffers[i].data = storage[i].data();
        buffers[i].bufferLength = 2 * kFrame;
        ASSERT_EQ(layer.prepare(&buffers[i]), kCaptureOk);
        ASSERT_EQ(layer.queue(&buffers[i]), kCaptureOk);
    }
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(layer.start(), kCaptureOk);
    // About nine buffers recorded, none handed over: the batch of sixteen is not yet due.
    std::this_thread::sleep_for(std::chrono::duration<double>(9.5 * kFrameSeconds));
    const int before = returned.load();
    layer.interruptWait();
    const int handedOver = returned.load();
    const double recorded =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
        kFrameSeconds;
    EXPECT_EQ(before, 0);
    EXPECT_GE(handedOver, 9);
    EXPECT_LE(handedOver, static_cast<int>(recorded));
    ASSERT_EQ(layer.reset(), kCaptureOk);
    ASSERT_EQ(layer.close(), kCaptureOk);
}

// Recordings that cannot serve, and recordings cut short by a recorder losing power.
class DamagedRecording : public FileInput {
protected:
    // Keeps the first `bytes` bytes of the file.
    static void cutAfter(const std::string& path, std::uintmax_t bytes) {
        std::filesystem::resize_file(path, bytes);
    }
    // Reads the whole file through a reader at the model's rate.
    static std::size_t readAll(AudioFileReader& reader) {
        std::vector<std::int16_t> samples(4096);
        std::size_t total = 0;
        while (std::size_t got = reader.read(samples.data(), samples.size())) total += got;
        return total;
    }
};

TEST_F(DamagedRecording, ARateBelow11025HzIsRefusedAsUnsuitableAndEndsTheProgramWithStatusOne) {
    const std::string slow =
        writeSound("slow.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, std::vector(8000, 0.1));
    // A rate field damaged to 1 Hz, as a failing card may leave it.
    const std::string damaged = writeSixteenBit("damaged.wav", randomSixteenBit(20000, 2));
    std::FILE* file = std::fopen(damaged.c_str(), "r+b");
    const unsigned char oneHertz[8] = {1, 0, 0, 0, 2, 0, 0, 0};  // rate, then bytes per second
    ASSERT_EQ(std::fseek(file, 24, SEEK_SET), 0);
    ASSERT_EQ(std::fwrite(oneHertz, 1, sizeof oneHertz, file), sizeof oneHertz);
    std::fclose(file);
    for (const auto& [path, rate] : {std::pair{slow, 8000}, std::pair{damaged, 1}}) {
        AudioFileReader reader;
        std::string problem;
        EXPECT_FALSE(reader.open(path, 0, 22050, problem));
        EXPECT_EQ(reader.failure(), AudioFileFailure::unsuitable);
        EXPECT_EQ(problem,
                  "Audio file \"" + path + "\" is sampled at " + std::to_string(rate) +
                      " Hz, below 11025 Hz, so it cannot hold the song band (4.0-5.5 kHz)");
        const ProgramRun run = runProgramOnFile(path);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.frames, 0);
        EXPECT_EQ(run.errors, problem + "\n");
    }
}

TEST_F(DamagedRecording, AMissingChannelIsUnsuitableAndAFileThatIsNotAudioIsUnreadable) {
    AudioFileReader reader;
    std::string problem;
    const std::string stereo =
        writeSound("stereo.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050, 2, {0.1, 0.2, 0.3, 0.4});
    EXPECT_FALSE(reader.open(stereo, 3, 22050, problem));
    EXPECT_EQ(reader.failure(), AudioFileFailure::unsuitable);
    EXPECT_EQ(reader.fileChannels(), 2);
    EXPECT_FALSE(reader.open(writeText("notes.wav", "field notes\n"), 0, 22050, problem));
    EXPECT_EQ(reader.failure(), AudioFileFailure::unreadable);
    EXPECT_TRUE(reader.open(stereo, 2, 22050, problem));
    EXPECT_EQ(reader.failure(), AudioFileFailure::none);
}

TEST_F(DamagedRecording, AWaveCutShortIsReadAsFarAsItGoesWithAWarningGivingBothLengths) {
    const std::vector<short> recording = randomSixteenBit(44100, 3);
    const std::string whole = writeSixteenBit("whole.wav", recording);
    const std::string cut = writeSixteenBit("cut.wav", recording);
    cutAfter(cut, 44 + 2 * 10000);
    AudioFileReader reader;
    std::string problem;
    ASSERT_TRUE(reader.open(whole, 0, 22050, problem)) << problem;
    EXPECT_EQ(readAll(reader), recording.size());
    EXPECT_EQ(reader.warning(), "");
    ASSERT_TRUE(reader.open(cut, 0, 22050, problem)) << problem;
    EXPECT_EQ(readAll(reader), 10000U);
    EXPECT_EQ(reader.framesRead(), 10000);
    const std::string warning = "Audio file \"" + cut +
                                "\" ends early: it holds 0.454 s (10000 frames) of the 2.000 s "
                                "(44100 frames) its header announces; analysed as far as it goes";
    EXPECT_EQ(reader.warning(), warning);
    const ProgramRun run = runProgramOnFile(cut);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.frames, 2 + 6);
    EXPECT_EQ(run.errors, warning + "\n");
}

TEST_F(DamagedRecording, ResampledFilesCutShortAreWarnedOfToo) {
    std::vector<double> tone(2 * 48000 * 3);
    for (std::size_t i = 0; i < tone.size(); ++i) tone[i] = 0.3 * std::sin(0.6 * double(i / 2));
    const std::vector<std::string> paths = {
        writeSound("cut.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 48000, 2, tone),
        writeSound("cut.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 48000, 2, tone)};
    for (const std::string& path : paths) {
        cutAfter(path, std::filesystem::file_size(path) / 3);
        AudioFileReader reader;
        std::string problem;
        ASSERT_TRUE(reader.open(path, 2, 22050, problem)) << problem;
        EXPECT_GT(readAll(reader), 0U);
        EXPECT_LT(reader.framesRead(), 144000);
        EXPECT_NE(reader.warning().find("of the 3.000 s (144000 frames) its header announces"),
                  std::string::npos)
            << path << ": " << reader.warning();
    }
}

// A constant-rate MP3 without an Info frame gives no length; the library estimates one
// from its size, a little more than the file holds.
TEST_F(DamagedRecording, AWholeMp3ShortOfItsEstimatedLengthIsNotWarnedOf) {
    const std::string path = pathOf("song.mp3");
    SF_INFO info{};
    info.samplerate = 22050;
    info.channels = 1;
    info.format = SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) GTEST_SKIP() << "no MP3 encoder: " << sf_strerror(nullptr);
    int constant = SF_BITRATE_MODE_CONSTANT;
    sf_command(file, SFC_SET_BITRATE_MODE, &constant, sizeof constant);
    std::vector<double> tone(22050 * 10);
    for (std::size_t i = 0; i < tone.size(); ++i) tone[i] = 0.3 * std::sin(0.7 * double(i));
    sf_write_double(file, tone.data(), static_cast<sf_count_t>(tone.size()));
    sf_close(file);
    AudioFileReader reader;
    std::string problem;
    ASSERT_TRUE(reader.open(path, 0, 22050, problem)) << problem;
    EXPECT_GT(readAll(reader), tone.size() - 2000);
    EXPECT_EQ(reader.warning(), "");
}

}  // namespace
}  // namespace bm7::testing
