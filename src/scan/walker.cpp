#include "scan/walker.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <system_error>
#include <utility>

namespace bm7::scan {

namespace {

namespace fs = std::filesystem;

// The same file reached by two routes has one device and inode, whatever the names.
using FileIdentity = std::pair<dev_t, ino_t>;

constexpr const char* kNotARegularFile = "not a regular file";

// A name met in a folder walk, relative to its PATH, and why it is not analysed.
struct Listed {
    std::string relative;
    std::string skipped;
    bool operator<(const Listed& other) const { return relative < other.relative; }
};

std::string joined(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

char lowered(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return lowered(x) == y; });
}

// Absolute and normal by spelling alone, links not followed, without a trailing slash:
// the same for two spellings of one path, different for a link and its target.
fs::path lexicalAbsolute(const std::string& path) {
    std::error_code error;
    fs::path absolute = fs::absolute(path, error).lexically_normal();
    if (!absolute.has_filename() && absolute != absolute.root_path())
        absolute = absolute.parent_path();
    return absolute;
}

// The deepest folder that holds every argument (a folder argument is held by its parent).
fs::path commonParent(const std::vector<std::string>& arguments) {
    std::optional<fs::path> common;
    for (const std::string& argument : arguments) {
        if (argument.empty()) continue;
        const fs::path parent = lexicalAbsolute(argument).parent_path();
        if (!common) {
            common = parent;
            continue;
        }
        fs::path shared;
        for (auto a = common->begin(), b = parent.begin();
             a != common->end() && b != parent.end() && *a == *b; ++a, ++b) {
            shared /= *a;
        }
        common = shared;
    }
    return common.value_or(fs::path());
}

// Names every recording for the tables. One PATH keeps the names below it that scans
// have always given; several are named from where their paths part, so that the same
// name under two PATHs stays two names.
void nameForTables(const std::vector<std::string>& arguments,
                   std::vector<FoundRecording>& recordings) {
    if (arguments.size() == 1) {
        for (FoundRecording& recording : recordings) recording.file = recording.relative;
        return;
    }
    const fs::path common = commonParent(arguments);
    for (FoundRecording& recording : recordings) {
        recording.file =
            lexicalAbsolute(recording.path).lexically_relative(common).generic_string();
    }
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
            add({argument, fs::path(argument).filename().string(), argument, {}, {}});
        } else {
            report_.problems.push_back(argument + ": neither a file nor a folder");
        }
    }

private:
    void walkFolder(const std::string& argument) {
        std::vector<Listed> listed;
        std::vector<std::string> pendingFolders{""};
        while (!pendingFolders.empty()) {
            const std::string folder = std::move(pendingFolders.back());
            pendingFolders.pop_back();
            listFolder(argument, folder, listed, pendingFolders);
        }
        std::sort(listed.begin(), listed.end());
        for (Listed& entry : listed) {
            std::string path = joined(argument, entry.relative);
            add({argument,
                 std::move(entry.relative),
                 std::move(path),
                 {},
                 std::move(entry.skipped)});
        }
    }

    // Adds the recordings in one folder to `listed` and its sub-folders to `folders`.
    void listFolder(const std::string& argument, const std::string& folder,
                    std::vector<Listed>& listed, std::vector<std::string>& folders) {
        const std::string folderPath = folder.empty() ? argument : joined(argument, folder);
        std::error_code error;
        fs::directory_iterator entry(folderPath, error);
        for (; !error && entry != fs::directory_iterator(); entry.increment(error)) {
            const std::string name = entry->path().filename().string();
            if (name.empty() || name.front() == '.') continue;
            const std::string relative = joined(folder, name);
            std::error_code typeError;
            const fs::file_status own = entry->symlink_status(typeError);
            if (typeError) {
                report_.problems.push_back(joined(folderPath, name) + ": " + typeError.message());
            } else if (fs::is_directory(own)) {
                folders.push_back(relative);
            } else if (isRecordingName(name)) {
                listName(argument, relative, own, listed);
            }
        }
        if (error) report_.problems.push_back(folderPath + ": " + error.message());
    }

    void listName(const std::string& argument, const std::string& relative,
                  const fs::file_status& own, std::vector<Listed>& listed) {
        if (!fs::is_symlink(own)) {
            listed.push_back({relative, fs::is_regular_file(own) ? "" : kNotARegularFile});
            return;
        }
        const std::string path = joined(argument, relative);
        std::error_code error;
        const fs::file_status target = fs::status(path, error);
        if (fs::is_regular_file(target)) {
            listed.push_back({relative, ""});
        } else if (target.type() == fs::file_type::not_found) {
            report_.problems.push_back(path + ": broken symbolic link");
        } else if (error) {
            report_.problems.push_back(path + ": " + error.message());
        } else if (!fs::is_directory(target)) {
            listed.push_back({relative, kNotARegularFile});
        }
    }

    void add(FoundRecording recording) {
        struct stat info {};
        if (::stat(recording.path.c_str(), &info) == 0) {
            const auto [first, isNew] =
                firstFound_.try_emplace({info.st_dev, info.st_ino}, report_.recordings.size());
            if (!isNew) {
                const FoundRecording& original = report_.recordings[first->second];
                if (lexicalAbsolute(original.path) == lexicalAbsolute(recording.path)) return;
                recording.skipped = "same file as " + original.path;
            }
        }
        report_.recordings.push_back(std::move(recording));
    }

    WalkReport& report_;
    std::map<FileIdentity, std::size_t> firstFound_;  // the index of each file's first listing
};

}  // namespace

bool isRecordingName(std::string_view fileName) {
    static constexpr std::array<std::string_view, 11> kExtensions = {
        "wav", "flac", "ogg", "oga", "aif", "aiff", "au", "w64", "rf64", "caf", "mp3"};
    const std::size_t dot = fileName.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return false;
    const std::string_view extension = fileName.substr(dot + 1);
    return std::any_of(kExtensions.begin(), kExtensions.end(), [extension](std::string_view known) {
        return equalIgnoringCase(extension, known);
    });
}

WalkReport findRecordings(const std::vector<std::string>& arguments) {
    WalkReport report;
    Walk walk(report);
    for (const auto& argument : arguments) walk.addArgument(argument);
    nameForTables(arguments, report.recordings);
    return report;
}

}  // namespace bm7::scan
