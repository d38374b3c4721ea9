// Segment clipping for the antialiased lines.
#pragma once

#include <cstdint>

namespace kv {

// Cohen-Sutherland with exact integer intersections (rounded halves away from zero);
// moves the ends onto the rectangle (bounds inclusive) and answers whether anything is
// left. On False the ends may have moved part way. Intermediate products are 128-bit,
// so coordinates anywhere in the 32-bit range are safe.
bool ClipSegmentToRect(int32_t& X1, int32_t& Y1, int32_t& X2, int32_t& Y2, int32_t MinX, int32_t MinY, int32_t MaxX,
                       int32_t MaxY);

} // namespace kv
