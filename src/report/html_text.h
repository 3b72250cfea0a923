// Text as it goes into the report's HTML and SVG: escaped so that any file name or
// message reads as written and never as markup, and numbers in fixed notation.
#pragma once

#include <string>
#include <string_view>

namespace bm7::report {

// Escapes & < > " and ' so the result is safe in element text and in quoted attributes.
std::string escapeHtml(std::string_view text);
void appendEscaped(std::string& out, std::string_view text);

// `value` with `decimals` digits after the point; "NaN", "inf" and "-inf" as such.
std::string fixed(double value, int decimals);

// A relative path as a URL path: every byte outside the unreserved set and '/' is
// percent-encoded, so names with '#', '?', '%' or spaces still load from disk.
std::string urlPath(std::string_view path);

}  // namespace bm7::report
