#include "scan/scan_options.h"

#include <algorithm>
#include <thread>

#include "driver/command_line.h"
#include "files/csv.h"
#include "files/file_settings.h"

namespace bm7::scan {

namespace {

constexpr int kMostJobs = 1024;
constexpr std::size_t kLongestPrefix = 64;

// Add a row here for each option; --help lists them in this order.
constexpr OptionSpec kScanOptions[] = {
    {"help", nullptr, "print this help and exit", 'h'},
    {"version", nullptr, "print the version and exit", 'V'},
    {"out", "DIR", "output folder, created with its parents (default scan-output)", 'o'},
    {"jobs", "N", "analyse N recordings at once (default: the number of cores)", 'j'},
    {"channel", "N", "analyse channel N of each recording (1 = the first, the default)"},
    {"clips", nullptr, "save a clip of each detection under DIR/clips/"},
    {"clip-format", "FORMAT",
     "clip file format: wav, mac, nmx, txt, txt16, flt, bin or aif\n"
     "(default wav)"},
    {"prefix", "TEXT", "start of each clip's name (default Dick)"},
    {"min-free", "SIZE",
     "save clips only while their disk has more than SIZE free: bytes\n"
     "with k, M or G, or a percentage such as 1% (default: until full)"},
    {"stamp", "MODE",
     "clip names carry the recording's date-time in utc or local\n"
     "(--time-zone) time (default utc)"},
    {"time-zone", "ZONE",
     "zone of times without an offset, such as in file names:\n"
     "UTC (the default) or an IANA name such as America/Chicago"},
    {"report", nullptr,
     "also write DIR/report/index.html: a review page with a spectrogram\n"
     "and a player per detection, and charts of when and how strongly it fired"},
    {"force", nullptr, "analyse every recording again, even those an earlier scan\nfinished"},
    {"quiet", nullptr, "print no progress, only problems and the summary", 'q'},
    {"shard", "K/N",
     "analyse only the K-th of N equal shares of the recordings and\n"
     "write no tables (for running one scan on N machines)"},
};

bool readInteger(const std::string& text, int lowest, int highest, int& value) {
    char rest[2];
    return std::sscanf(text.c_str(), "%d%1s", &value, rest) == 1 && value >= lowest &&
           value <= highest;
}

bool readShard(const std::string& text, int& index, int& count) {
    char rest[2];
    return std::sscanf(text.c_str(), "%d/%d%1s", &index, &count, rest) == 2 && count >= 1 &&
           index >= 1 && index <= count;
}

// Checks one option's value and stores it; false with `problem` set when it is bad.
bool apply(const std::string& name, const std::string& value, ScanOptions& options,
           std::string& problem) {
    const auto bad = [&](const std::string& expected) {
        problem = "bad value \"" + value + "\" for --" + name + " (" + expected + ")";
        return false;
    };
    if (name == "out") {
        if (value.empty()) return bad("a folder");
        options.outputFolder = value;
    } else if (name == "jobs") {
        if (!readInteger(value, 1, kMostJobs, options.jobs)) return bad("a number from 1 to 1024");
    } else if (name == "channel") {
        if (!readInteger(value, 1, 1 << 20, options.channel)) return bad("a channel from 1 up");
    } else if (name == "clips") {
        options.clips = true;
    } else if (name == "clip-format") {
        if (!clipFormatCode(value, options.clipFormat)) {
            return bad("wav, mac, nmx, txt, txt16, flt, bin or aif");
        }
        options.clipFormatName = value;
    } else if (name == "prefix") {
        // The tables escape what is not UTF-8, and would then name no clip.
        if (value.size() > kLongestPrefix || value.find('/') != std::string::npos ||
            utf8Escaped(value) != value) {
            return bad("at most 64 characters of UTF-8, without /");
        }
        options.prefix = value;
    } else if (name == "min-free") {
        if (!readMinFree(value, options.minFreeBytes, options.minFreePercent)) {
            return bad("bytes with an optional k, M or G, or a percentage such as 1%");
        }
    } else if (name == "stamp") {
        if (value != "utc" && value != "local") return bad("utc or local");
        options.localStamp = value == "local";
    } else if (name == "time-zone") {
        if (value.empty()) return bad("UTC or an IANA zone name");
        options.timeZone = value;
    } else if (name == "report") {
        options.report = true;
    } else if (name == "force") {
        options.force = true;
    } else if (name == "quiet") {
        options.quiet = true;
    } else if (name == "shard") {
        if (!readShard(value, options.shardIndex, options.shardCount)) {
            return bad("K/N with 1 <= K <= N");
        }
    }
    return true;
}

}  // namespace

ScanParse parseScanOptions(int argc, const char* const* argv, ScanOptions& options,
                           std::string& problem) {
    options = ScanOptions{};
    options.jobs = static_cast<int>(std::max(1U, std::thread::hardware_concurrency()));
    problem.clear();
    bool help = false;
    bool version = false;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnded || arg.empty() || arg[0] != '-') {
            options.paths.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name;
        std::string value;
        const bool read = arg[1] == '-'
                              ? readOption(argc, argv, kScanOptions, i, name, value, problem)
                              : readShortOption(argc, argv, kScanOptions, i, name, value, problem);
        if (!read) return ScanParse::usageError;
        help = help || name == "help";
        version = version || name == "version";
        if (!apply(name, value, options, problem)) return ScanParse::usageError;
    }
    if (help) return ScanParse::help;
    if (version) return ScanParse::version;
    if (options.paths.empty()) {
        problem = "no PATH given: name the recordings or folders to scan";
        return ScanParse::usageError;
    }
    return ScanParse::run;
}

void printScanHelp(std::FILE* out) {
    std::fprintf(out, "usage: %s scan [options] PATH...\n\n", kModelName);
    std::fputs(
        "Runs the detector over recordings: each PATH is an audio file or a folder searched\n"
        "recursively. Writes detections.selections.txt (a selection table for sound\n"
        "viewers), detections.csv and files.csv into the output folder. A scan started\n"
        "again with the same arguments analyses only the recordings not yet finished.\n"
        "\noptions:\n",
        out);
    for (const OptionSpec& option : kScanOptions) {
        std::string left = option.shortName != '\0' ? std::string("-") + option.shortName + ", "
                                                    : std::string("    ");
        left += std::string("--") + option.name;
        if (option.valueName != nullptr) left += std::string(" ") + option.valueName;
        std::string help = option.help;
        for (std::size_t at = help.find('\n'); at != std::string::npos; at = help.find('\n', at)) {
            help.insert(at + 1, 27, ' ');
            at += 28;
        }
        std::fprintf(out, "  %-24s %s\n", left.c_str(), help.c_str());
    }
    std::fputs(
        "\nexit status: 0 every recording analysed; 2 finished, but some recordings had\n"
        "errors (see files.csv) or a path could not be read; 1 the scan could not run (no\n"
        "recording found, the output folder in use by another scan); 130, 143 or 129 stopped\n"
        "by SIGINT, SIGTERM or SIGHUP (tables written for the recordings finished).\n",
        out);
}

std::string resultOptions(const ScanOptions& options) {
    return "channel=" + std::to_string(std::max(options.channel, 1)) +
           ";time-zone=" + options.timeZone +
           ";clips=" + (options.clips ? options.clipFormatName : std::string("none")) +
           ";prefix=" + options.prefix + ";stamp=" + (options.localStamp ? "local" : "utc");
}

}  // namespace bm7::scan
