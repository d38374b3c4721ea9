// Geometry helpers on pictures that are not square, where a width and a height can be
// told apart.
#include "fx/GeometryRoutines.h"

#include "raster/Raster32.h"

#include <gtest/gtest.h>

using namespace kv;

TEST(ClampToBitmap, EachSideIsHeldToItsOwnAxis)
{
    TBitmap32 B;
    B.SetSize(10, 6);
    struct Case {
        TRect In, Want;
    };
    const Case Cases[] = {
        {{2, 3, 20, 20}, {2, 3, 10, 6}}, {{-4, -1, 5, 4}, {0, 0, 5, 4}},
        {{8, 5, 1, 2}, {1, 2, 8, 5}},                                   // corners in either order
        {{0, 0, 10, 6}, {0, 0, 10, 6}},  {{3, 7, 9, 12}, {0, 0, 0, 0}}, // wholly below the picture
        {{11, 1, 15, 4}, {0, 0, 0, 0}},                                 // wholly right of it
        {{2, -9, 12, 8}, {2, 0, 10, 6}},
    };
    for (const Case& C : Cases)
        EXPECT_EQ(ClampToBitmap(B, C.In), C.Want)
            << C.In.Left << "," << C.In.Top << "," << C.In.Right << "," << C.In.Bottom;
}
