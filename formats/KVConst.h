// The program's own cursor numbers: the hand over clickable things and the hand that
// drags a picture.
#pragma once

#include "platform/Types.h"

#include <cstdint>
#include <memory>

namespace kv {

class TBitmap;

constexpr int32_t crHandCursor = 14000; // "KV_HANDCUR"
constexpr int32_t crDragCursor = 14001; // "KV_DRAGCUR"

// The cursor resource name of one of the two numbers, or "" for any other.
const char* KVCursorResourceName(int32_t Cursor);

// The picture of one of the two cursors (32 x 32, 32 bits, alpha 0 around the hand)
// and its hot spot; null for any other number.
std::unique_ptr<TBitmap> KVCursorImage(int32_t Cursor, TPoint& HotSpot);

// Unit start-up: enters both cursors in the screen's cursor table.
void InitializeKVConst();

} // namespace kv
