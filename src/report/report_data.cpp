#include "report/report_data.h"

#include <cstdio>

namespace bm7::report {

namespace {

std::string numbered(const char* folder, long long number, const char* extension) {
    char name[64];
    std::snprintf(name, sizeof name, "%s/%06lld.%s", folder, number, extension);
    return name;
}

}  // namespace

std::string spectrogramFileName(long long number) {
    return numbered("spectrograms", number, "png");
}

std::string detectionAudioFileName(long long number) {
    return numbered("audio", number, "wav");
}

}  // namespace bm7::report
