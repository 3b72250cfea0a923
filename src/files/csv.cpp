#include "files/csv.h"

namespace bm7 {

std::string csvField(std::string_view field) {
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(field);
    std::string quoted = "\"";
    for (char c : field) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

std::string tabField(std::string_view field) {
    std::string cleaned(field);
    for (char& c : cleaned) {
        if (c == '\t' || c == '\r' || c == '\n') c = ' ';
    }
    return cleaned;
}

namespace {

template <typename Clean>
std::string joinedLine(const std::vector<std::string>& fields, char separator, Clean clean) {
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) line += separator;
        line += clean(fields[i]);
    }
    line += '\n';
    return line;
}

}  // namespace

std::string csvLine(const std::vector<std::string>& fields) {
    return joinedLine(fields, ',', csvField);
}

std::string tabLine(const std::vector<std::string>& fields) {
    return joinedLine(fields, '\t', tabField);
}

}  // namespace bm7
