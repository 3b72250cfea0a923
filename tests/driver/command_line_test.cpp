#include "driver/command_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

namespace bm7 {
namespace {

constexpr OptionSpec kOptions[] = {
    {"help", nullptr, "print this help and exit"}, {"input", "FILE", "analyse a recording"},
    {"realtime", nullptr, "pace the recording"},   {"out", "DIR", "output folder", 'o'},
    {"quiet", nullptr, "say less", 'q'},
};

struct Parsed {
    ParseOutcome outcome;
    CommandLine line;
    std::string problem;
};

Parsed parse(std::initializer_list<const char*> args) {
    std::vector<const char*> argv{"brakmoor7"};
    argv.insert(argv.end(), args);
    Parsed result;
    result.outcome = parseCommandLine(static_cast<int>(argv.size()), argv.data(), kOptions,
                                      result.line, result.problem);
    return result;
}

std::string captured(void (*print)(std::FILE*)) {
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* stream = open_memstream(&buffer, &size);
    print(stream);
    std::fclose(stream);
    std::string text(buffer, size);
    std::free(buffer);
    return text;
}

TEST(CommandLine, NoArgumentsRunsWithoutLimitOnTheDefaultPort) {
    Parsed p = parse({});
    EXPECT_EQ(p.outcome, ParseOutcome::run);
    EXPECT_FALSE(p.line.hasFinalTime);
    EXPECT_EQ(p.line.port, 17725);
}

TEST(CommandLine, AcceptsFinalTimesWrittenAsNumbers) {
    for (auto [text, value] : {std::pair{"0", 0.0}, {"1e3", 1000.0}, {"2.5", 2.5}}) {
        Parsed p = parse({text});
        ASSERT_EQ(p.outcome, ParseOutcome::run) << text;
        EXPECT_TRUE(p.line.hasFinalTime);
        EXPECT_EQ(p.line.finalTime, value);
    }
}

TEST(CommandLine, RefusesNegativeMalformedAndNaNFinalTimes) {
    for (const char* text : {"-1", "abc", "10x", "", "nan", "1 2"}) {
        Parsed p = parse({text});
        EXPECT_EQ(p.outcome, ParseOutcome::usageError) << text;
        EXPECT_EQ(p.problem, std::string("bad final time \"") + text +
                                 "\": a number of seconds, 0 or more (0 for no limit)");
    }
}

TEST(CommandLine, AcceptsPortsInRangeAndRefusesOthers) {
    for (const char* port : {"256", "65535", "17725"}) {
        EXPECT_EQ(parse({"10", port}).outcome, ParseOutcome::run) << port;
    }
    EXPECT_EQ(parse({"10", "256"}).line.port, 256);
    for (const char* port : {"100", "255", "65536", "-1", "80x", "1.5"}) {
        const Parsed p = parse({"10", port});
        EXPECT_EQ(p.outcome, ParseOutcome::usageError) << port;
        EXPECT_EQ(p.problem,
                  std::string("bad port \"") + port + "\": a whole number from 256 to 65535");
    }
}

TEST(CommandLine, RefusesThreeArgumentsNamingTheThird) {
    const Parsed p = parse({"1", "300", "3"});
    EXPECT_EQ(p.outcome, ParseOutcome::usageError);
    EXPECT_EQ(p.problem,
              "unexpected argument \"3\": only a final time and a port may follow the options");
}

TEST(CommandLine, ReadsOptionsInFrontOfThePositionalArguments) {
    Parsed p = parse({"--input", "song.wav", "--realtime", "5"});
    ASSERT_EQ(p.outcome, ParseOutcome::run);
    EXPECT_EQ(p.line.value("input"), "song.wav");
    EXPECT_TRUE(p.line.has("realtime"));
    EXPECT_EQ(p.line.finalTime, 5.0);
    EXPECT_EQ(parse({"--input=a b.flac"}).line.value("input"), "a b.flac");
    EXPECT_EQ(p.line.value("missing", "fallback"), "fallback");
}

TEST(CommandLine, NamesTheFaultOfABadOption) {
    EXPECT_EQ(parse({"--bogus"}).problem, "unknown option --bogus");
    EXPECT_EQ(parse({"--input"}).problem, "option --input needs a value (FILE)");
    EXPECT_EQ(parse({"--realtime=yes"}).problem, "option --realtime takes no value");
    EXPECT_EQ(parse({"--bogus"}).outcome, ParseOutcome::usageError);
}

TEST(CommandLine, HelpWinsOverRunningButNotOverABadArgument) {
    EXPECT_EQ(parse({"--help"}).outcome, ParseOutcome::help);
    EXPECT_EQ(parse({"--help", "-1"}).outcome, ParseOutcome::usageError);
}

TEST(CommandLine, UsageTextIsExactAndEndsWithoutNewline) {
    EXPECT_EQ(captured(printUsage),
              "usage: brakmoor7 [finaltime] [TCPport]\n"
              "arguments:\n"
              "  finaltime - overrides final time specified in Tessaline (0 for no limit)\n"
              "  ExternModeTCPport - overrides 17725 default port, valid range 256 to 65535");
}

TEST(CommandLine, HelpListsEveryProgramOption) {
    std::string help = captured([](std::FILE* out) { printHelp(out, programOptions()); });
    EXPECT_EQ(help.rfind(captured(printUsage), 0), 0U);
    for (const OptionSpec& option : programOptions()) {
        EXPECT_NE(help.find(std::string("--") + option.name), std::string::npos) << option.name;
    }
}

// A subcommand's short options, as getopt reads them; anything else with a dash is
// refused by name rather than taken for a file.
TEST(ShortOptions, ReadFlagsAndValuesBesideOrAfterAndRefuseTheRest) {
    const auto read = [](std::initializer_list<const char*> args, std::string& name,
                         std::string& value, std::string& problem) {
        std::vector<const char*> argv{"scan"};
        argv.insert(argv.end(), args);
        int index = 1;
        const bool ok = readShortOption(static_cast<int>(argv.size()), argv.data(), kOptions, index,
                                        name, value, problem);
        return ok ? index : -1;
    };
    std::string name, value, problem;
    EXPECT_EQ(read({"-q", "x"}, name, value, problem), 1);
    EXPECT_EQ(name, "quiet");
    EXPECT_EQ(read({"-o", "out", "x"}, name, value, problem), 2);
    EXPECT_EQ(value, "out");
    EXPECT_EQ(read({"-oout"}, name, value, problem), 1);
    EXPECT_EQ(value, "out");
    for (const char* bad : {"-x", "-qq", "-o", "-"}) {
        EXPECT_EQ(read({bad}, name, value, problem), -1) << bad;
        EXPECT_NE(problem.find(bad), std::string::npos) << problem;
    }
}

TEST(ClosestWord, FindsACommandWithinTwoEditsOnly) {
    constexpr std::string_view commands[] = {"scan", "report"};
    EXPECT_EQ(closestWord("scna", commands), "scan");
    EXPECT_EQ(closestWord("sacn", commands), "scan");
    EXPECT_EQ(closestWord("reprot", commands), "report");
    EXPECT_EQ(closestWord("repo", commands), "report");
    EXPECT_EQ(closestWord("xyzzy", commands), "");
    EXPECT_EQ(closestWord("10", commands), "");
}

}  // namespace
}  // namespace bm7
