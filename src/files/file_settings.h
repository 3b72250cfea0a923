// What the command line says about the files of a run: where clips, the level log and
// the stop file live, the clip format and the stamp mode. The model turns these into
// the parameters of Clip & Save, To Log File and File Exist.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "driver/command_line.h"

namespace bm7 {

// An empty clip directory, level log or stop file turns that output or probe off; only
// programs that run the model for themselves (the archive scan) leave one empty.
struct FileSettings {
    std::string clipDirectory = "Calls";
    std::string logFile = "Calls/LogDick.txt";
    std::string stopFile = "stop.txt";
    std::string clipPrefix = "Dick";
    int clipFormat = 1;  // wav
    int stampMode = 3;   // stream time
    // Clips are written only while the clip folder's file system has more free space
    // than the larger of these.
    std::uint64_t minFreeBytes = std::uint64_t{64} << 20;
    double minFreePercent = 1.0;
    int keepDays = 0;  // clips older than this many days are deleted; 0 keeps them all
};

// Format codes 1 ... 8 of wav, mac, nmx, txt, txt16, flt, bin, aif; false for other names.
bool clipFormatCode(std::string_view name, int& code);
// Stamp modes 3, 1, 2 of stream, utc, local; false for other names.
bool stampModeCode(std::string_view name, int& mode);

// "SIZE" of --min-free: bytes with an optional k, M or G (units of 1024), or a
// percentage of the file system ending in %. False for anything else.
bool readMinFree(std::string_view text, std::uint64_t& bytes, double& percent);

// Reads --clip-dir, --log-file, --stop-file, --clip-format, --stamp, --min-free and
// --keep-days over the defaults. On a bad value returns false with `problem` naming the option and
// value.
bool readFileSettings(const CommandLine& commandLine, FileSettings& settings, std::string& problem);

// The parameter run of a text parameter: 1, length, then one character code per double.
std::vector<double> textParameter(std::string_view text);

// Creates `directory` and its missing parents. Returns an empty text on success, or a
// message that names the directory and the reason.
std::string createClipDirectory(const std::string& directory);

// Creates the missing directories above the level log, so that a log placed away from
// the clips is not first found unwritable an hour into the run. Returns an empty text
// on success, or a message that names the directory and the reason.
std::string createLogDirectory(const std::string& logFile);

}  // namespace bm7
