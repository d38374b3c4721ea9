#include "platform/CpuFeatures.h"

#include <cstdlib>
#include <string>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace kv {

namespace {

constexpr uint32_t Bit(TSimdLevel Level) { return 1u << unsigned(Level); }

#if defined(__x86_64__) || defined(__i386__)

// The extended-state mask the system enabled (XCR0); valid only once OSXSAVE is reported.
uint64_t ReadXcr0()
{
    uint32_t Lo, Hi;
    __asm__ volatile("xgetbv" : "=a"(Lo), "=d"(Hi) : "c"(0));
    return (uint64_t(Hi) << 32) | Lo;
}

uint32_t DetectLevels()
{
    unsigned Eax, Ebx, Ecx, Edx;
    // __get_cpuid performs the flags-bit-21 probe where it matters (32-bit builds).
    if (!__get_cpuid(1, &Eax, &Ebx, &Ecx, &Edx))
        return 0;
    uint32_t Levels = 0;
    if (((Eax >> 8) & 0xF) >= 5 && (Edx & (1u << 23)) != 0)
        Levels |= Bit(TSimdLevel::Mmx);
    if ((Edx & (1u << 26)) != 0)
        Levels |= Bit(TSimdLevel::Sse2);
    if ((Ecx & (1u << 9)) != 0)
        Levels |= Bit(TSimdLevel::Ssse3);
    const unsigned OsXsave = 1u << 27, Avx = 1u << 28;
    // The system must save the XMM and YMM halves on a context switch.
    if ((Ecx & OsXsave) == 0 || (Ecx & Avx) == 0 || (ReadXcr0() & 6) != 6 || __get_cpuid_max(0, nullptr) < 7)
        return Levels;
    __cpuid_count(7, 0, Eax, Ebx, Ecx, Edx);
    if ((Ebx & (1u << 5)) == 0)
        return Levels;
    Levels |= Bit(TSimdLevel::Avx2);
    // And for AVX-512 the mask registers and both halves of the upper registers too.
    const unsigned Avx512F = 1u << 16, Avx512Bw = 1u << 30;
    if ((ReadXcr0() & 0xE6) == 0xE6 && (Ebx & Avx512F) != 0 && (Ebx & Avx512Bw) != 0)
        Levels |= Bit(TSimdLevel::Avx512);
    return Levels;
}

#else

uint32_t DetectLevels() { return 0; }

#endif

} // namespace

bool CpuHas(TSimdLevel Level)
{
    static const uint32_t Levels = DetectLevels();
    return (Levels & Bit(Level)) != 0;
}

uint32_t NoSimdMask(std::string_view Value)
{
    if (Value.empty() || Value == "0")
        return 0;
    static constexpr struct {
        std::string_view Name;
        TSimdLevel Level;
    } Names[] = {{"mmx", TSimdLevel::Mmx},
                 {"sse2", TSimdLevel::Sse2},
                 {"ssse3", TSimdLevel::Ssse3},
                 {"avx2", TSimdLevel::Avx2},
                 {"avx512", TSimdLevel::Avx512}};
    uint32_t Mask = 0;
    size_t Start = 0;
    while (Start < Value.size()) {
        size_t End = Value.find_first_of(", ", Start);
        if (End == std::string_view::npos)
            End = Value.size();
        const std::string_view Word = Value.substr(Start, End - Start);
        Start = End + 1;
        if (Word.empty())
            continue;
        bool Known = false;
        for (const auto& N : Names)
            if (Word == N.Name) {
                Mask |= Bit(N.Level);
                Known = true;
            }
        // Not a list of levels: the old meaning, everything off.
        if (!Known)
            return ~0u;
    }
    return Mask;
}

bool SimdAllowed(TSimdLevel Level)
{
    static const uint32_t Off = [] {
        const char* V = std::getenv("KELVANE_NO_SIMD");
        return NoSimdMask(V != nullptr ? std::string_view(V) : std::string_view());
    }();
    return CpuHas(Level) && (Off & Bit(Level)) == 0;
}

} // namespace kv
