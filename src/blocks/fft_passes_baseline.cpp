// The transform kernel's passes for any x86-64 processor.
#define BM7_PASSES_NAME kBaselinePasses
#include "blocks/fft_passes_body.h"
