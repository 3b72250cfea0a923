#include "scan/scan_command.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "driver/command_line.h"
#include "driver/run.h"
#include "driver/stop_signals.h"
#include "files/csv.h"
#include "files/text_param.h"
#include "scan/journal.h"
#include "scan/output_lock.h"
#include "scan/recording_analysis.h"
#include "scan/scan_options.h"
#include "scan/scan_progress.h"
#include "scan/scan_report.h"
#include "scan/tables.h"
#include "scan/walker.h"

namespace bm7::scan {

namespace {

namespace fs = std::filesystem;

constexpr int kCannotRun = 1;
constexpr int kSomeFilesFailed = 2;
constexpr auto kRedrawPeriod = std::chrono::milliseconds(100);
constexpr const char* kClipsFolderName = "clips";

// Set once a stop signal arrives (SIGTERM, SIGINT, SIGHUP); the workers look at it in
// every model step.
std::atomic<bool> stopRequested{false};

int cannotRun(const std::string& problem) {
    std::fprintf(stderr, "%s scan: %s\n", kModelName, problem.c_str());
    return kCannotRun;
}

int usageError(const std::string& problem) {
    std::fprintf(stderr, "%s scan: %s\nTry '%s scan --help' for the options.\n", kModelName,
                 problem.c_str(), kModelName);
    return kCannotRun;
}

// Each recording's clip folder below clips/: its relative path without the extension,
// escaped as the tables escape it, so that the `clip` column names the very folder;
// with its PATH's place in the arguments kept apart only when two recordings would
// otherwise share a folder (a.wav beside a.flac, the same name under two PATHs): later
// ones in scan order then get "_2", "_3", ...
std::vector<std::string> clipFolders(const std::vector<FoundRecording>& recordings) {
    std::vector<std::string> folders;
    std::set<std::string> taken;
    for (const FoundRecording& recording : recordings) {
        const std::string stem = (fs::path(kClipsFolderName) /
                                  fs::path(utf8Escaped(recording.relative)).replace_extension())
                                     .generic_string();
        std::string folder = stem;
        for (int copy = 2; !taken.insert(folder).second; ++copy) {
            folder = stem + "_" + std::to_string(copy);
        }
        folders.push_back(folder);
    }
    return folders;
}

struct Pending {
    std::size_t index;  // in the scan order
    RecordingKey key;
    bool reportMediaOnly = false;  // finished earlier, but without the report's media
};

// Everything the workers share while the scan runs.
class ScanRun {
public:
    ScanRun(const ScanOptions& options, const WalkReport& walk, Journal& journal,
            const TimeZone& zone, ScanProgress& progress)
        : options_(options),
          walk_(walk),
          journal_(journal),
          zone_(zone),
          progress_(progress),
          folders_(clipFolders(walk.recordings)),
          results_(walk.recordings.size()) {}

    // Takes finished recordings from the journal and lists the rest for analysis.
    void plan(const std::vector<std::size_t>& selected) {
        for (std::size_t index : selected) {
            const FoundRecording& recording = walk_.recordings[index];
            if (!recording.skipped.empty()) {
                settleUnanalysed(index, FileStatus::skipped, recording.skipped);
                continue;
            }
            RecordingKey key;
            std::string problem;
            if (!keyOf(recording.path, resultOptions(options_), key, problem)) {
                settleUnanalysed(index, FileStatus::error, problem);
                continue;
            }
            std::optional<FileResult> earlier;
            if (!options_.force) earlier = journal_.find(key);
            if (earlier) {
                // The journal keys on the path; an entry may predate the name the tables now give.
                earlier->file = recording.file;
                progress_.resumed(*earlier);
                if (options_.report && !hasReportMedia(options_.outputFolder, *earlier))
                    pending_.push_back({index, key, true});
                results_[index] = std::move(*earlier);
            } else {
                pending_.push_back({index, std::move(key)});
            }
        }
    }

    // Runs the workers to the end of the list or a stop request.
    void analyse() {
        const std::size_t workerCount =
            std::min<std::size_t>(static_cast<std::size_t>(options_.jobs), pending_.size());
        std::atomic<std::size_t> running{workerCount};
        std::vector<std::thread> workers;
        for (std::size_t w = 0; w < workerCount; ++w) {
            workers.emplace_back([this, &running] {
                work();
                --running;
            });
        }
        while (running.load() > 0) {
            std::this_thread::sleep_for(kRedrawPeriod);
            progress_.tick();
        }
        for (std::thread& worker : workers) worker.join();
    }

    // The finished results in scan order.
    std::vector<FileResult> finished() const {
        std::vector<FileResult> done;
        for (const std::optional<FileResult>& result : results_) {
            if (result) done.push_back(*result);
        }
        return done;
    }

private:
    void settleUnanalysed(std::size_t index, FileStatus status, const std::string& message) {
        FileResult result;
        result.file = walk_.recordings[index].file;
        result.beginPath = walk_.recordings[index].path;
        result.status = status;
        result.message = message;
        progress_.finished(result);
        results_[index] = std::move(result);
    }

    void work() {
        // Each worker draws its detections' spectrograms in buffers of its own.
        std::optional<report::RecordingMediaMaker> media;
        if (options_.report) media.emplace(reportFolderOf(options_.outputFolder));
        for (;;) {
            const std::size_t next = next_++;
            if (next >= pending_.size() || stopRequested.load()) return;
            const Pending& item = pending_[next];
            if (item.reportMediaOnly) {
                makeMedia(item.index, *results_[item.index], *media);
                continue;
            }
            FileResult result;
            if (!analyseOne(item.index, result)) return;  // stopped part-way: nothing kept
            if (media) makeMedia(item.index, result, *media);
            std::string problem;
            if (result.redoNextRun) {
                journal_.forget(item.key);
            } else if (!journal_.record(item.key, result, problem)) {
                progress_.problem("cannot record " + result.beginPath +
                                  " in the resume journal: " + problem);
            }
            progress_.finished(result);
            results_[item.index] = std::move(result);
        }
    }

    // A recording whose media fail keeps its results; the page shows it without them.
    void makeMedia(std::size_t index, const FileResult& result,
                   report::RecordingMediaMaker& media) {
        std::string problem;
        try {
            if (makeReportMedia(walk_.recordings[index], options_.channel, result, media, problem))
                return;
        } catch (const std::exception& failure) {
            problem = failure.what();
        }
        progress_.problem("cannot make the report's media of " + result.beginPath + ": " + problem);
    }

    // False when a stop request abandoned the recording.
    bool analyseOne(std::size_t index, FileResult& result) {
        const FoundRecording& recording = walk_.recordings[index];
        AnalysisSettings settings;
        settings.channel = options_.channel;
        settings.clipFormat = options_.clipFormat;
        settings.prefix = options_.prefix;
        settings.minFreeBytes = options_.minFreeBytes;
        settings.minFreePercent = options_.minFreePercent;
        settings.zone = &zone_;
        settings.stampZone = options_.localStamp ? &zone_ : nullptr;
        try {
            if (options_.clips && !prepareClipFolder(index, settings, result)) return true;
            return analyseRecording(recording, settings, stopRequested, result);
        } catch (const std::exception& failure) {
            result = FileResult{};
            result.file = recording.file;
            result.beginPath = recording.path;
            result.status = FileStatus::error;
            result.message = std::string("analysis failed: ") + failure.what();
            return true;
        }
    }

    // Empties the recording's clip folder, so that clips of an abandoned or earlier
    // analysis can neither stay nor push the new ones to other names.
    bool prepareClipFolder(std::size_t index, AnalysisSettings& settings, FileResult& result) {
        settings.clipFolderRelative = folders_[index];
        settings.clipFolder = (fs::path(options_.outputFolder) / folders_[index]).string();
        std::error_code error;
        fs::remove_all(settings.clipFolder, error);
        if (!error && settings.clipFolder.size() <= static_cast<std::size_t>(kMaxTextLength)) {
            return true;
        }
        result.file = walk_.recordings[index].file;
        result.beginPath = walk_.recordings[index].path;
        result.status = FileStatus::error;
        result.message =
            error ? "cannot empty clip folder \"" + settings.clipFolder + "\": " + error.message()
                  : "clip folder \"" + settings.clipFolder + "\" is longer than 511 characters";
        return false;
    }

    const ScanOptions& options_;
    const WalkReport& walk_;
    Journal& journal_;
    const TimeZone& zone_;
    ScanProgress& progress_;
    const std::vector<std::string> folders_;
    std::vector<std::optional<FileResult>> results_;
    std::vector<Pending> pending_;
    std::atomic<std::size_t> next_{0};
};

// The indices, in scan order, of the recordings this scan (or shard) analyses.
std::vector<std::size_t> selectedRecordings(std::size_t count, const ScanOptions& options) {
    std::vector<std::size_t> selected;
    for (std::size_t index = 0; index < count; ++index) {
        if (index % static_cast<std::size_t>(options.shardCount) ==
            static_cast<std::size_t>(options.shardIndex - 1)) {
            selected.push_back(index);
        }
    }
    return selected;
}

bool prepareOutputFolder(const std::string& folder, std::string& problem) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (error || !fs::is_directory(folder)) {
        problem = "cannot create output folder \"" + folder +
                  "\": " + (error ? error.message() : std::string("not a folder"));
        return false;
    }
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        problem = "output folder \"" + folder + "\" is not writable";
        return false;
    }
    return true;
}

// A scan of a folder that holds its output folder, or is it, must not take what a scan
// wrote there for recordings, or a second run would analyse the first one's clips; the
// recordings beside them are the archive's own.
void leaveOutScanOutputs(const std::string& outputFolder, WalkReport& walk) {
    std::error_code error;
    const fs::path output = fs::weakly_canonical(outputFolder, error);
    if (error) return;
    std::vector<fs::path> written;
    for (std::string_view name :
         {std::string_view(kClipsFolderName), std::string_view(kJournalFolderName),
          kSelectionTableName, kDetectionsCsvName, kFilesCsvName,
          std::string_view(kOutputLockName)}) {
        written.push_back(output / name);
    }
    written.push_back(reportFolderOf(output.string()));
    std::erase_if(walk.recordings, [&](const FoundRecording& recording) {
        std::error_code ignored;
        const fs::path path = fs::weakly_canonical(recording.path, ignored);
        return std::any_of(written.begin(), written.end(), [&](const fs::path& folder) {
            return std::mismatch(folder.begin(), folder.end(), path.begin(), path.end()).first ==
                   folder.end();
        });
    });
}

ProgressMode progressMode(const ScanOptions& options) {
    if (options.quiet) return ProgressMode::quiet;
    return ::isatty(::fileno(stderr)) != 0 ? ProgressMode::terminal : ProgressMode::lines;
}

}  // namespace

int scanMain(int argc, char** argv) {
    ScanOptions options;
    std::string problem;
    switch (parseScanOptions(argc, argv, options, problem)) {
    case ScanParse::help:
        printScanHelp(stdout);
        return 0;
    case ScanParse::version:
        std::printf("%s %s\n", kModelName, BM7_VERSION);
        return 0;
    case ScanParse::usageError:
        return usageError(problem);
    case ScanParse::run:
        break;
    }
    if (!initializeConstants(sizeof(double), stderr)) return kCannotRun;
    // Before any thread exists; a closed standard output (a pipe read by `head`) must
    // not kill the scan before it writes its tables.
    if (!installStopSignals()) return cannotRun("cannot install the stop signal handlers");
    const StopSignalWatcher stopWatcher([] { stopRequested.store(true); });
    TimeZone zone;
    if (!TimeZone::find(options.timeZone, zone, problem)) return cannotRun(problem);

    WalkReport walk = findRecordings(options.paths);
    for (const std::string& missing : walk.missing) {
        std::fprintf(stderr, "%s scan: %s: no such file or folder\n", kModelName, missing.c_str());
    }
    if (walk.missing.size() == options.paths.size()) return cannotRun("no PATH exists");
    for (const std::string& walkProblem : walk.problems) {
        std::fprintf(stderr, "%s scan: %s\n", kModelName, walkProblem.c_str());
    }
    leaveOutScanOutputs(options.outputFolder, walk);
    if (walk.recordings.empty()) return cannotRun("no recording found under the PATHs given");
    if (!prepareOutputFolder(options.outputFolder, problem)) return cannotRun(problem);
    OutputLock lock;
    problem.clear();
    const auto lockMode =
        options.shardCount > 1 ? OutputLock::Mode::shared : OutputLock::Mode::exclusive;
    if (!lock.acquire(options.outputFolder, lockMode, problem)) return cannotRun(problem);
    if (!problem.empty()) std::fprintf(stderr, "%s scan: %s\n", kModelName, problem.c_str());
    Journal journal;
    if (!journal.open(options.outputFolder, problem)) return cannotRun(problem);

    const std::vector<std::size_t> selected = selectedRecordings(walk.recordings.size(), options);
    ScanProgress progress(stderr, progressMode(options), static_cast<int>(selected.size()));
    ScanRun run(options, walk, journal, zone, progress);
    run.plan(selected);
    run.analyse();
    progress.end();

    int status = 0;
    if (options.shardCount == 1 && !writeTables(options.outputFolder, run.finished(), problem)) {
        std::fprintf(stderr, "%s scan: %s\n", kModelName, problem.c_str());
        status = kCannotRun;
    }
    if (options.report && options.shardCount == 1 && !stopRequested.load()) {
        if (writeScanReport(options.outputFolder, options.paths, run.finished(), problem)) {
            if (!options.quiet)
                std::fprintf(stderr, "%s scan: report in %s/index.html\n", kModelName,
                             reportFolderOf(options.outputFolder).c_str());
        } else {
            std::fprintf(stderr, "%s scan: cannot write the report: %s\n", kModelName,
                         problem.c_str());
            status = kCannotRun;
        }
    }
    const ScanTotals totals = progress.totals();
    printSummary(stdout, totals, progress.elapsedSeconds());
    std::fflush(stdout);
    if (stopRequested.load()) return 128 + receivedStopSignal();
    if (status != 0) return status;
    const bool failures = totals.errors > 0 || !walk.missing.empty() || !walk.problems.empty();
    return failures ? kSomeFilesFailed : 0;
}

}  // namespace bm7::scan
