// Marks a function whose loops over a frame the compiler should vectorise: it builds an
// AVX2 copy, chosen at start-up where the processor has it, beside the plain one.
// Multiplies and adds are never fused in this build, so both copies compute the same bits.
#pragma once

#define BM7_FRAME_LOOP __attribute__((target_clones("avx2", "default")))
