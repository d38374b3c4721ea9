// Plain drawing, window and memory routines shared by the GIF codec, the colour
// reduction, the animated-cursor reader and the custom controls.
#pragma once

#include "platform/Types.h"

#include <cstdint>
#include <string>

namespace kv {

// ---- Memory -----------------------------------------------------------------------

// A zero-filled block of Size bytes; nil for a size below 1. Stand-in for a locked,
// movable global block: callers only ever hold the pointer.
void* AllocZeroedBlock(int64_t Size);
// Frees a block of AllocZeroedBlock and sets P to nil; nothing when P is nil.
void FreeZeroedBlock(void*& P);
template <typename T> void FreeZeroedBlock(T*& P)
{
    void* v = P;
    FreeZeroedBlock(v);
    P = nullptr;
}
bool SameBytes(const void* P1, const void* P2, int32_t Count);
inline void* OffsetPointer(void* P, int64_t Offset) { return static_cast<uint8_t*>(P) + Offset; }
inline const void* OffsetPointer(const void* P, int64_t Offset) { return static_cast<const uint8_t*>(P) + Offset; }
void CopyBytes(void* Dst, const void* Src, int64_t Count);
// Resource-string texts pass through here; the texts are already UTF-8.
inline std::string PassResourceText(const std::string& S) { return S; }

// ---- Rectangles ---------------------------------------------------------------------

inline int32_t WidthOfRect(const TRect& R) { return R.Right - R.Left; }
inline int32_t HeightOfRect(const TRect& R) { return R.Bottom - R.Top; }
// Moves R onto Screen keeping its size: past the right or bottom edge it is shifted
// left or up, then a negative left or top is shifted right or down.
void FitRectToScreen(TRect& R, const TRect& Screen);

} // namespace kv
