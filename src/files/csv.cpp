#include "files/csv.h"

#include <algorithm>

namespace bm7 {

namespace {

// The length of the valid UTF-8 sequence at the start of `text`, or 0: no overlong forms,
// no surrogates, nothing past U+10FFFF.
std::size_t utf8SequenceLength(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    }
    return length;
}

template <typename Clean>
std::string joinedLine(const std::vector<std::string>& fields, const PathColumns& paths,
                       char separator, Clean clean) {
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) line += separator;
        const bool path = std::find(paths.begin(), paths.end(), i) != paths.end();
        line += clean(path ? fields[i] : utf8Escaped(fields[i]));
    }
    line += '\n';
    return line;
}

}  // namespace

std::string utf8Escaped(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    while (!text.empty()) {
        const std::size_t length = utf8SequenceLength(text);
        if (length > 0) {
            escaped.append(text.substr(0, length));
            text.remove_prefix(length);
            continue;
        }
        static constexpr char kHex[] = "0123456789ABCDEF";
        const auto byte = static_cast<unsigned char>(text.front());
        escaped += {'\\', 'x', kHex[byte >> 4], kHex[byte & 0xF]};
        text.remove_prefix(1);
    }
    return escaped;
}

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

std::string csvLine(const std::vector<std::string>& fields, const PathColumns& paths) {
    return joinedLine(fields, paths, ',', csvField);
}

std::string tabLine(const std::vector<std::string>& fields, const PathColumns& paths) {
    return joinedLine(fields, paths, '\t', tabField);
}

}  // namespace bm7
