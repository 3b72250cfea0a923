#include "report/report_data.h"

#include <cctype>
#include <cstdio>
#include <ctime>
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

bool browsersPlay(const std::string& path) {
    std::string extension = std::filesystem::path(path).extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension == ".wav";
}

std::string utcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", &parts);
    return text;
}

}  // namespace bm7::report
