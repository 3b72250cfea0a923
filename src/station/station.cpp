#include "station/station.h"

#include <sys/statvfs.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <limits>
#include <new>

#include "driver/command_line.h"
#include "files/clip_name.h"
#include "files/clip_writers.h"
#include "model/parameters.h"
#include "station/unlisted_clips.h"

namespace bm7::station {

namespace {

constexpr double kSampleRate = detector::kSampleRate;
constexpr double kStatusPeriodSeconds = 60.0;
constexpr double kTableReportPeriodSeconds = 3600.0;

double unixNow() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

double freeBytes(const std::string& folder) {
    struct statvfs info {};
    if (folder.empty() || ::statvfs(folder.c_str(), &info) != 0) return std::nan("");
    return static_cast<double>(info.f_bavail) * static_cast<double>(info.f_frsize);
}

}  // namespace

std::string isoDateTime(double unixSeconds, bool utc) {
    const double whole = std::floor(unixSeconds);
    long long milliseconds = std::llround((unixSeconds - whole) * 1000.0);
    std::time_t seconds = static_cast<std::time_t>(whole);
    if (milliseconds == 1000) {
        milliseconds = 0;
        ++seconds;
    }
    std::tm fields{};
    if (utc)
        ::gmtime_r(&seconds, &fields);
    else
        ::localtime_r(&seconds, &fields);
    char text[64];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &fields);
    std::string out(text, length);
    std::snprintf(text, sizeof text, ".%03lld", milliseconds);
    out += text;
    const long offset = utc ? 0 : fields.tm_gmtoff;
    if (offset == 0) return out + "Z";
    const long minutes = std::labs(offset) / 60;
    std::snprintf(text, sizeof text, "%c%02ld:%02ld", offset < 0 ? '-' : '+', minutes / 60,
                  minutes % 60);
    return out + text;
}

Station::Station(detector::DetectorModel& model, StationSettings settings,
                 const SourceCounters* counters)
    : model_(model), settings_(std::move(settings)), counters_(counters), clock_(kSampleRate) {
    model_.setDetectionListener(this);
}

bool readStationSettings(const CommandLine& commandLine, const FileSettings& files,
                         StationSettings& settings, std::string& problem) {
    settings.tableFile = commandLine.value(
        "table", (std::filesystem::path(files.clipDirectory) / "detections.csv").string());
    settings.statusFile = commandLine.value("status-file");
    settings.clipFolder = files.clipDirectory;
    settings.clipPrefix = files.clipPrefix;
    const ClipFormat* format = clipFormat(files.clipFormat);
    settings.clipExtension = format != nullptr ? format->extension : "";
    settings.utcTimes = files.stampMode != kStampLocal;
    settings.pacedAudio = !commandLine.has("input") || commandLine.has("realtime");
    for (const char* option : {"table", "status-file"}) {
        if (commandLine.has(option) && commandLine.value(option).empty()) {
            problem = std::string("option --") + option + " needs a file name";
            return false;
        }
    }
    return true;
}

// The table opens once the model has made the clip folder it usually lives in.
void Station::start() {
    model_.start();
    if (model_.root().errorStatus != nullptr) return;
    std::string problem;
    if (!settings_.tableFile.empty()) {
        if (!table_.open(settings_.tableFile, stderr, problem)) {
            fail("Error opening the detection table\n" + problem);
            return;
        }
        addRowsForUnlistedClips();
    }
    writeStatus();
    notifier_.ready();
}

void Station::addRowsForUnlistedClips() {
    const ClipNaming naming{settings_.clipFolder, settings_.clipPrefix, settings_.clipExtension,
                            settings_.utcTimes};
    const std::vector<TableRow> rows = rowsForUnlistedClips(naming, table_.found());
    if (rows.empty()) return;
    std::string names;
    for (const TableRow& row : rows) {
        table_.append(row);
        names += (names.empty() ? "" : ", ") + row.clip;
    }
    std::fprintf(stderr,
                 "%s: the detection table %s had no row for %zu clip%s saved after its last row "
                 "(a run stopped between a clip and its row); added: %s\n",
                 kModelName, settings_.tableFile.c_str(), rows.size(), rows.size() == 1 ? "" : "s",
                 names.c_str());
}

void Station::fail(const std::string& problem) {
    startProblem_ = problem;
    model_.root().errorStatus = startProblem_.c_str();
}

void Station::update(int task) {
    model_.update(task);
    ++status_.frames;
    const std::int64_t captured =
        static_cast<std::int64_t>(status_.frames) * detector::kFrameLength;
    if (counters_ != nullptr) {
        status_.deviceOverflows = counters_->deviceOverflows();
        status_.deviceLost = counters_->deviceLost();
        // The stream stamps skip a gap while the device was gone; the wall clock does not.
        if (status_.deviceLost != deviceLostSeen_) clock_.restart();
        deviceLostSeen_ = status_.deviceLost;
    }
    const double now = unixNow();
    // The frames waiting behind this one were recorded by now too: the bound is as
    // tight in the middle of a batch the model woke for as at its end.
    const std::int64_t waiting =
        static_cast<std::int64_t>(model_.capturedStepsWaiting()) * detector::kFrameLength;
    clock_.noteArrival(captured + waiting, now);
    status_.audioSeconds = static_cast<double>(captured) / kSampleRate;
    status_.lastAudioTimestamp = now;
    const double frameMean = model_.signals().frameEnergySum[0] / detector::kFrameLength;
    status_.bandLevelDb =
        frameMean > 0.0 ? 10.0 * std::log10(frameMean) : -std::numeric_limits<double>::infinity();
    notifier_.alive();
    if (status_.audioSeconds >= nextStatusSeconds_) {
        nextStatusSeconds_ += kStatusPeriodSeconds;
        writeStatus();
    }
    if (status_.audioSeconds >= nextTableReportSeconds_) {
        nextTableReportSeconds_ += kTableReportPeriodSeconds;
        table_.reportWaiting();
    }
}

void Station::terminate() {
    model_.terminate();
    table_.close();
    status_.up = false;
    writeStatus();
    notifier_.stopping();
}

void Station::detected(const detector::Detection& detection) {
    ++status_.detections;
    const bool saved = detection.clipName != nullptr && *detection.clipName != '\0';
    ++(saved ? status_.clipsSaved : status_.clipsRefused);
    if (settings_.tableFile.empty()) return;
    // The row is built on the heap; running out of it must not unwind through the step.
    try {
        appendRow(detection, saved);
    } catch (const std::bad_alloc&) {
        std::fputs("Error writing the detection table\nout of memory\n", stderr);
    }
}

void Station::appendRow(const detector::Detection& detection, bool saved) {
    const std::int64_t first =
        std::max<std::int64_t>(0, detection.gateBegin - detector::kClipAudioDelay);
    TableRow row;
    if (settings_.pacedAudio && clock_.known()) {
        row.beginDateTime = isoDateTime(clock_.unixSecondsOf(first), settings_.utcTimes);
    }
    row.startSeconds = static_cast<double>(first) / kSampleRate;
    row.durationSeconds =
        static_cast<double>(detection.gateEnd - detection.gateBegin) / kSampleRate;
    row.songRatio = detection.songRatio;
    row.peakLevelDb = 10.0 * std::log10(detection.peakEnergy);
    if (saved) row.clip = std::filesystem::path(detection.clipName).filename().string();
    table_.append(row);
}

void Station::writeStatus() {
    if (settings_.statusFile.empty()) return;
    status_.diskFreeBytes = freeBytes(settings_.clipFolder);
    std::string problem;
    if (!writeStatusFile(settings_.statusFile, status_, problem)) {
        std::fprintf(stderr, "Error writing the status file\n%s\n", problem.c_str());
    }
}

}  // namespace bm7::station
