// Marks a function whose loops over a frame the compiler should vectorise: it builds
// AVX-512 and AVX2 copies, one of which is chosen at start-up where the processor has it,
// beside the plain one. Multiplies and adds are never fused in this build, so every copy
// computes the same bits.
#pragma once

#define BM7_FRAME_LOOP __attribute__((target_clones("avx512f", "avx2", "default")))
