// The unattended station around the detector: it runs the model for the driver and,
// after every step, puts wall-clock times on the stream, pings the service manager's
// watchdog and every 60 s of audio rewrites the status file; every detection the model
// reports becomes a line of the live detection table as soon as its clip is saved or
// refused, and once an hour it says how many rows wait for room in the table. At start,
// clips a kill left without a row get one. It stands between the driver and the model, so neither
// needs to know it.
#pragma once

#include <cstdint>
#include <string>

#include "driver/command_line.h"
#include "driver/model.h"
#include "files/file_settings.h"
#include "model/detection_report.h"
#include "model/detector_model.h"
#include "station/detection_table.h"
#include "station/service_notifier.h"
#include "station/status_file.h"
#include "station/stream_clock.h"

namespace bm7::station {

struct StationSettings {
    std::string tableFile;      // the live detection table; empty: none
    std::string statusFile;     // the Prometheus status file; empty: none
    std::string clipFolder;     // whose file system's free space the status reports
    std::string clipPrefix;     // how clips are named, to find those without a row
    std::string clipExtension;  // with its dot
    bool utcTimes = true;       // table times in UTC ("Z"), else in the local zone
    // Whether audio arrives at the pace it was recorded, so that the system clock dates
    // it; a file read as fast as possible leaves the table's date-times empty.
    bool pacedAudio = true;
};

// Reads --table and --status-file; the table defaults to detections.csv in the clip
// folder, and its times are local with --stamp local, UTC otherwise. A file read without
// --realtime gets no date-times.
bool readStationSettings(const CommandLine& commandLine, const FileSettings& files,
                         StationSettings& settings, std::string& problem);

// What the station learns from the audio source, which the model does not hold.
class SourceCounters {
public:
    virtual ~SourceCounters() = default;
    virtual std::uint64_t deviceOverflows() const = 0;
    virtual std::uint64_t deviceLost() const = 0;
};

class Station final : public Model, public detector::DetectionListener {
public:
    Station(detector::DetectorModel& model, StationSettings settings,
            const SourceCounters* counters);

    BlockRecord* registerModel() override { return model_.registerModel(); }
    void declareModelSizes() override { model_.declareModelSizes(); }
    void declareModelSampleTimes() override { model_.declareModelSampleTimes(); }
    void start() override;
    void outputs(int task) override { model_.outputs(task); }
    void update(int task) override;
    void terminate() override;
    int capturedStepsWaiting() override { return model_.capturedStepsWaiting(); }

    void detected(const detector::Detection& detection) override;

    // Tells the watchdog the monitor is alive while a step waits on purpose, as for a
    // lost sound device; model thread.
    void keepAlive() { notifier_.alive(); }

    const StationStatus& status() const { return status_; }

private:
    void writeStatus();
    void addRowsForUnlistedClips();
    void appendRow(const detector::Detection& detection, bool saved);
    void fail(const std::string& problem);

    detector::DetectorModel& model_;
    StationSettings settings_;
    const SourceCounters* counters_;
    DetectionTable table_;
    ServiceNotifier notifier_;
    StreamClock clock_;
    StationStatus status_;
    std::uint64_t deviceLostSeen_ = 0;
    double nextStatusSeconds_ = 60.0;
    double nextTableReportSeconds_ = 3600.0;
    std::string startProblem_;  // keeps a start-up message alive for the error slot
};

// A wall-clock time in ISO 8601 with milliseconds and its UTC offset ("Z" in UTC).
std::string isoDateTime(double unixSeconds, bool utc);

}  // namespace bm7::station
