// Text parameters of the file blocks (names of files, directories and prefixes), read
// without allocating: each code is rounded to the nearest character and the text is
// cut to its first 511 characters, so a 512-byte buffer always holds it.
#pragma once

#include <array>

#include "driver/block.h"

namespace bm7 {

inline constexpr int kMaxTextLength = 511;
using TextBuffer = std::array<char, kMaxTextLength + 1>;

// Reads text parameter `index` into `buffer`, zero-terminated; returns buffer's data.
const char* readTextParam(const BlockRecord& block, int index, TextBuffer& buffer);

}  // namespace bm7
