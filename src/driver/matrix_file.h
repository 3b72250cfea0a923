// The matrix record: the binary record of matrix files, written by output logging and
// by the matrix clip format. A file is a plain sequence of records with no header.
#pragma once

#include <cstdint>
#include <cstdio>

namespace bm7 {

// Type word of a record of real, full matrices of doubles in the host's byte order:
// 0 for little-endian, 1000 for big-endian.
std::int32_t matrixTypeWord();

// Writes one record: type, rows, cols, imagf 0, name length with its terminator, the
// name and its zero byte, then rows x cols doubles column after column. The three
// writes (header, name, values) are made in that order; returns false as soon as one
// of them fails, with errno from the failing write.
bool writeMatrixRecord(std::FILE* file, const char* name, std::int32_t rows, std::int32_t cols,
                       const double* columnMajorValues);

}  // namespace bm7
