#include "report/report_command.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "audio/audio_file_reader.h"
#include "driver/command_line.h"
#include "report/detection_media.h"
#include "report/live_table.h"
#include "report/report_pages.h"

namespace bm7::report {

namespace {

namespace fs = std::filesystem;

constexpr const char* kUsage = "usage: brakmoor7 report [-o DIR] CLIPDIR\n";
constexpr const char* kHelp =
    "Builds a review page of a live run from its clip folder: a spectrogram and a player\n"
    "for every detection, detections per hour of the day and per day, and the spread of\n"
    "the scores. Open DIR/index.html in any web browser; it needs no network.\n"
    "\n"
    "CLIPDIR must hold the run's detection table, detections.csv, and its clips.\n"
    "\n"
    "  -o, --out DIR   where the report goes (default: CLIPDIR/report)\n"
    "  -h, --help      show this help\n"
    "  -V, --version   print the version\n"
    "\n"
    "Exit status: 0 when the report was written, 2 when it was written but some clips\n"
    "could not be read (they are listed on the page and on the error stream), 1 when no\n"
    "report could be made.\n";

constexpr OptionSpec kReportOptions[] = {
    {"help", nullptr, "show this help", 'h'},
    {"version", nullptr, "print the version", 'V'},
    {"out", "DIR", "where the report goes", 'o'},
};

struct Arguments {
    std::string clipFolder;
    std::string reportFolder;
};

int refuse(const std::string& problem) {
    std::fprintf(stderr, "brakmoor7 report: %s\n%s", problem.c_str(), kUsage);
    return 1;
}

// 0 to run, -1 after help or the version, else the exit status of a usage error.
int parseArguments(int argc, char** argv, Arguments& arguments) {
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (optionsEnded || argument.empty() || argument[0] != '-') {
            if (!arguments.clipFolder.empty()) {
                return refuse("unexpected argument \"" + argument + "\"");
            }
            arguments.clipFolder = argument;
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name, value, problem;
        const bool read =
            argument[1] == '-'
                ? readOption(argc, argv, kReportOptions, i, name, value, problem)
                : readShortOption(argc, argv, kReportOptions, i, name, value, problem);
        if (!read) return refuse(problem);
        if (name == "help") {
            std::fputs(kUsage, stdout);
            std::fputs(kHelp, stdout);
            return -1;
        }
        if (name == "version") {
            std::printf("%s %s\n", kModelName, BM7_VERSION);
            return -1;
        }
        arguments.reportFolder = value;
    }
    if (arguments.clipFolder.empty()) return refuse("no clip folder given");
    if (arguments.reportFolder.empty()) arguments.reportFolder = arguments.clipFolder + "/report";
    return 0;
}

bool readClip(const std::string& path, std::vector<double>& samples, std::string& problem) {
    AudioFileReader reader;
    if (!reader.open(path, 0, kSpectrogramSampleRate, problem)) return false;
    std::int16_t chunk[4096];
    samples.clear();
    while (const std::size_t count = reader.read(chunk, std::size(chunk)))
        for (std::size_t i = 0; i < count; ++i) samples.push_back(chunk[i] / 32768.0);
    return true;
}

Detection detectionOf(const LiveDetection& row) {
    Detection detection;
    detection.file = row.clip;
    detection.fileOffsetS = row.startS;
    detection.endS = row.startS + row.durationS;
    detection.beginDateTime = row.beginDateTime;
    detection.songRatio = row.songRatio;
    detection.peakLevelDb = row.peakLevelDb;
    return detection;
}

// Shows one clip: its spectrogram (the clip is the detection, with no margin) and the
// clip itself in the player, or a WAVE copy of it where browsers cannot play it.
bool addClip(const Arguments& arguments, DetectionMediaMaker& maker, std::vector<double>& samples,
             Detection& detection, std::string& problem) {
    if (detection.file.find('/') != std::string::npos || detection.file == "..") {
        problem = "\"" + detection.file + "\" is not a file name in the clip folder";
        return false;
    }
    const fs::path clip = fs::path(arguments.clipFolder) / detection.file;
    detection.beginPath = clip.string();
    if (!readClip(clip.string(), samples, problem)) return false;
    const bool playable = browsersPlay(clip);
    if (playable) {
        std::error_code error;
        detection.audioFile =
            fs::relative(fs::absolute(clip), fs::absolute(arguments.reportFolder), error)
                .generic_string();
    }
    return maker.make(detectionMediaStem(detection.file, 0), samples.data(), samples.size(), 0,
                      samples.size(), !playable, detection, problem);
}

}  // namespace

int reportMain(int argc, char** argv) {
    Arguments arguments;
    if (const int status = parseArguments(argc, argv, arguments)) return status < 0 ? 0 : status;

    std::vector<LiveDetection> rows;
    std::vector<std::string> warnings;
    std::string problem;
    if (!readLiveTable(arguments.clipFolder + "/detections.csv", rows, warnings, problem)) {
        std::fprintf(stderr, "brakmoor7 report: %s\n", problem.c_str());
        return 1;
    }
    for (const std::string& warning : warnings)
        std::fprintf(stderr, "brakmoor7 report: %s\n", warning.c_str());
    std::error_code error;
    fs::create_directories(arguments.reportFolder, error);
    if (error) {
        std::fprintf(stderr, "brakmoor7 report: cannot create %s: %s\n",
                     arguments.reportFolder.c_str(), error.message().c_str());
        return 1;
    }

    ScanSummary summary;
    summary.scannedPaths = {arguments.clipFolder};
    summary.detectionCount = static_cast<long long>(rows.size());
    summary.scanDate = utcNow();
    std::vector<Detection> detections;
    DetectionMediaMaker maker(arguments.reportFolder);
    std::vector<double> samples;
    double streamEnd = 0.0;
    for (const LiveDetection& row : rows) {
        detections.push_back(detectionOf(row));
        Detection& detection = detections.back();
        streamEnd = std::max(streamEnd, detection.endS);
        if (row.clip.empty()) continue;
        if (addClip(arguments, maker, samples, detection, problem)) {
            ++summary.fileCount;
        } else {
            std::fprintf(stderr, "brakmoor7 report: %s\n", problem.c_str());
            summary.filesWithErrors.push_back({row.clip, problem});
        }
    }
    // A clip folder knows the run only up to its last detection.
    summary.audioHours = streamEnd / 3600.0;

    if (!writeReportPages(arguments.reportFolder, summary, detections, problem)) {
        std::fprintf(stderr, "brakmoor7 report: %s\n", problem.c_str());
        return 1;
    }
    std::printf("%s/index.html: %zu detection%s\n", arguments.reportFolder.c_str(),
                detections.size(), detections.size() == 1 ? "" : "s");
    return summary.filesWithErrors.empty() ? 0 : 2;
}

}  // namespace bm7::report
