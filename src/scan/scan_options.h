// The command line of `brakmoor7 scan [options] PATH...`: its own option table, its
// parser and its help text. Parsing only checks the values' form; whether the paths
// and the time zone exist is for the scan to find out.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace bm7::scan {

struct ScanOptions {
    std::vector<std::string> paths;
    std::string outputFolder = "scan-output";
    int jobs = 1;     // the number of cores unless given
    int channel = 0;  // from 1; 0: the first
    bool clips = false;
    std::string clipFormatName = "wav";
    int clipFormat = 1;
    std::string prefix = "Dick";
    // --min-free: none unless given, unlike the monitor's, so a scan writes clips until
    // the disk is full and reports those it could not save.
    std::uint64_t minFreeBytes = 0;
    double minFreePercent = 0.0;
    bool localStamp = false;  // clip stamps in --time-zone rather than UTC
    std::string timeZone = "UTC";
    bool force = false;
    bool report = false;  // a review page with a spectrogram and player per detection
    bool quiet = false;
    int shardIndex = 1;  // K of --shard K/N
    int shardCount = 1;  // N; 1 means every file
};

enum class ScanParse { run, help, version, usageError };

// Parses the arguments after "scan". On usageError `problem` names the fault.
ScanParse parseScanOptions(int argc, const char* const* argv, ScanOptions& options,
                           std::string& problem);

void printScanHelp(std::FILE* out);

// Every option that changes a recording's results, spelt out, so that the resume journal
// reuses a result only for the very same analysis.
std::string resultOptions(const ScanOptions& options);

}  // namespace bm7::scan
