// The whole contents of a file as bytes, for tests that compare what was written.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

namespace bm7::testing {

inline std::string fileContents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace bm7::testing
