// The two integer helpers shared by the GIF codec, the colour reduction and the controls.
#pragma once

#include <cstdint>

namespace kv {

inline int32_t Max(int32_t A, int32_t B) { return A > B ? A : B; }
inline int32_t Min(int32_t A, int32_t B) { return A < B ? A : B; }

} // namespace kv
