#include "raster/Raster32_CPUid.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <cstdint>
#endif

namespace kv {

#if defined(__x86_64__) || defined(__i386__)

namespace {

// The extended-state mask the OS enabled (XCR0); only valid once OSXSAVE is reported.
uint64_t ReadXcr0()
{
    uint32_t Lo, Hi;
    __asm__ volatile("xgetbv" : "=a"(Lo), "=d"(Hi) : "c"(0));
    return (uint64_t(Hi) << 32) | Lo;
}

} // namespace

bool CpuHasMmx()
{
    // The flags-bit-21 probe for CPUID always succeeds on these processors; __get_cpuid
    // performs it where it matters (32-bit builds).
    unsigned Eax, Ebx, Ecx, Edx;
    if (!__get_cpuid(1, &Eax, &Ebx, &Ecx, &Edx))
        return false;
    unsigned Family = (Eax >> 8) & 0xF;
    return Family >= 5 && (Edx & (1u << 23)) != 0;
}

bool CpuHasAvx2()
{
    unsigned Eax, Ebx, Ecx, Edx;
    if (!__get_cpuid(1, &Eax, &Ebx, &Ecx, &Edx))
        return false;
    const unsigned OsXsave = 1u << 27, Avx = 1u << 28;
    if ((Ecx & OsXsave) == 0 || (Ecx & Avx) == 0)
        return false;
    // The OS must save the XMM and YMM halves on a context switch.
    if ((ReadXcr0() & 6) != 6)
        return false;
    if (__get_cpuid_max(0, nullptr) < 7)
        return false;
    __cpuid_count(7, 0, Eax, Ebx, Ecx, Edx);
    return (Ebx & (1u << 5)) != 0;
}

bool CpuHasAvx512Bw()
{
    if (!CpuHasAvx2())
        return false;
    // The OS must also save the mask registers and both halves of the upper registers.
    if ((ReadXcr0() & 0xE6) != 0xE6)
        return false;
    unsigned Eax, Ebx, Ecx, Edx;
    __cpuid_count(7, 0, Eax, Ebx, Ecx, Edx);
    const unsigned Avx512F = 1u << 16, Avx512Bw = 1u << 30;
    return (Ebx & Avx512F) != 0 && (Ebx & Avx512Bw) != 0;
}

#else

bool CpuHasMmx() { return false; }
bool CpuHasAvx2() { return false; }
bool CpuHasAvx512Bw() { return false; }

#endif

} // namespace kv
