#include "scan/walker.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <system_error>
#include <utility>

namespace bm7::scan {

namespace {

namespace fs = std::filesystem;

// The same file reached by two routes has one device and inode, whatever the names.
using FileIdentity = std::pair<dev_t, ino_t>;

std::string joined(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

char lowered(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lowered(x) == y; });
}

class Walk {
public:
    explicit Walk(WalkReport& report) : report_(report) {}

    void addArgument(const std::string& argument) {
        struct stat info {};
        if (::stat(argument.c_str(), &info) != 0) {
            if (errno == ENOENT || errno == ENOTDIR) {
                report_.missing.push_back(argument);
            } else {
                report_.problems.push_back(argument + ": " + std::strerror(errno));
            }
            return;
        }
        if (S_ISDIR(info.st_mode)) {
            walkFolder(argument);
        } else if (S_ISREG(info.st_mode)) {
            add({argument, fs::path(argument).filename().string(), argument});
        } else {
            report_.problems.push_back(argument + ": neither a file nor a folder");
        }
    }

private:
    void walkFolder(const std::string& argument) {
        std::vector<std::string> relatives;
        std::vector<std::string> pendingFolders{""};
        while (!pendingFolders.empty()) {
            const std::string folder = std::move(pendingFolders.back());
            pendingFolders.pop_back();
            listFolder(argument, folder, relatives, pendingFolders);
        }
        std::sort(relatives.begin(), relatives.end());
        for (auto& relative : relatives) {
            std::string path = joined(argument, relative);
            add({argument, std::move(relative), std::move(path)});
        }
    }

    // Adds the recordings in one folder to `relatives` and its sub-folders to `folders`.
    void listFolder(const std::string& argument, const std::string& folder,
                    std::vector<std::string>& relatives, std::vector<std::string>& folders) {
        const std::string folderPath = folder.empty() ? argument : joined(argument, folder);
        std::error_code error;
        fs::directory_iterator entry(folderPath, error);
        for (; !error && entry != fs::directory_iterator(); entry.increment(error)) {
            const std::string name = entry->path().filename().string();
            if (name.empty() || name.front() == '.') continue;
            const std::string relative = joined(folder, name);
            std::error_code typeError;
            const fs::file_status own = entry->symlink_status(typeError);
            if (fs::is_directory(own)) {
                folders.push_back(relative);
            } else if (isRecordingName(name)) {
                if (fs::is_regular_file(own)) {
                    relatives.push_back(relative);
                } else if (fs::is_symlink(own)) {
                    addLinkTarget(argument, relative, relatives);
                }
            }
        }
        if (error) report_.problems.push_back(folderPath + ": " + error.message());
    }

    void addLinkTarget(const std::string& argument, const std::string& relative,
                       std::vector<std::string>& relatives) {
        std::error_code error;
        const fs::file_status target = fs::status(joined(argument, relative), error);
        if (fs::is_regular_file(target)) {
            relatives.push_back(relative);
        } else if (!fs::exists(target)) {
            report_.problems.push_back(joined(argument, relative) + ": broken symbolic link");
        }
    }

    void add(FoundRecording recording) {
        struct stat info {};
        if (::stat(recording.path.c_str(), &info) == 0 &&
            !seen_.insert({info.st_dev, info.st_ino}).second) {
            return;
        }
        report_.recordings.push_back(std::move(recording));
    }

    WalkReport& report_;
    std::set<FileIdentity> seen_;
};

}  // namespace

bool isRecordingName(std::string_view fileName) {
    static constexpr std::array<std::string_view, 11> kExtensions = {
        "wav", "flac", "ogg", "oga", "aif", "aiff", "au", "w64", "rf64", "caf", "mp3"};
    const std::size_t dot = fileName.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return false;
    const std::string_view extension = fileName.substr(dot + 1);
    return std::any_of(kExtensions.begin(), kExtensions.end(),
                       [extension](std::string_view known) { return equalIgnoringCase(extension, known); });
}

WalkReport findRecordings(const std::vector<std::string>& arguments) {
    WalkReport report;
    Walk walk(report);
    for (const auto& argument : arguments) walk.addArgument(argument);
    return report;
}

}  // namespace bm7::scan
