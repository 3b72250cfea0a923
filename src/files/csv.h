// Fields of comma-separated tables as RFC 4180 has them, so that R, pandas and
// spreadsheets read back exactly what was written: a field holding a comma, a quote or
// a line break is quoted, with its quotes doubled. Lines end with "\n".
#pragma once

#include <string>
#include <string_view>

namespace bm7 {

void appendCsvField(std::string& line, std::string_view field);

}  // namespace bm7
