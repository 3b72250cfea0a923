// The transform kernel's passes for processors with AVX2 (built with -mavx2).
#define BM7_PASSES_NAME kAvx2Passes
#include "blocks/fft_passes_body.h"
