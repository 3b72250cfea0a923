// Fields of the text tables users keep (the scan's, the live detection table). CSV fields
// end their lines with "\n", as R, pandas and spreadsheets all read. A tab-separated
// (selection table) field has no quoting at all, so a tab, CR or LF in it becomes a
// space rather than breaking its row. Bytes that are not UTF-8 (a file name from an old
// card) become "\xFF" escapes, so that every reader can decode the table; only a column
// a program opens as a path keeps its bytes, since an escape would name another file.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace bm7 {

// The text with each byte that is not part of valid UTF-8 written as "\x" and two
// upper-case hex digits; valid UTF-8 is unchanged.
std::string utf8Escaped(std::string_view text);

// The field as RFC 4180 writes it: in double quotes, with its quotes doubled, when it
// holds a comma, a quote, CR or LF; otherwise unchanged.
std::string csvField(std::string_view field);

// The field with each tab, CR and LF replaced by a space.
std::string tabField(std::string_view field);

// Indices of the columns that a program opens as paths: their bytes are kept as they are.
using PathColumns = std::vector<std::size_t>;

// One table line: the fields escaped and quoted as CSV and joined by commas, then "\n".
std::string csvLine(const std::vector<std::string>& fields, const PathColumns& paths = {});

// One table line: the fields escaped and cleaned as tab fields and joined by tabs, then "\n".
std::string tabLine(const std::vector<std::string>& fields, const PathColumns& paths = {});

}  // namespace bm7
