#include "driver/command_line.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <vector>

namespace bm7 {

namespace {

constexpr int kLowestPort = 256;
constexpr int kHighestPort = 65535;

// Add a row here for each option; --help lists them in this order.
constexpr OptionSpec kProgramOptions[] = {
    {"help", nullptr, "print this help and exit"},
    {"version", nullptr, "print the program's version and exit"},
    {"list-devices", nullptr, "print the sound input devices and exit"},
    {"device", "NAME", "capture from the first input device whose name contains NAME"},
    {"reconnect", nullptr, "wait for a lost or missing sound device instead of ending the run"},
    {"input", "FILE", "read the audio from FILE instead of a sound device"},
    {"channel", "N", "with --input: read channel N of the file (1 = the first)"},
    {"realtime", nullptr, "with --input: deliver the file at the pace of a sound card"},
    {"clip-dir", "DIR", "directory that receives the clips, created if missing (default Calls)"},
    {"log-file", "FILE", "log the hourly level lines are appended to (default Calls/LogDick.txt)"},
    {"stop-file", "FILE", "file whose appearance ends the run (default stop.txt)"},
    {"clip-format", "FORMAT",
     "clip file format: wav, mac, nmx, txt, txt16, flt, bin or aif (default wav)"},
    {"stamp", "MODE",
     "clip name time stamp: stream (time since start), utc or local (default stream)"},
    {"table", "FILE",
     "live detection table, one line per detection (default detections.csv in the clip "
     "directory)"},
    {"status-file", "FILE",
     "status in the Prometheus text format, rewritten every minute of audio (default none)"},
    {"min-free", "SIZE",
     "keep SIZE free on the clips' disk, refusing clips below it: bytes with k, M or G, "
     "or a share such as 2% (default 1%, at least 64M)"},
    {"keep-days", "N", "delete this program's clips older than N days, checked hourly"},
};

const OptionSpec* findOption(std::span<const OptionSpec> options, const std::string& name) {
    for (const OptionSpec& option : options) {
        if (name == option.name) return &option;
    }
    return nullptr;
}

// "%lf%1s": a number followed by nothing else, and not negative. NaN is refused too:
// a final time of NaN would never be reached.
bool scanFinalTime(const char* text, double& value) {
    char rest[2];
    if (std::sscanf(text, "%lf%1s", &value, rest) != 1) return false;
    return value >= 0.0;
}

// "%d%1s" within the port range.
bool scanPort(const char* text, int& value) {
    char rest[2];
    if (std::sscanf(text, "%d%1s", &value, rest) != 1) return false;
    return value >= kLowestPort && value <= kHighestPort;
}

}  // namespace

std::string CommandLine::value(const std::string& name, const std::string& fallback) const {
    auto found = options.find(name);
    return found == options.end() ? fallback : found->second;
}

std::span<const OptionSpec> programOptions() {
    return kProgramOptions;
}

bool readOption(int argc, const char* const* argv, std::span<const OptionSpec> options, int& index,
                std::string& name, std::string& value, std::string& problem) {
    name = argv[index] + 2;
    value.clear();
    const std::size_t equals = name.find('=');
    const bool inlineValue = equals != std::string::npos;
    if (inlineValue) {
        value = name.substr(equals + 1);
        name.resize(equals);
    }
    const OptionSpec* option = findOption(options, name);
    if (option == nullptr) {
        problem = "unknown option --" + name;
        return false;
    }
    if (option->valueName == nullptr && inlineValue) {
        problem = "option --" + name + " takes no value";
        return false;
    }
    if (option->valueName != nullptr && !inlineValue) {
        if (index + 1 >= argc) {
            problem = "option --" + name + " needs a value (" + option->valueName + ")";
            return false;
        }
        value = argv[++index];
    }
    return true;
}

bool readShortOption(int argc, const char* const* argv, std::span<const OptionSpec> options,
                     int& index, std::string& name, std::string& value, std::string& problem) {
    const char* arg = argv[index];
    const auto found = std::find_if(options.begin(), options.end(), [&](const OptionSpec& o) {
        return o.shortName != '\0' && o.shortName == arg[1];
    });
    if (arg[1] == '\0' || found == options.end()) {
        problem =
            std::string("unknown option ") + arg + " (a PATH that begins with - goes after --)";
        return false;
    }
    name = found->name;
    value.clear();
    if (found->valueName == nullptr) {
        if (arg[2] == '\0') return true;
        problem = std::string("bad option ") + arg + " (-" + arg[1] + " takes no value)";
        return false;
    }
    if (arg[2] != '\0') {
        value = arg + 2;
        return true;
    }
    if (index + 1 >= argc) {
        problem = std::string("option -") + arg[1] + " needs a value (" + found->valueName + ")";
        return false;
    }
    value = argv[++index];
    return true;
}

// Edits (insertions, deletions, substitutions, swaps of neighbours) from one word to the
// other, for words as short as command names.
namespace {

std::size_t editDistance(std::string_view a, std::string_view b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1,
                                d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[a.size()][b.size()];
}

}  // namespace

std::string_view closestWord(std::string_view word, std::span<const std::string_view> candidates) {
    for (std::string_view candidate : candidates) {
        if (editDistance(word, candidate) <= 2) return candidate;
    }
    return {};
}

ParseOutcome parseCommandLine(int argc, const char* const* argv,
                              std::span<const OptionSpec> options, CommandLine& out,
                              std::string& problem) {
    problem.clear();
    const char* positional[2];
    int positionalCount = 0;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strncmp(arg, "--", 2) != 0 || arg[2] == '\0') {
            if (positionalCount == 2) {
                problem = std::string("unexpected argument \"") + arg +
                          "\": only a final time and a port may follow the options";
                return ParseOutcome::usageError;
            }
            positional[positionalCount++] = arg;
            continue;
        }
        std::string name;
        std::string value;
        if (!readOption(argc, argv, options, i, name, value, problem)) {
            return ParseOutcome::usageError;
        }
        out.options[name] = value;
    }
    if (positionalCount >= 1) {
        if (!scanFinalTime(positional[0], out.finalTime) || std::isnan(out.finalTime)) {
            problem = std::string("bad final time \"") + positional[0] +
                      "\": a number of seconds, 0 or more (0 for no limit)";
            return ParseOutcome::usageError;
        }
        out.hasFinalTime = true;
    }
    if (positionalCount == 2 && !scanPort(positional[1], out.port)) {
        problem = std::string("bad port \"") + positional[1] + "\": a whole number from " +
                  std::to_string(kLowestPort) + " to " + std::to_string(kHighestPort);
        return ParseOutcome::usageError;
    }
    if (out.has("help")) return ParseOutcome::help;
    if (out.has("version")) return ParseOutcome::version;
    return ParseOutcome::run;
}

void printUsage(std::FILE* out) {
    std::fprintf(out, "usage: %s [finaltime] [TCPport]\n", kModelName);
    std::fputs("arguments:\n", out);
    std::fputs("  finaltime - overrides final time specified in Tessaline (0 for no limit)\n", out);
    std::fputs("  ExternModeTCPport - overrides 17725 default port, valid range 256 to 65535", out);
}

void printHelp(std::FILE* out, std::span<const OptionSpec> options) {
    printUsage(out);
    std::fputs("\n\noptions (before the arguments):\n", out);
    for (const OptionSpec& option : options) {
        std::string left = std::string("--") + option.name;
        if (option.valueName != nullptr) left += std::string(" ") + option.valueName;
        std::fprintf(out, "  %-24s %s\n", left.c_str(), option.help);
    }
}

}  // namespace bm7
