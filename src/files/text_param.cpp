#include "files/text_param.h"

#include <algorithm>

namespace bm7 {

const char* readTextParam(const BlockRecord& block, int index, TextBuffer& buffer) {
    const int length = std::clamp(paramCols(block, index), 0, kMaxTextLength);
    const double* codes = paramValues(block, index);
    for (int i = 0; i < length; ++i) buffer[i] = static_cast<char>(roundHalfUp(codes[i]));
    buffer[length] = '\0';
    return buffer.data();
}

}  // namespace bm7
