#include "report/report_data.h"

#include <cstdio>
#include <filesystem>

namespace bm7::report {

std::string detectionMediaStem(const std::string& file, std::size_t index) {
    std::filesystem::path stem = "media";
    for (const auto& part : std::filesystem::path(file).replace_extension().relative_path()) {
        if (part.empty() || part == ".") continue;
        stem /= part == ".." ? std::filesystem::path("__") : part;
    }
    char name[32];
    std::snprintf(name, sizeof name, "%03zu", index);
    return (stem / name).generic_string();
}

}  // namespace bm7::report
