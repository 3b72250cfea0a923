#include "files/number_text.h"

#include <array>
#include <charconv>
#include <cmath>

namespace bm7 {

std::string fixedDecimals(double value, int decimals) {
    if (!std::isfinite(value)) return "";
    std::array<char, 400> text;  // the largest double has 309 integer digits
    const auto written = std::to_chars(text.data(), text.data() + text.size(), value,
                                       std::chars_format::fixed, decimals);
    std::string result(text.data(), written.ptr);
    if (result.front() == '-' && result.find_first_not_of("-0.") == std::string::npos) {
        result.erase(0, 1);
    }
    return result;
}

std::string exactNumber(double value) {
    std::array<char, 32> text;
    const auto written = std::to_chars(text.data(), text.data() + text.size(), value);
    return std::string(text.data(), written.ptr);
}

std::optional<double> readExactNumber(std::string_view text) {
    if (text.empty()) return std::nullopt;
    double value = 0.0;
    const char* end = text.data() + text.size();
    const auto read = std::from_chars(text.data(), end, value);
    if (read.ec != std::errc() || read.ptr != end) return std::nullopt;
    return value;
}

}  // namespace bm7
