// The processor test that chooses the vector blend routines, as the raster core names it;
// the detection itself is platform/CpuFeatures.h, done once for the whole program.
#pragma once

namespace kv {

// CPUID leaf 1: family >= 5 and the MMX bit; always false off x86.
bool CpuHasMmx();
// The processor supports AVX2 (and the OS saves its registers).
bool CpuHasAvx2();
// The same for AVX-512 with its byte and word instructions (AVX512F and AVX512BW).
bool CpuHasAvx512Bw();

} // namespace kv
