// The non-finite constants shared by the model and the blocks. They are the only
// process-wide values: set once at start-up, before any model is built, and read-only
// from then on, so independent model instances may run on several threads.
#pragma once

#include <cstddef>

namespace bm7 {

extern double rtInf;
extern double rtMinusInf;
extern double rtNaN;
extern float rtInfF;
extern float rtMinusInfF;
extern float rtNaNF;

// Sets the constants for a real type of `realSize` bytes: 8 gives the double
// patterns, 4 the single ones. Returns false for any other size.
bool initializeNonFinites(std::size_t realSize);

}  // namespace bm7
