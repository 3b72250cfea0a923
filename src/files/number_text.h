// Numbers as the scan's files write them, the same on every machine and in every
// locale. Tables show fixed decimals; the resume journal keeps the shortest text that
// reads back as the very same double, so a table written from a journal entry is
// byte-identical to one written from a fresh result.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace bm7 {

// `value` with exactly `decimals` decimals ("12.500000"); empty when it is not finite,
// and never "-0.00" for a value that rounds to zero.
std::string fixedDecimals(double value, int decimals);

// The shortest text that reads back as exactly `value` ("nan", "inf", "-inf" included).
std::string exactNumber(double value);

// The double written by exactNumber, or nothing when `text` is not wholly a number.
std::optional<double> readExactNumber(std::string_view text);

}  // namespace bm7
