#include "report/live_table.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace bm7::report {

namespace {

constexpr std::size_t kColumns = 6;

// A whole field that reads as a number; "nan" and an empty cell, as the station writes a
// score it lacks, read as NaN.
bool readNumber(const std::string& field, double& value) {
    if (field.empty()) {
        value = std::nan("");
        return true;
    }
    char* end = nullptr;
    value = std::strtod(field.c_str(), &end);
    return end == field.c_str() + field.size();
}

bool readRow(const std::vector<std::string>& fields, LiveDetection& row, std::string& why) {
    if (fields.size() != kColumns) {
        why = std::to_string(fields.size()) + " fields where the header has " +
              std::to_string(kColumns);
        return false;
    }
    const char* names[] = {"start_s", "duration_s", "song_ratio", "peak_level_db"};
    double* values[] = {&row.startS, &row.durationS, &row.songRatio, &row.peakLevelDb};
    for (std::size_t i = 0; i < 4; ++i) {
        if (!readNumber(fields[i + 1], *values[i])) {
            why = std::string(names[i]) + " \"" + fields[i + 1] + "\" is not a number";
            return false;
        }
    }
    row.beginDateTime = fields[0];
    row.clip = fields[5];
    return true;
}

}  // namespace

std::vector<std::vector<std::string>> parseCsv(std::string_view text, std::vector<int>& lines) {
    std::vector<std::vector<std::string>> records;
    lines.clear();
    std::vector<std::string> record;
    std::string field;
    bool quoted = false;
    bool recordStarted = false;
    int line = 1;
    const auto endRecord = [&] {
        record.push_back(std::move(field));
        field.clear();
        records.push_back(std::move(record));
        record.clear();
        recordStarted = false;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (!recordStarted) {
            lines.push_back(line);
            recordStarted = true;
        }
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                if (c == '\n') ++line;
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            record.push_back(std::move(field));
            field.clear();
        } else if (c == '\n' || (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
            if (c == '\r') ++i;
            ++line;
            endRecord();
        } else {
            field += c;
        }
    }
    if (recordStarted) endRecord();
    return records;
}

bool readLiveTable(const std::string& path, std::vector<LiveDetection>& rows,
                   std::vector<std::string>& warnings, std::string& problem) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        problem = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<int> lines;
    const std::vector<std::string> header = parseCsv(kLiveTableHeader, lines).front();
    const auto records = parseCsv(text, lines);
    if (records.empty() || records.front() != header) {
        problem = path + ": the first line is not the detection table's header \"" +
                  std::string(kLiveTableHeader) + "\"";
        return false;
    }
    for (std::size_t i = 1; i < records.size(); ++i) {
        const bool blankLine = records[i].size() == 1 && records[i][0].empty();
        if (blankLine) continue;
        LiveDetection row;
        std::string why;
        if (readRow(records[i], row, why)) {
            rows.push_back(std::move(row));
        } else {
            warnings.push_back(path + " line " + std::to_string(lines[i]) + " skipped: " + why);
        }
    }
    return true;
}

}  // namespace bm7::report
