#include "formats/KVConst.h"

namespace kv {

const char* KVCursorResourceName(int32_t Cursor)
{
    switch (Cursor) {
    case crHandCursor: return "KV_HANDCUR";
    case crDragCursor: return "KV_DRAGCUR";
    default: return "";
    }
}

} // namespace kv
