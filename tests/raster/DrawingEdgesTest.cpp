// Outlines and matrices on the sides a symmetric case would hide: the right column of a
// frame, and a skew whose two factors differ.
#include "raster/Raster32.h"
#include "raster/Raster32_Transforms.h"

#include <gtest/gtest.h>

using namespace kv;

TEST(FrameRect, OutlineTakesTheLastColumnAndRowInside)
{
    // (1, 1)-(5, 4) on 7 x 6: rows 1 and 3, columns 1 and 4 (the right side is X2 - 1).
    TBitmap32 B;
    B.SetSize(7, 6);
    B.ClearTo(0xFF000000);
    B.FrameRectClipped(1, 1, 5, 4, 0xFFFFFFFF);
    for (int Y = 0; Y < 6; ++Y)
        for (int X = 0; X < 7; ++X) {
            const bool Edge = X >= 1 && X <= 4 && Y >= 1 && Y <= 3 && (X == 1 || X == 4 || Y == 1 || Y == 3);
            EXPECT_EQ(B.GetPixelFast(X, Y), Edge ? 0xFFFFFFFFu : 0xFF000000u) << X << "," << Y;
        }
    // Half off the right side: the clipped part is simply not drawn.
    B.ClearTo(0xFF000000);
    B.FrameRectClipped(4, 0, 9, 3, 0xFFFFFFFF);
    EXPECT_EQ(B.GetPixelFast(4, 1), 0xFFFFFFFFu);
    EXPECT_EQ(B.GetPixelFast(6, 0), 0xFFFFFFFFu);
    EXPECT_EQ(B.GetPixelFast(6, 1), 0xFF000000u);
    EXPECT_EQ(B.GetPixelFast(6, 2), 0xFFFFFFFFu);
}

TEST(AffineSkew, EachFactorGoesToItsOwnElement)
{
    // Skew(Fx, Fy): T[1][0] = Fx, T[0][1] = Fy, so x' = x + Fx y and y' = Fy x + y.
    TAffineTransformation T;
    T.Skew(0.5f, 0.25f);
    EXPECT_FLOAT_EQ(T.Matrix()[1][0], 0.5f);
    EXPECT_FLOAT_EQ(T.Matrix()[0][1], 0.25f);
    EXPECT_FLOAT_EQ(T.Matrix()[0][0], 1.0f);
    EXPECT_FLOAT_EQ(T.Matrix()[1][1], 1.0f);
    // The source (0, 0, 8, 4) lands on x 0..10, y 0..6: bounds widened by half a pixel.
    T.SetSourceRect(TSingleRect{0, 0, 8, 4});
    EXPECT_EQ(T.GetDestBounds(), (TRect{0, 0, 10, 6}));
    // Back from (6, 3): x = (6 - 0.5 * 3) / 0.875 = 5.14, y = (3 - 0.25 * 6) / 0.875 = 1.71,
    // in 20.12 steps rounded to (5, 2).
    int32_t Sx = 0, Sy = 0;
    T.ReverseMapInt(6, 3, Sx, Sy);
    EXPECT_EQ(Sx, 5);
    EXPECT_EQ(Sy, 2);
}
