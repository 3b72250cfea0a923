#include "report/detection_media.h"

#include <filesystem>
#include <system_error>

namespace bm7::report {

namespace {

bool makeParent(const std::string& path, std::string& problem) {
    std::error_code error;
    const auto parent = std::filesystem::path(path).parent_path();
    std::filesystem::create_directories(parent, error);
    if (error) problem = "cannot create " + parent.string() + ": " + error.message();
    return !error;
}

}  // namespace

DetectionMediaMaker::DetectionMediaMaker(std::string reportFolder)
    : reportFolder_(std::move(reportFolder)) {}

bool DetectionMediaMaker::make(const std::string& stem, const double* samples, std::size_t count,
                               std::size_t begin, std::size_t end, bool writeAudio,
                               Detection& detection, std::string& problem) {
    const std::string image = stem + ".png";
    const std::string imagePath = reportFolder_ + "/" + image;
    if (!makeParent(imagePath, problem) ||
        !renderer_.render(samples, count, begin, end, imagePath, problem)) {
        return false;
    }
    detection.imageFile = image;
    if (!writeAudio) return true;
    const std::string audio = stem + ".wav";
    const std::string audioPath = reportFolder_ + "/" + audio;
    if (!makeParent(audioPath, problem) ||
        !audioWriter_.write(samples, count, kSpectrogramSampleRate, audioPath, problem)) {
        return false;
    }
    detection.audioFile = audio;
    return true;
}

}  // namespace bm7::report
