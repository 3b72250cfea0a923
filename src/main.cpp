// The brakmoor7 program: reads the command line, builds the detector and its audio
// source, and runs it until the final time, the stop file, the end of a recording or
// an error, or a stop signal.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "audio/capture_settings.h"
#include "audio/device_capture.h"
#include "driver/command_line.h"
#include "driver/run.h"
#include "driver/stop_signals.h"
#include "files/file_settings.h"
#include "model/detector_model.h"
#include "report/report_command.h"
#include "scan/scan_command.h"
#include "station/station.h"

namespace {

// What the station reports of the sound device; a recording has none of it.
class DeviceCounters final : public bm7::station::SourceCounters {
public:
    const bm7::DeviceCapture* device = nullptr;
    std::uint64_t deviceOverflows() const override {
        return device != nullptr ? device->overflowCount() : 0;
    }
    std::uint64_t deviceLost() const override {
        return device != nullptr ? device->lossCount() : 0;
    }
};

constexpr std::string_view kSubcommands[] = {"scan", "report"};

bool isSubcommand(int argc, char** argv, std::string_view name) {
    return argc > 1 && std::string_view(argv[1]) == name;
}

// A first argument that is a word, not a number, was meant for a command: name the
// nearest, before the monitor's own usage text, which stays as it is.
void sayUnknownCommand(int argc, char** argv) {
    if (argc < 2 || !std::isalpha(static_cast<unsigned char>(argv[1][0]))) return;
    const std::string_view command = bm7::closestWord(argv[1], kSubcommands);
    if (command.empty()) return;
    std::fprintf(stderr, "%s: unknown command \"%s\"; did you mean \"%.*s\"?\n", bm7::kModelName,
                 argv[1], static_cast<int>(command.size()), command.data());
}

int usageError(const std::string& problem) {
    if (!problem.empty()) std::fprintf(stderr, "%s: %s\n", bm7::kModelName, problem.c_str());
    bm7::printUsage(stdout);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (isSubcommand(argc, argv, "report")) return bm7::report::reportMain(argc - 1, argv + 1);
    if (isSubcommand(argc, argv, "scan")) return bm7::scan::scanMain(argc - 1, argv + 1);
    sayUnknownCommand(argc, argv);
    if (!bm7::installStopSignals()) {
        std::perror("brakmoor7: cannot install the stop signal handlers");
        return 1;
    }
    bm7::CommandLine commandLine;
    std::string problem;
    switch (bm7::parseCommandLine(argc, argv, bm7::programOptions(), commandLine, problem)) {
    case bm7::ParseOutcome::usageError:
        return usageError(problem);
    case bm7::ParseOutcome::help:
        bm7::printHelp(stdout, bm7::programOptions());
        std::fputs(
            "\nsubcommands:\n"
            "  brakmoor7 scan [options] PATH...   analyse folders of recordings into tables\n"
            "  brakmoor7 report [options] CLIPDIR review a live run's detections in a page\n"
            "  (each with --help)\n",
            stdout);
        return 0;
    case bm7::ParseOutcome::version:
        std::printf("%s %s\n", bm7::kModelName, BM7_VERSION);
        return 0;
    case bm7::ParseOutcome::run:
        break;
    }
    if (commandLine.has("list-devices")) return bm7::listInputDevices(stdout, stderr);

    bm7::detector::ModelSettings settings;
    bm7::CaptureSettings capture;
    bm7::station::StationSettings station;
    if (!bm7::readFileSettings(commandLine, settings.files, problem) ||
        !bm7::readCaptureSettings(commandLine, capture, problem) ||
        !bm7::station::readStationSettings(commandLine, settings.files, station, problem)) {
        return usageError(problem);
    }
    // The model outlives its audio source: a source still running after a failed run
    // must stop before the buffers it fills are released.
    bm7::detector::DetectorModel model(settings);
    DeviceCounters counters;
    bm7::station::Station watchedModel(model, station, &counters);
    std::unique_ptr<bm7::CaptureLayer> source = bm7::makeCaptureLayer(capture);
    if (auto* device = dynamic_cast<bm7::DeviceCapture*>(source.get())) {
        counters.device = device;
        device->setHeartbeat([&watchedModel] { watchedModel.keepAlive(); });
    }
    model.setCaptureLayer(source.get());
    int status = 0;
    {
        const bm7::StopSignalWatcher watcher([&source] { source->interruptWait(); });
        status =
            bm7::runProgram(commandLine, watchedModel, stdout, stderr, bm7::receivedStopSignal);
    }
    source.reset();
    return status;
}
