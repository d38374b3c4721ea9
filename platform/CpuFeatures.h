// The processor's vector instruction sets, detected once, and the one switch that lets a
// user or a test turn them off: every chooser of a vector routine asks SimdAllowed.
#pragma once

#include <cstdint>
#include <string_view>

namespace kv {

enum class TSimdLevel : uint8_t { Mmx, Sse2, Ssse3, Avx2, Avx512 };

// The processor has the level (and, for AVX2 and AVX-512, the system saves its registers).
// AVX-512 means the foundation with the byte and word instructions. Always false off x86.
bool CpuHas(TSimdLevel Level);

// The levels that KELVANE_NO_SIMD turns off, as a mask of 1 << level. Unset, empty or "0"
// turns none off; a list of level names ("avx512", "avx2,ssse3"; separated by commas or
// blanks) turns those off; anything else ("1") turns all off.
uint32_t NoSimdMask(std::string_view Value);

// CpuHas, less what KELVANE_NO_SIMD (read once, at the first call) turns off.
bool SimdAllowed(TSimdLevel Level);

// How a vector routine stores the rows of its result: through the cache, or streamed
// around it. A streamed store need not first read the line it fills, and leaves the cache
// to the source the routine reads; it pays off only for a result too large to stay there.
enum TRowStore : uint8_t { rsCached, rsStreamed };

// The store for a result of ResultBytes in all: streamed from 4 MiB.
constexpr TRowStore RowStoreFor(int64_t ResultBytes)
{
    return ResultBytes >= (int64_t(4) << 20) ? rsStreamed : rsCached;
}

} // namespace kv
