// The program's own cursor numbers: the hand over clickable things and the hand that
// drags a picture.
#pragma once

#include <cstdint>

namespace kv {

constexpr int32_t crHandCursor = 14000; // "KV_HANDCUR"
constexpr int32_t crDragCursor = 14001; // "KV_DRAGCUR"

// The cursor resource name of one of the two numbers, or "" for any other.
const char* KVCursorResourceName(int32_t Cursor);

} // namespace kv
