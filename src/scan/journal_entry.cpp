#include "scan/journal_entry.h"

#include <charconv>
#include <vector>

#include "files/number_text.h"
#include "scan/tables.h"

namespace bm7::scan {

namespace {

constexpr std::string_view kVersionLine = "brakmoor7 scan journal 1";
constexpr std::string_view kChecksumLabel = "checksum";

std::string escaped(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '\\':
            result += "\\\\";
            break;
        case '\t':
            result += "\\t";
            break;
        case '\n':
            result += "\\n";
            break;
        case '\r':
            result += "\\r";
            break;
        default:
            result += c;
        }
    }
    return result;
}

bool unescape(std::string_view text, std::string& result) {
    result.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            result += text[i];
            continue;
        }
        if (++i == text.size()) return false;
        switch (text[i]) {
        case '\\':
            result += '\\';
            break;
        case 't':
            result += '\t';
            break;
        case 'n':
            result += '\n';
            break;
        case 'r':
            result += '\r';
            break;
        default:
            return false;
        }
    }
    return true;
}

void appendLine(std::string& text, std::string_view label, const std::vector<std::string>& fields) {
    text += label;
    for (const auto& field : fields) {
        text += '\t';
        text += field;
    }
    text += '\n';
}

// Hands out the entry's lines in order, each checked for its label and field count.
class EntryLines {
public:
    explicit EntryLines(std::string_view body) : rest_(body) {}

    bool next(std::string_view label, std::size_t fieldCount,
              std::vector<std::string_view>& fields) {
        const std::size_t end = rest_.find('\n');
        if (end == std::string_view::npos) return false;
        std::string_view line = rest_.substr(0, end);
        rest_.remove_prefix(end + 1);
        fields.clear();
        for (std::size_t tab = line.find('\t'); tab != std::string_view::npos;
             tab = line.find('\t')) {
            fields.push_back(line.substr(0, tab));
            line.remove_prefix(tab + 1);
        }
        fields.push_back(line);
        if (fields.front() != label || fields.size() != fieldCount + 1) return false;
        fields.erase(fields.begin());
        return true;
    }

    bool atEnd() const { return rest_.empty(); }

private:
    std::string_view rest_;
};

template <typename Integer>
bool readInteger(std::string_view text, Integer& value) {
    const auto read = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && read.ec == std::errc() && read.ptr == text.data() + text.size();
}

bool readNumber(std::string_view text, double& value) {
    const std::optional<double> read = readExactNumber(text);
    if (read) value = *read;
    return read.has_value();
}

bool readStatus(std::string_view text, FileStatus& status) {
    for (FileStatus known : {FileStatus::ok, FileStatus::error, FileStatus::skipped}) {
        if (text == statusName(known)) {
            status = known;
            return true;
        }
    }
    return false;
}

// Reads one single-field line into `value` with `read`.
template <typename Value, typename Read>
bool readLine(EntryLines& lines, std::string_view label, Value& value, Read read) {
    std::vector<std::string_view> fields;
    return lines.next(label, 1, fields) && read(fields[0], value);
}

bool readText(EntryLines& lines, std::string_view label, std::string& value) {
    return readLine(lines, label, value, unescape);
}

template <typename Integer>
bool readIntegerLine(EntryLines& lines, std::string_view label, Integer& value) {
    return readLine(lines, label, value, readInteger<Integer>);
}

bool readKey(EntryLines& lines, RecordingKey& key) {
    std::vector<std::string_view> fields;
    return lines.next(kVersionLine, 0, fields) && readText(lines, "path", key.path) &&
           readIntegerLine(lines, "size", key.size) &&
           readIntegerLine(lines, "modified_ns", key.modifiedNanoseconds) &&
           readText(lines, "options", key.options);
}

bool readDetection(EntryLines& lines, DetectionResult& detection) {
    std::vector<std::string_view> fields;
    return lines.next("detection", 6, fields) &&
           readNumber(fields[0], detection.fileOffsetSeconds) &&
           readNumber(fields[1], detection.endOffsetSeconds) &&
           readNumber(fields[2], detection.songRatio) &&
           readNumber(fields[3], detection.peakLevelDb) &&
           unescape(fields[4], detection.beginDateTime) && unescape(fields[5], detection.clip);
}

bool readResult(EntryLines& lines, FileResult& result) {
    std::size_t detectionCount = 0;
    if (!(readText(lines, "file", result.file) && readText(lines, "begin_path", result.beginPath) &&
          readLine(lines, "status", result.status, readStatus) &&
          readLine(lines, "duration_s", result.durationSeconds, readNumber) &&
          readIntegerLine(lines, "sample_rate", result.sampleRate) &&
          readIntegerLine(lines, "channels", result.channels) &&
          readText(lines, "start_time", result.startTime) &&
          readText(lines, "time_source", result.timeSource) &&
          readText(lines, "message", result.message) &&
          readIntegerLine(lines, "detections", detectionCount))) {
        return false;
    }
    // The count is not trusted for a reservation: every detection must be read first.
    for (std::size_t i = 0; i < detectionCount; ++i) {
        if (!readDetection(lines, result.detections.emplace_back())) return false;
    }
    return lines.atEnd();
}

}  // namespace

bool operator==(const RecordingKey& a, const RecordingKey& b) {
    return a.path == b.path && a.size == b.size && a.modifiedNanoseconds == b.modifiedNanoseconds &&
           a.options == b.options;
}

std::string fnv1a64Hex(std::string_view bytes) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (unsigned char byte : bytes) {
        hash ^= byte;
        hash *= 0x100000001b3ULL;
    }
    std::string digits(16, '0');
    for (auto digit = digits.rbegin(); digit != digits.rend(); ++digit, hash >>= 4) {
        *digit = "0123456789abcdef"[hash & 0xf];
    }
    return digits;
}

std::string journalEntryText(const RecordingKey& key, const FileResult& result) {
    std::string text;
    appendLine(text, kVersionLine, {});
    appendLine(text, "path", {escaped(key.path)});
    appendLine(text, "size", {std::to_string(key.size)});
    appendLine(text, "modified_ns", {std::to_string(key.modifiedNanoseconds)});
    appendLine(text, "options", {escaped(key.options)});
    appendLine(text, "file", {escaped(result.file)});
    appendLine(text, "begin_path", {escaped(result.beginPath)});
    appendLine(text, "status", {std::string(statusName(result.status))});
    appendLine(text, "duration_s", {exactNumber(result.durationSeconds)});
    appendLine(text, "sample_rate", {std::to_string(result.sampleRate)});
    appendLine(text, "channels", {std::to_string(result.channels)});
    appendLine(text, "start_time", {escaped(result.startTime)});
    appendLine(text, "time_source", {escaped(result.timeSource)});
    appendLine(text, "message", {escaped(result.message)});
    appendLine(text, "detections", {std::to_string(result.detections.size())});
    for (const DetectionResult& detection : result.detections) {
        appendLine(
            text, "detection",
            {exactNumber(detection.fileOffsetSeconds), exactNumber(detection.endOffsetSeconds),
             exactNumber(detection.songRatio), exactNumber(detection.peakLevelDb),
             escaped(detection.beginDateTime), escaped(detection.clip)});
    }
    appendLine(text, kChecksumLabel, {fnv1a64Hex(text)});
    return text;
}

std::optional<FileResult> readJournalEntry(std::string_view text, const RecordingKey& key) {
    if (text.empty() || text.back() != '\n') return std::nullopt;
    const std::size_t checksumStart = text.rfind('\n', text.size() - 2) + 1;  // npos + 1 == 0
    const std::string_view checksumLine = text.substr(checksumStart);
    const std::string_view body = text.substr(0, checksumStart);
    if (checksumLine != std::string(kChecksumLabel) + "\t" + fnv1a64Hex(body) + "\n") {
        return std::nullopt;
    }
    EntryLines lines(body);
    RecordingKey stored;
    FileResult result;
    if (!readKey(lines, stored) || !(stored == key) || !readResult(lines, result)) {
        return std::nullopt;
    }
    return result;
}

}  // namespace bm7::scan
