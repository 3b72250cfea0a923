// What the review report adds to a scan: one detection's spectrogram and WAVE file (a
// 1.5 s detection with its 0.5 s margins, made by a worker), and the pages of a
// report over 100 detections (made once at the end).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "report/detection_media.h"
#include "report/report_pages.h"

namespace {

constexpr std::size_t kMargin = 11025;
constexpr std::size_t kDetectionSamples = 33075;

std::string scratchFolder() {
    const std::string folder = "/tmp/bm7-report-bench-" + std::to_string(getpid());
    std::filesystem::create_directories(folder);
    return folder;
}

void makeDetectionMedia(benchmark::State& state) {
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, 0.05);
    std::vector<double> samples(kDetectionSamples + 2 * kMargin);
    for (double& sample : samples) sample = noise(random);
    const std::string folder = scratchFolder();
    bm7::report::DetectionMediaMaker maker(folder);
    bm7::report::Detection detection;
    std::string problem;
    for (auto _ : state) {
        if (!maker.make("media/site/recording/000", samples.data(), samples.size(), kMargin,
                        kMargin + kDetectionSamples, state.range(0) != 0, detection, problem))
            state.SkipWithError(problem.c_str());
    }
    std::filesystem::remove_all(folder);
}
BENCHMARK(makeDetectionMedia)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void writePagesOf100Detections(benchmark::State& state) {
    std::vector<bm7::report::Detection> detections(100);
    for (std::size_t i = 0; i < detections.size(); ++i) {
        auto& detection = detections[i];
        detection.file = "site/SMM03873_20260512_0" + std::to_string(i % 10) + "0000.wav";
        detection.fileOffsetS = static_cast<double>(i) * 13.1;
        detection.endS = detection.fileOffsetS + 1.5;
        detection.beginDateTime = "2026-05-12T0" + std::to_string(i % 10) + ":31:07.250-05:00";
        detection.songRatio = static_cast<double>(i % 37) / 4.0;
        detection.peakLevelDb = -60.0 + static_cast<double>(i % 41);
        const std::string stem = bm7::report::detectionMediaStem(detection.file, i);
        detection.imageFile = stem + ".png";
        detection.audioFile = stem + ".wav";
    }
    const std::string folder = scratchFolder();
    bm7::report::ScanSummary summary;
    std::string problem;
    for (auto _ : state)
        if (!bm7::report::writeReportPages(folder, summary, detections, problem))
            state.SkipWithError(problem.c_str());
    std::filesystem::remove_all(folder);
}
BENCHMARK(writePagesOf100Detections)->Unit(benchmark::kMillisecond);

}  // namespace
