#include "driver/matrix_file.h"

#include <bit>
#include <cstring>

namespace bm7 {

std::int32_t matrixTypeWord() {
    return std::endian::native == std::endian::little ? 0 : 1000;
}

bool writeMatrixRecord(std::FILE* file, const char* name, std::int32_t rows, std::int32_t cols,
                       const double* columnMajorValues) {
    const auto nameLength = static_cast<std::int32_t>(std::strlen(name) + 1);
    const std::int32_t header[5] = {matrixTypeWord(), rows, cols, 0, nameLength};
    const std::size_t count = static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols);
    if (std::fwrite(header, sizeof header, 1, file) != 1) return false;
    if (std::fwrite(name, static_cast<std::size_t>(nameLength), 1, file) != 1) return false;
    return count == 0 || std::fwrite(columnMajorValues, sizeof(double), count, file) == count;
}

}  // namespace bm7
