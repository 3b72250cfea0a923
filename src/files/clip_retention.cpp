#include "files/clip_retention.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <utility>
#include <vector>

#include "files/atomic_file.h"
#include "files/clip_save.h"
#include "files/clip_writers.h"
#include "files/text_param.h"

namespace bm7 {

namespace {

constexpr int kFormatCount = 8;

// Matches `pattern` at the start of `text`, '9' standing for any digit, and moves past it.
bool take(std::string_view& text, std::string_view pattern) {
    if (text.size() < pattern.size()) return false;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const bool digit = std::isdigit(static_cast<unsigned char>(text[i])) != 0;
        if (pattern[i] == '9' ? !digit : text[i] != pattern[i]) return false;
    }
    text.remove_prefix(pattern.size());
    return true;
}

void skipDigits(std::string_view& text) {
    while (!text.empty() && std::isdigit(static_cast<unsigned char>(text.front()))) {
        text.remove_prefix(1);
    }
}

// "_hhh.mm.ss" with three or more hour digits.
bool takeStreamStamp(std::string_view& text) {
    std::string_view rest = text;
    if (!take(rest, "_999")) return false;
    skipDigits(rest);
    if (!take(rest, ".99.99")) return false;
    text = rest;
    return true;
}

// "_NN" goes on with three or more digits once a hundred names of one stamp are taken.
bool isSuffixAndExtension(std::string_view text) {
    if (!take(text, "_99")) return false;
    skipDigits(text);
    for (int code = 1; code <= kFormatCount; ++code) {
        if (text == clipFormat(code)->extension) return true;
    }
    return false;
}

}  // namespace

bool isOwnClipName(std::string_view fileName, std::string_view prefix) {
    if (!fileName.starts_with(prefix)) return false;
    fileName.remove_prefix(prefix.size());
    if (isSuffixAndExtension(fileName)) return true;
    std::string_view calendar = fileName;
    if (take(calendar, "_9999-99-99_99.99.99") && isSuffixAndExtension(calendar)) return true;
    return takeStreamStamp(fileName) && isSuffixAndExtension(fileName);
}

int removeOldClips(const std::string& folder, const std::string& prefix, int days,
                   std::time_t now) {
    const std::time_t cutoff = now - static_cast<std::time_t>(days) * 86400;
    std::vector<std::pair<std::time_t, std::string>> old;
    for (const std::string& name : namesIn(folder)) {
        if (!isOwnClipName(name, prefix)) continue;
        const std::string path = folder + "/" + name;
        struct stat status {};
        if (::lstat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) continue;
        if (status.st_mtime < cutoff) old.emplace_back(status.st_mtime, path);
    }
    std::sort(old.begin(), old.end());
    int removed = 0;
    for (const auto& clip : old) {
        if (::unlink(clip.second.c_str()) == 0) ++removed;
    }
    return removed;
}

void removeOldClips(const BlockRecord& clipSave, int days, std::time_t now, std::FILE* out) {
    TextBuffer folder;
    TextBuffer prefix;
    const std::string folderName = readTextParam(clipSave, kClipDirectory, folder);
    const int removed =
        removeOldClips(folderName, readTextParam(clipSave, kClipPrefix, prefix), days, now);
    if (removed == 0) return;
    std::fprintf(out, "Removed %d clip%s older than %d day%s from %s\n", removed,
                 removed == 1 ? "" : "s", days, days == 1 ? "" : "s", folderName.c_str());
    std::fflush(out);
}

}  // namespace bm7
