// Fields of the text tables users keep (the scan's, the live detection table). CSV fields
// end their lines with "\n", as R, pandas and spreadsheets all read. A tab-separated
// (selection table) field has no quoting at all, so a tab, CR or LF in it becomes a
// space rather than breaking its row; every other byte, UTF-8 included, is kept as is.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace bm7 {

// The field as RFC 4180 writes it: in double quotes, with its quotes doubled, when it
// holds a comma, a quote, CR or LF; otherwise unchanged.
std::string csvField(std::string_view field);

// The field with each tab, CR and LF replaced by a space.
std::string tabField(std::string_view field);

// One table line: the fields quoted as CSV and joined by commas, then "\n".
std::string csvLine(const std::vector<std::string>& fields);

// One table line: the fields cleaned as tab fields and joined by tabs, then "\n".
std::string tabLine(const std::vector<std::string>& fields);

}  // namespace bm7
