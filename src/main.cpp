// The brakmoor7 program: parses the command line and reports it. The driver's run
// loop and the detector model plug in here as they are built.
#include <cstdio>
#include <string>

#include "audio/device_capture.h"
#include "driver/command_line.h"

int main(int argc, char** argv) {
    bm7::CommandLine commandLine;
    std::string problem;
    switch (bm7::parseCommandLine(argc, argv, bm7::programOptions(), commandLine, problem)) {
    case bm7::ParseOutcome::usageError:
        if (!problem.empty()) std::fprintf(stderr, "%s: %s\n", bm7::kModelName, problem.c_str());
        bm7::printUsage(stdout);
        return 1;
    case bm7::ParseOutcome::help:
        bm7::printHelp(stdout, bm7::programOptions());
        return 0;
    case bm7::ParseOutcome::version:
        std::printf("%s %s\n", bm7::kModelName, BM7_VERSION);
        return 0;
    case bm7::ParseOutcome::run:
        break;
    }
    if (commandLine.has("list-devices")) return bm7::listInputDevices(stdout, stderr);
    std::fputs("brakmoor7: the detector model is not built yet\n", stderr);
    return 1;
}
