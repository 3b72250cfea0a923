// The transform kernel's passes for processors with AVX-512 (built with -mavx512f).
#define BM7_PASSES_NAME kAvx512Passes
#include "blocks/fft_passes_body.h"
