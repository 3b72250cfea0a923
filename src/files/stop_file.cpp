#include "files/stop_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "driver/command_line.h"
#include "files/atomic_file.h"
#include "files/file_exist.h"

namespace bm7 {

namespace {

bool folderExists(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_directory(folderOf(path), error);
}

}  // namespace

std::string clearStopFile(const std::string& stopFile, std::FILE* warnings) {
    if (!folderExists(stopFile)) {
        std::fprintf(warnings,
                     "%s: warning: the folder of the stop file %s does not exist; only a signal "
                     "can stop this run\n",
                     kModelName, stopFile.c_str());
        return "";
    }
    // The same test as the probe's: a file it would stop at is the one to remove.
    if (!fileExists(stopFile.c_str())) return "";
    if (std::remove(stopFile.c_str()) != 0) {
        return "Cannot remove the stop file \"" + stopFile +
               "\" left from an earlier stop: " + std::strerror(errno);
    }
    std::fprintf(warnings, "%s: removed the stop file %s left from an earlier stop\n", kModelName,
                 stopFile.c_str());
    return "";
}

void retireStopFile(const std::string& stopFile, std::FILE* warnings) {
    std::fprintf(warnings, "Stopped by the stop file %s\n", stopFile.c_str());
    if (std::remove(stopFile.c_str()) != 0 && errno != ENOENT) {
        std::fprintf(warnings, "%s: warning: cannot remove the stop file %s: %s\n", kModelName,
                     stopFile.c_str(), std::strerror(errno));
    }
    std::fflush(warnings);
}

}  // namespace bm7
