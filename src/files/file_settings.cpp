#include "files/file_settings.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "files/text_param.h"

namespace bm7 {

namespace {

constexpr std::string_view kFormatNames[] = {"wav",   "mac", "nmx", "txt",
                                             "txt16", "flt", "bin", "aif"};

struct StampName {
    std::string_view name;
    int mode;
};
constexpr StampName kStampNames[] = {{"stream", 3}, {"utc", 1}, {"local", 2}};

// A path the blocks would cut short, or an empty one, would put files somewhere else.
bool readPath(const CommandLine& commandLine, const char* option, std::string& path,
              std::string& problem) {
    if (!commandLine.has(option)) return true;
    const std::string value = commandLine.value(option);
    if (value.empty()) {
        problem = std::string("option --") + option + " needs a non-empty path";
        return false;
    }
    if (value.size() > static_cast<std::size_t>(kMaxTextLength)) {
        problem = std::string("option --") + option + " is longer than 511 characters";
        return false;
    }
    path = value;
    return true;
}

bool readCode(const CommandLine& commandLine, const char* option,
              bool (*lookUp)(std::string_view, int&), const char* choices, int& code,
              std::string& problem) {
    if (!commandLine.has(option)) return true;
    const std::string value = commandLine.value(option);
    if (lookUp(value, code)) return true;
    problem =
        std::string("unknown value \"") + value + "\" for --" + option + " (use " + choices + ")";
    return false;
}

bool readMinFreeOption(const CommandLine& commandLine, FileSettings& settings,
                       std::string& problem) {
    if (!commandLine.has("min-free")) return true;
    const std::string value = commandLine.value("min-free");
    if (readMinFree(value, settings.minFreeBytes, settings.minFreePercent)) return true;
    problem = "bad value \"" + value +
              "\" for --min-free (use bytes with an optional k, M or G, or a percentage such "
              "as 2%)";
    return false;
}

bool readKeepDays(const CommandLine& commandLine, int& days, std::string& problem) {
    if (!commandLine.has("keep-days")) return true;
    const std::string value = commandLine.value("keep-days");
    char rest[2];
    if (std::sscanf(value.c_str(), "%d%1s", &days, rest) == 1 && days >= 1) return true;
    problem = "bad value \"" + value + "\" for --keep-days (use a whole number of days, 1 or more)";
    return false;
}

std::string createDirectory(const std::string& directory, const char* purpose) {
    if (directory.empty()) return "";
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (!error && std::filesystem::is_directory(directory, error)) return "";
    if (!error) error = std::make_error_code(std::errc::not_a_directory);
    return std::string("Cannot create ") + purpose + " directory \"" + directory +
           "\": " + error.message();
}

}  // namespace

bool readMinFree(std::string_view text, std::uint64_t& bytes, double& percent) {
    const std::string value(text);
    double number = 0.0;
    char unit = '\0';
    char rest[2];
    const int fields = std::sscanf(value.c_str(), "%lf%c%1s", &number, &unit, rest);
    if (fields < 1 || fields > 2 || !(number >= 0.0) || value.empty() ||
        !std::isdigit(static_cast<unsigned char>(value.front()))) {
        return false;
    }
    if (unit == '%') {
        if (number > 100.0) return false;
        bytes = 0;
        percent = number;
        return true;
    }
    const std::string_view units = "kMG";
    const std::size_t unitIndex = fields == 1 ? 0 : units.find(unit);
    if (unitIndex == std::string_view::npos) return false;
    const std::size_t power = fields == 1 ? 0 : unitIndex + 1;
    const double scaled = number * static_cast<double>(std::uint64_t{1} << (10 * power));
    if (!(scaled < 1.8e19)) return false;
    bytes = static_cast<std::uint64_t>(scaled);
    percent = 0.0;
    return true;
}

bool clipFormatCode(std::string_view name, int& code) {
    for (std::size_t i = 0; i < std::size(kFormatNames); ++i) {
        if (name == kFormatNames[i]) {
            code = static_cast<int>(i) + 1;
            return true;
        }
    }
    return false;
}

bool stampModeCode(std::string_view name, int& mode) {
    for (const StampName& stamp : kStampNames) {
        if (name == stamp.name) {
            mode = stamp.mode;
            return true;
        }
    }
    return false;
}

bool readFileSettings(const CommandLine& commandLine, FileSettings& settings,
                      std::string& problem) {
    problem.clear();
    return readPath(commandLine, "clip-dir", settings.clipDirectory, problem) &&
           readPath(commandLine, "log-file", settings.logFile, problem) &&
           readPath(commandLine, "stop-file", settings.stopFile, problem) &&
           readCode(commandLine, "clip-format", clipFormatCode,
                    "wav, mac, nmx, txt, txt16, flt, bin or aif", settings.clipFormat, problem) &&
           readCode(commandLine, "stamp", stampModeCode, "stream, utc or local", settings.stampMode,
                    problem) &&
           readMinFreeOption(commandLine, settings, problem) &&
           readKeepDays(commandLine, settings.keepDays, problem);
}

std::vector<double> textParameter(std::string_view text) {
    std::vector<double> run{1.0, static_cast<double>(text.size())};
    for (char c : text) run.push_back(static_cast<unsigned char>(c));
    return run;
}

std::string createClipDirectory(const std::string& directory) {
    return createDirectory(directory, "clip");
}

std::string createLogDirectory(const std::string& logFile) {
    const std::filesystem::path parent = std::filesystem::path(logFile).parent_path();
    return parent.empty() ? "" : createDirectory(parent.string(), "log");
}

}  // namespace bm7
