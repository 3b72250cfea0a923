// The command line: an optional final time and an optional port, preceded by any
// number of "--name" options. An argument is an option only when it starts with two
// dashes, so a negative number is still a (bad) final time, exactly as without options.
#pragma once

#include <cstdio>
#include <map>
#include <span>
#include <string>
#include <string_view>

namespace bm7 {

inline constexpr const char* kModelName = "brakmoor7";
inline constexpr int kDefaultPort = 17725;

struct OptionSpec {
    const char* name;       // without the leading dashes
    const char* valueName;  // null for a flag
    const char* help;
    char shortName = '\0';  // the one-letter form ("-o"), if it has one
};

struct CommandLine {
    bool hasFinalTime = false;
    double finalTime = 0.0;
    int port = kDefaultPort;
    std::map<std::string, std::string> options;  // a flag maps to ""

    bool has(const std::string& name) const { return options.count(name) != 0; }
    std::string value(const std::string& name, const std::string& fallback = "") const;
};

enum class ParseOutcome { run, help, version, usageError };

// The options this program accepts, in the order --help lists them.
std::span<const OptionSpec> programOptions();

// Reads the option at argv[index] ("--name", "--name=value", or "--name value", which
// moves `index` past the value) into `name` and `value`. On a fault returns false with
// `problem` naming it.
bool readOption(int argc, const char* const* argv, std::span<const OptionSpec> options, int& index,
                std::string& name, std::string& value, std::string& problem);

// Reads the short option at argv[index] ("-q", "-o DIR" or "-oDIR") as readOption does.
// A subcommand's arguments that begin with "-" are options, or refused.
bool readShortOption(int argc, const char* const* argv, std::span<const OptionSpec> options,
                     int& index, std::string& name, std::string& value, std::string& problem);

// The first candidate within two edits of `word` (a mistyped command name), or empty.
std::string_view closestWord(std::string_view word, std::span<const std::string_view> candidates);

// Parses argv[1..argc-1]. On usageError, `problem` names the argument at fault.
ParseOutcome parseCommandLine(int argc, const char* const* argv,
                              std::span<const OptionSpec> options, CommandLine& out,
                              std::string& problem);

// The four usage lines; the last has no newline.
void printUsage(std::FILE* out);
void printHelp(std::FILE* out, std::span<const OptionSpec> options);

}  // namespace bm7
