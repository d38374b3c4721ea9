#include "raster/Raster32_DrawingEx.h"

#include <limits>

namespace kv {

namespace {

enum : uint32_t { ocLeft = 1, ocRight = 2, ocTop = 4, ocBottom = 8 };

uint32_t HorzCode(int64_t X, int64_t MinX, int64_t MaxX)
{
    return X < MinX ? uint32_t(ocLeft) : X > MaxX ? uint32_t(ocRight) : 0u;
}
uint32_t VertCode(int64_t Y, int64_t MinY, int64_t MaxY)
{
    return Y < MinY ? uint32_t(ocTop) : Y > MaxY ? uint32_t(ocBottom) : 0u;
}

// A * B / C rounded half away from zero, as MulDivRound does, without its 32-bit limits.
int64_t MulDivRound64(int64_t A, int64_t B, int64_t C)
{
    if (C == 0)
        return 0;
    __int128 p = __int128(A) * B;
    bool negative = (p < 0) != (C < 0);
    unsigned __int128 mp = p < 0 ? -(unsigned __int128)p : (unsigned __int128)p;
    unsigned __int128 mc = C < 0 ? (unsigned __int128)(-(__int128)C) : (unsigned __int128)C;
    unsigned __int128 q = mp / mc, r = mp % mc;
    if (mc - r <= r)
        ++q;
    constexpr unsigned __int128 limit = (unsigned __int128)1 << 62;
    if (q > limit)
        q = limit;
    return negative ? -int64_t(q) : int64_t(q);
}

int32_t Saturate(int64_t V)
{
    if (V < std::numeric_limits<int32_t>::min())
        return std::numeric_limits<int32_t>::min();
    if (V > std::numeric_limits<int32_t>::max())
        return std::numeric_limits<int32_t>::max();
    return int32_t(V);
}

} // namespace

bool ClipSegmentToRect(int32_t& X1, int32_t& Y1, int32_t& X2, int32_t& Y2, int32_t MinX, int32_t MinY, int32_t MaxX,
                       int32_t MaxY)
{
    int64_t x1 = X1, y1 = Y1, x2 = X2, y2 = Y2;
    auto code = [&](int64_t x, int64_t y) { return HorzCode(x, MinX, MaxX) | VertCode(y, MinY, MaxY); };
    auto store = [&] {
        X1 = Saturate(x1);
        Y1 = Saturate(y1);
        X2 = Saturate(x2);
        Y2 = Saturate(y2);
    };
    uint32_t c1 = code(x1, y1), c2 = code(x2, y2);
    if ((c1 & c2) != 0 || (c1 | c2) == 0) {
        store();
        return (c1 | c2) == 0;
    }
    // Ends beyond the top or bottom move onto that edge.
    auto moveVert = [&](int64_t& x, int64_t& y, uint32_t& c) {
        if (c & (ocTop | ocBottom)) {
            int64_t edge = (c & ocTop) ? MinY : MaxY;
            x += MulDivRound64(edge - y, x2 - x1, y2 - y1);
            y = edge;
            c = HorzCode(x, MinX, MaxX);
        }
    };
    moveVert(x1, y1, c1);
    moveVert(x2, y2, c2);
    if ((c1 & c2) != 0 || (c1 | c2) == 0) {
        store();
        return (c1 | c2) == 0;
    }
    // Then ends beyond the left or right onto that edge.
    auto moveHorz = [&](int64_t& x, int64_t& y, uint32_t c) {
        if (c & (ocLeft | ocRight)) {
            int64_t edge = (c & ocLeft) ? MinX : MaxX;
            y += MulDivRound64(edge - x, y2 - y1, x2 - x1);
            x = edge;
        }
    };
    moveHorz(x1, y1, c1);
    moveHorz(x2, y2, c2);
    store();
    return true;
}

} // namespace kv
